// Times saving a finished book again, and splitting it into its chapters,
// against cp of the same file on the same disk, in turns, and gives the
// median of the pairs' ratios: bench_bookfile [HOURS] [ROUNDS]. A save ends
// by renaming the new file over the book, which makes ext4 set aside the
// new file's blocks at once; cp followed by mv over an older copy is timed
// too, for what that alone costs. The books
// are AAC (.m4b) and MP3 at 64 kbit/s, 44.1 kHz mono, made by ffmpeg with a
// chapter every ten minutes.
#include "AacTrackWriter.h"
#include "BookSaver.h"
#include "BookSplitter.h"
#include "Mp4AudioTrack.h"
#include "TestCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

qint64 timed(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.elapsed();
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

QString makeBook(const TestEnvironment& environment, int hours, const QString& extension,
                 BookTag& tag)
{
    const QString ffmpeg = QStringLiteral(FABLEWICK_FFMPEG);
    const QString piece = environment.root() + u"/piece."_s + extension;
    const QString metadata = environment.root() + u"/chapters.ffmetadata"_s;
    QString book = environment.root() + u"/book."_s + extension;
    QByteArray text = ";FFMETADATA1\ntitle=A Long Book\n";
    tag = BookTag{};
    tag.title = u"A Long Book, Revised"_s;
    for (int i = 0; i < hours * 6; ++i) {
        const qint64 start = qint64{i} * 600'000;
        text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + QByteArray::number(start) +
                "\nEND=" + QByteArray::number(start + 600'000) + "\ntitle=Chapter " +
                QByteArray::number(i + 1) + "\n";
        tag.chapters.append({.title = u"Part %1"_s.arg(i + 1),
                             .startMs = static_cast<quint32>(start + (i > 0 ? 2000 : 0)),
                             .endMs = static_cast<quint32>(start + 600'000)});
    }
    writeFile(metadata, text);
    // Ten minutes of noise, encoded once, then repeated by copying its packets.
    QProcess::execute(ffmpeg, {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                               u"anoisesrc=color=pink:amplitude=0.3:duration=600"_s, u"-ac"_s,
                               u"1"_s, u"-ar"_s, u"44100"_s, u"-c:a"_s,
                               extension == u"mp3"_s ? u"libmp3lame"_s : u"aac"_s, u"-b:a"_s,
                               u"64k"_s, u"-y"_s, piece});
    if (extension == u"mp3"_s) {
        QProcess::execute(ffmpeg,
                          {u"-v"_s, u"error"_s, u"-stream_loop"_s, QString::number(hours * 6 - 1),
                           u"-i"_s, piece, u"-i"_s, metadata, u"-map"_s, u"0"_s, u"-map_metadata"_s,
                           u"1"_s, u"-map_chapters"_s, u"1"_s, u"-c"_s, u"copy"_s, u"-y"_s, book});
        return book;
    }
    // The AAC frames repeated as our own copy writes them, each 1024 samples
    // long, which ffmpeg's loop does not keep at the joins.
    const Mp4AudioTrack track = Mp4AudioTrack::read(piece);
    QFile in(piece);
    in.open(QIODevice::ReadOnly);
    QByteArray frames;
    std::size_t at = 0;
    for (std::size_t c = 0; c < track.chunkOffsets.size(); ++c) {
        quint64 bytes = 0;
        for (quint32 f = 0; f < track.chunkFrames[c]; ++f)
            bytes += track.sizes[at + f];
        in.seek(static_cast<qint64>(track.chunkOffsets[c]));
        frames += in.read(static_cast<qint64>(bytes));
        at += track.chunkFrames[c];
    }
    AacTrackWriter writer(book);
    writer.setFormat(track.audioConfig, track.sampleRate, track.channels);
    for (int i = 0; i < hours * 6; ++i)
        writer.append(frames, track.sizes);
    writer.finish(track.priming, track.padding);
    return book;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int hours = argc > 1 ? std::atoi(argv[1]) : 10;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    TestEnvironment environment;
    for (const QString& extension : {u"m4b"_s, u"mp3"_s}) {
        std::printf("making a %d-hour .%s book...\n", hours, qPrintable(extension));
        BookTag tag;
        const QString book = makeBook(environment, hours, extension, tag);
        const QString copy = environment.root() + u"/copy"_s;
        const QString folder = environment.root() + u"/chapters"_s;
        QList<qint64> save;
        QList<qint64> split;
        QList<qint64> cp;
        QList<qint64> cpMv;
        const QString older = environment.root() + u"/older"_s;
        QFile::copy(book, older);
        QList<qint64> savePermille;
        QList<qint64> splitPermille;
        for (int round = 0; round < rounds; ++round) {
            QFile::remove(copy);
            cp << timed([&] { QProcess::execute(u"cp"_s, {book, copy}); });
            cpMv << timed([&] {
                QProcess::execute(u"cp"_s, {book, copy + u"2"_s});
                QProcess::execute(u"mv"_s, {copy + u"2"_s, older});
            });
            save << timed([&] { BookSaver::save(book, book, tag); });
            split << timed([&] { (void)BookSplitter::split(book, folder, tag, {}); });
            QDir(folder).removeRecursively();
            savePermille << save.constLast() * 1000 / std::max<qint64>(1, cp.constLast());
            splitPermille << split.constLast() * 1000 / std::max<qint64>(1, cp.constLast());
        }
        std::printf("book: %d h, %.0f MB, %d chapters\n", hours, QFile(book).size() / 1e6,
                    hours * 6);
        std::printf("cp:    median %lld ms\n", static_cast<long long>(median(cp)));
        std::printf("cp, then mv over an older copy: median %lld ms\n",
                    static_cast<long long>(median(cpMv)));
        std::printf("save:  median %lld ms, %.2f of cp (median of %d pairs)\n",
                    static_cast<long long>(median(save)), double(median(savePermille)) / 1000,
                    rounds);
        std::printf("split: median %lld ms, %.2f of cp (median of %d pairs)\n",
                    static_cast<long long>(median(split)), double(median(splitPermille)) / 1000,
                    rounds);
    }
    return 0;
}
