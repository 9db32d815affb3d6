// Joins 200 generated MP3 files with the joiner and reports its time next to
// one cat of the same files, how long adding the 200 files to the list takes,
// and the longest stall of the window while they are added.
#include "Mp3Frames.h"
#include "Mp3Joiner.h"
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {
struct Quiet final : mp3JoinerDelegate
{
    void mp3JoinProgress(int, int) override {}
    void mp3JoinDidFinish(Mp3Joiner*, std::exception_ptr e) override { failed = bool(e); }
    bool failed = false;
};
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    TestEnvironment environment;
    std::printf("making %d MP3 files...\n", count);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        paths << environment.sources() + u"/track %1.mp3"_s.arg(i, 3, 10, QLatin1Char('0'));
        if (!makeMp3(paths.constLast(), 3, 22050, 1, 32))
            return 1;
    }

    QElapsedTimer clock;
    clock.start();
    QProcess cat;
    cat.setStandardOutputFile(environment.root() + u"/direct.mp3"_s);
    cat.start(u"cat"_s, paths);
    cat.waitForFinished(-1);
    const qint64 direct = clock.elapsed();

    ItemList records;
    for (const QString& path : paths) {
        auto record = std::make_shared<ItemRecord>();
        record->pathColumn = path;
        records.append(record);
    }
    const QString work = environment.root() + u"/work"_s;
    QDir().mkpath(work);
    Quiet delegate;
    Mp3Joiner joiner;
    joiner.setDelegate(&delegate);
    joiner.setOutputFolder(work);
    joiner.setOutputFile(u"mp3"_s);
    joiner.setJoinFiles(records);
    clock.restart();
    joiner.startJoin();
    const qint64 joined = clock.elapsed();
    const bool same =
        readFile(work + u"/mp3.mp3"_s) == readFile(environment.root() + u"/direct.mp3"_s);

    // The longest time the window cannot answer while the files are listed
    // and their lengths read: the widest gap between turns of the event loop.
    TestApp testApp;
    QElapsedTimer sinceTurn;
    qint64 longestStall = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, sinceTurn.restart());
    });
    turns.start(0);
    clock.restart();
    sinceTurn.start();
    testApp.controller->applicationOpenFiles(paths);
    longestStall = std::max(longestStall, sinceTurn.elapsed());
    const bool listed = waitUntilListed(*testApp.controller);
    const qint64 added = clock.elapsed();
    turns.stop();

    // What a run adds for its check of the files and for their exact lengths.
    clock.restart();
    int audio = 0;
    for (const QString& path : paths)
        audio += Mp3Frames::inspect(path).isAudio() ? 1 : 0;
    const qint64 checked = clock.elapsed();
    clock.restart();
    double total = 0;
    for (const QString& path : paths)
        total += Mp3Frames::measure(path).seconds();
    const qint64 measured = clock.elapsed();

    std::printf("one cat of %d files:      %6lld ms\n", count, static_cast<long long>(direct));
    std::printf("joiner (time query + cat): %6lld ms  (%.1f ms a file)%s\n",
                static_cast<long long>(joined), double(joined) / count,
                same && !delegate.failed ? "" : "  OUTPUT DIFFERS");
    std::printf("adding %d files to list:  %6lld ms  (%.1f ms a file, lengths included)\n",
                count, static_cast<long long>(added), double(added) / count);
    std::printf("longest GUI stall adding them: %lld ms%s\n",
                static_cast<long long>(longestStall), listed ? "" : "  NOT ALL LISTED");
    std::printf("checking %d files for audio: %4lld ms  (%d hold audio)\n", count,
                static_cast<long long>(checked), audio);
    std::printf("measuring %d files exactly: %4lld ms  (%.3f s in all)\n", count,
                static_cast<long long>(measured), total);
    return same && !delegate.failed && audio == count ? 0 : 1;
}
