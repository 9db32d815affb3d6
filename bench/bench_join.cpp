// Lists and joins generated, tagged MP3 files at two sizes of list, 200 and
// 1000 unless others are given, and reports each cost per file side by side,
// so that a cost growing faster than the list shows: the joiner next to one
// cat of the same files, adding the files to the list with their details
// (tags included), the longest stall of the window while they are added, and
// the check, the exact lengths and the tags that are read besides.
#include "Mp3Frames.h"
#include "Mp3Joiner.h"
#include "SourceTags.h"
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Costs
{
    qint64 cat = 0;
    qint64 join = 0;
    qint64 add = 0;
    qint64 stall = 0;
    qint64 check = 0;
    qint64 measure = 0;
    qint64 tags = 0;
    bool ok = true;
};

Costs measureList(const QStringList& paths, const QString& work)
{
    Costs costs;
    QElapsedTimer clock;
    clock.start();
    QProcess cat;
    cat.setStandardOutputFile(work + u"/direct.mp3"_s);
    cat.start(u"cat"_s, paths);
    cat.waitForFinished(-1);
    costs.cat = clock.elapsed();

    ItemList records;
    for (const QString& path : paths) {
        auto record = std::make_shared<ItemRecord>();
        record->pathColumn = path;
        records.append(record);
    }
    std::atomic<bool> failed = false;
    std::atomic<bool> done = false;
    Mp3Joiner joiner;
    joiner.setOutputFolder(work);
    joiner.setOutputFile(u"mp3"_s);
    joiner.setJoinFiles(records);
    clock.restart();
    joiner.startJoin({.progress = {}, .finished = [&](const std::exception_ptr& e) {
                          failed = bool(e);
                          done = true;
                      }});
    while (!done)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    costs.join = clock.elapsed();
    costs.ok = !failed && readFile(work + u"/mp3.mp3"_s) == readFile(work + u"/direct.mp3"_s);

    // The longest time the window cannot answer while the files are listed
    // and their details read: the widest gap between turns of the event loop.
    TestApp testApp;
    QElapsedTimer sinceTurn;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout,
                     [&] { costs.stall = std::max(costs.stall, sinceTurn.restart()); });
    turns.start(0);
    clock.restart();
    sinceTurn.start();
    testApp.controller->applicationOpenFiles(paths);
    costs.stall = std::max(costs.stall, sinceTurn.elapsed());
    // A real event loop, as the application's: QTest's waits turn it once
    // and sleep, which leaves a zero timer no turn while results arrive.
    QEventLoop loop;
    auto* summary = control<QLabel>(*testApp.controller, u"listSummary"_s);
    QTimer listed;
    QObject::connect(&listed, &QTimer::timeout, [&] {
        if (!summary->text().contains(u"reading"_s))
            loop.quit();
    });
    listed.start(5);
    loop.exec();
    costs.add = clock.elapsed();
    turns.stop();

    clock.restart();
    for (const QString& path : paths)
        costs.ok = Mp3Frames::check(path).isAudio() && costs.ok;
    costs.check = clock.elapsed();
    clock.restart();
    for (const QString& path : paths)
        costs.ok = Mp3Frames::measure(path).has_value() && costs.ok;
    costs.measure = clock.elapsed();
    clock.restart();
    for (const QString& path : paths)
        costs.ok = SourceTags::read(path).title == u"Track"_s && costs.ok;
    costs.tags = clock.elapsed();
    return costs;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {200, 1000};
    TestEnvironment environment;
    const int most = *std::max_element(sizes.begin(), sizes.end());
    std::printf("making %d MP3 files...\n", most);
    QStringList paths;
    for (int i = 0; i < most; ++i) {
        paths << environment.sources() + u"/track %1.mp3"_s.arg(i, 4, 10, QLatin1Char('0'));
        // Tagged, with a cover in every tenth, as collections are.
        SourceRecipe recipe;
        recipe.options = {u"-b:a"_s, u"32k"_s};
        recipe.tags = {{u"title"_s, u"Track"_s}, {u"album"_s, u"Benchmark"_s},
                     {u"track"_s, QString::number(i + 1)}};
        recipe.coverSize = i % 10 == 0 ? 600 : 0;
        if (!makeSource(paths.constLast(), 3, 440, 22050, 1, recipe))
            return 1;
    }

    std::vector<Costs> results;
    for (const int size : sizes) {
        const QString work = environment.root() + u"/work %1"_s.arg(size);
        QDir().mkpath(work);
        results.push_back(measureList(paths.mid(0, size), work));
    }

    std::printf("\n%-34s", "ms a file (ms in all)");
    for (const int size : sizes)
        std::printf(" %20s", qPrintable(u"%1 files"_s.arg(size)));
    const auto row = [&](const char* name, qint64 Costs::*cost) {
        std::printf("\n%-34s", name);
        for (std::size_t i = 0; i < sizes.size(); ++i)
            std::printf(" %11.2f (%6lld)", double(results[i].*cost) / sizes[i],
                        static_cast<long long>(results[i].*cost));
    };
    row("one cat of the files", &Costs::cat);
    row("the joiner (time query, cat)", &Costs::join);
    row("adding to the list, details too", &Costs::add);
    row("checking each file for audio", &Costs::check);
    row("measuring each file exactly", &Costs::measure);
    row("reading each file's tags", &Costs::tags);
    std::printf("\n%-34s", "longest stall of the window (ms)");
    for (const Costs& costs : results)
        std::printf(" %20lld", static_cast<long long>(costs.stall));
    std::printf("\n");
    const bool ok = std::all_of(results.begin(), results.end(), [](const Costs& c) { return c.ok; });
    if (!ok)
        std::printf("SOMETHING FAILED: a join differs from cat, or a file was not listed\n");
    return ok ? 0 : 1;
}
