// Opens 1,000 and 5,000 MP3 files at once in the window, as a user dropping
// a collection does, and reports when the rows are all listed and when all
// their lengths are read, so that listing that grows faster than the files
// shows. Targets: 1,000 files listed in 3 s and read in 7 s, and 5,000 in
// no more than six times the time of 1,000.
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Times
{
    qint64 rows = -1;
    qint64 lengths = -1;
};

Times listThroughTheWindow(const QStringList& paths)
{
    TestApp testApp;
    AppController& c = *testApp.controller;
    auto* table = control<QTableView>(c, u"mainTable"_s);
    auto* summary = control<QLabel>(c, u"listSummary"_s);
    Times times;
    QElapsedTimer clock;
    // A real event loop, as the application's: the window redraws and the
    // results arrive between the checks.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (times.rows < 0 && table->model()->rowCount() == paths.size())
            times.rows = clock.elapsed();
        if (times.rows >= 0 && !summary->text().contains(u"reading"_s)) {
            times.lengths = clock.elapsed();
            loop.quit();
        }
        if (clock.elapsed() > 600000)
            loop.quit();
    });
    c.window()->show();
    clock.start();
    c.applicationOpenFiles(paths);
    check.start(5);
    loop.exec();
    return times;
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
        sizes = {1000, 5000};
    TestEnvironment environment;
    const int most = *std::max_element(sizes.begin(), sizes.end());

    // Twenty tagged recordings, each copied under many names: what matters
    // is the count of files, not how each one sounds.
    constexpr int kinds = 20;
    std::printf("making %d MP3 files...\n", most);
    QStringList made;
    for (int i = 0; i < kinds; ++i) {
        made << environment.root() + u"/made %1.mp3"_s.arg(i);
        SourceRecipe recipe;
        recipe.options = {u"-b:a"_s, u"32k"_s};
        recipe.tags = {{u"title"_s, u"Track %1"_s.arg(i)},
                       {u"album"_s, u"Benchmark"_s},
                       {u"artist"_s, u"Reader"_s}};
        recipe.coverSize = i == 0 ? 600 : 0;
        if (!makeSource(made.constLast(), 2 + i % 3, 440, 22050, 1, recipe))
            return 1;
    }
    QStringList paths;
    for (int i = 0; i < most; ++i) {
        paths << environment.sources() + u"/%1 part.mp3"_s.arg(i + 1, 5, 10, QLatin1Char('0'));
        if (!QFile::copy(made.at(i % kinds), paths.constLast()))
            return 1;
    }

    std::vector<Times> results;
    for (const int size : sizes)
        results.push_back(listThroughTheWindow(paths.mid(0, size)));

    std::printf("\n%-10s %14s %14s %16s\n", "files", "rows (ms)", "lengths (ms)",
                "lengths/file (ms)");
    bool ok = true;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const Times& t = results[i];
        ok = ok && t.rows >= 0 && t.lengths >= 0;
        std::printf("%-10d %14lld %14lld %16.2f\n", sizes[i], static_cast<long long>(t.rows),
                    static_cast<long long>(t.lengths), double(t.lengths) / sizes[i]);
    }
    if (sizes.size() == 2 && results[0].lengths > 0) {
        std::printf("\n%d files take %.2f times as long as %d to list, %.2f times to read\n",
                    sizes[1],
                    double(results[1].rows) / double(std::max<qint64>(1, results[0].rows)),
                    sizes[0], double(results[1].lengths) / double(results[0].lengths));
    }
    if (!ok)
        std::printf("SOMETHING FAILED: not every file was listed and read in ten minutes\n");
    return ok ? 0 : 1;
}
