// Times the chapter step on a long book against cp of the same file on the
// same disk, in turns, and gives the median of the pairs' ratios:
// bench_chapters [HOURS] [ROUNDS]. The book is AAC at
// 64 kbit/s, 44.1 kHz mono, with a chapter every ten minutes.
#include "ChapterList.h"
#include "Resources.h"
#include "TestCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

qint64 timed(const QString& program, const QStringList& arguments)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return clock.elapsed();
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int hours = argc > 1 ? std::atoi(argv[1]) : 10;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 11;
    TestEnvironment environment;
    const QString ffmpeg = QStringLiteral(FABLEWICK_FFMPEG);
    const QString piece = environment.root() + u"/piece.m4a"_s;
    const QString book = environment.root() + u"/book.m4a"_s;
    std::printf("making a %d-hour book...\n", hours);
    // Ten minutes of noise, encoded once, then repeated by copying its packets.
    QProcess::execute(ffmpeg, {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                               u"anoisesrc=color=pink:amplitude=0.3:duration=600"_s, u"-ac"_s,
                               u"1"_s, u"-ar"_s, u"44100"_s, u"-c:a"_s, u"aac"_s, u"-b:a"_s,
                               u"64k"_s, u"-y"_s, piece});
    QProcess::execute(ffmpeg, {u"-v"_s, u"error"_s, u"-stream_loop"_s,
                               QString::number(hours * 6 - 1), u"-i"_s, piece, u"-c"_s, u"copy"_s,
                               u"-y"_s, book});
    ItemList records;
    for (int i = 0; i < hours * 6; ++i) {
        auto record = std::make_shared<ItemRecord>();
        record->titleColumn = u"Chapter %1"_s.arg(i + 1);
        record->mins = u"10"_s;
        record->secs = u"0"_s;
        records << record;
    }
    const QString list = environment.root() + u"/Chapters.xml"_s;
    writeFile(list, ChapterList::xml(records));
    const QString tool = Resources::pathForResource(u"ChapterTool"_s, QString()).value_or(QString());
    const QString out = environment.root() + u"/book.m4b"_s;
    const QString copy = environment.root() + u"/copy.m4a"_s;

    QList<qint64> chapters;
    QList<qint64> cp;
    QList<qint64> permille;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(out);
        QFile::remove(copy);
        chapters << timed(tool, {u"-x"_s, list, u"-a"_s, book, u"-o"_s, out});
        QFile::remove(out);
        cp << timed(u"cp"_s, {book, copy});
        permille << chapters.constLast() * 1000 / std::max<qint64>(1, cp.constLast());
    }
    const qint64 size = QFile(book).size();
    std::printf("book: %d h, %.0f MB, %d chapters\n", hours, size / 1e6, hours * 6);
    std::printf("chapter tool: median %lld ms, fastest %lld ms\n",
                static_cast<long long>(median(chapters)),
                static_cast<long long>(*std::min_element(chapters.begin(), chapters.end())));
    std::printf("cp:           median %lld ms, fastest %lld ms\n",
                static_cast<long long>(median(cp)),
                static_cast<long long>(*std::min_element(cp.begin(), cp.end())));
    std::printf("chapter tool / cp, the median of %d pairs: %.2f\n", rounds,
                double(median(permille)) / 1000);
    return 0;
}
