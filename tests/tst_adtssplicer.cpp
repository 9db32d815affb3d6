#include "AdtsSplicer.h"
#include "Mp4AudioTrack.h"
#include "Mp4Chapters.h"
#include "TestCore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QtEndian>

using namespace Qt::Literals::StringLiterals;

namespace {

bool ffmpeg(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral(FABLEWICK_FFMPEG),
                             QStringList{u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s} +
                                 arguments) == 0;
}

// Two ADTS streams of noise, as the parts of a split encode are.
QStringList makeParts(const QString& folder, int rate, const QString& seconds)
{
    QStringList parts;
    for (int k = 1; k <= 2; ++k) {
        parts << folder + u"/part%1.aac"_s.arg(k);
        ffmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s,
                u"anoisesrc=color=pink:amplitude=0.3:seed=%1:duration=%2:sample_rate=%3"_s.arg(k)
                    .arg(seconds)
                    .arg(rate),
                u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"48k"_s, u"-f"_s, u"adts"_s, parts.constLast()});
    }
    return parts;
}

// The frames of an ADTS stream, as ffprobe counts them.
qsizetype frames(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral(FABLEWICK_FFPROBE),
                  {u"-v"_s, u"error"_s, u"-count_packets"_s, u"-show_entries"_s,
                   u"stream=nb_read_packets"_s, u"-of"_s, u"csv=p=0"_s, path});
    ffprobe.waitForFinished(60000);
    return ffprobe.readAllStandardOutput().trimmed().toLongLong();
}

} // namespace

class TestAdtsSplicer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The frames, with the first one's priming skipped, decode exactly as
    // the same frames wrapped by ffmpeg, and every reader knows the file.
    void theBookDecodesAsFfmpegsWrappingOfTheSameFrames()
    {
        TestEnvironment environment;
        const QStringList parts = makeParts(environment.root(), 44100, u"7"_s);
        const QString book = environment.root() + u"/book.m4a"_s;
        AdtsSplicer::writeM4a({{.path = parts[0], .droppedFrames = 0, .keptFrames = -1},
                               {.path = parts[1], .droppedFrames = 0, .keptFrames = -1}},
                              book);
        QVERIFY(writeFile(environment.root() + u"/both.aac"_s,
                          readFile(parts[0]) + readFile(parts[1])));
        const QString reference = environment.root() + u"/reference.m4a"_s;
        QVERIFY(ffmpeg({u"-itsoffset"_s, u"-0.023220"_s, u"-i"_s,
                        environment.root() + u"/both.aac"_s, u"-c"_s, u"copy"_s, reference}));
        const QList<qint16> ours = decodeMono(book, 44100);
        QVERIFY(ours.size() > 44100 * 13);
        QCOMPARE(ours, decodeMono(reference, 44100));

        const QJsonObject info = probe(book);
        const QJsonObject stream = info[u"streams"_s].toArray().at(0).toObject();
        QCOMPARE(stream[u"codec_name"_s].toString(), u"aac"_s);
        QCOMPARE(stream[u"sample_rate"_s].toString(), u"44100"_s);
        QCOMPARE(stream[u"channels"_s].toInt(), 1);
        QVERIFY(qAbs(info[u"format"_s][u"duration"_s].toString().toDouble() -
                     double(ours.size()) / 44100) < 0.002);
        QProcess mediainfo;
        mediainfo.start(u"mediainfo"_s, {u"--Inform=Audio;%Format% %SamplingRate%"_s, book});
        QVERIFY(mediainfo.waitForFinished(30000));
        QCOMPARE(mediainfo.readAllStandardOutput().trimmed(), QByteArray("AAC 44100"));

        // Frames dropped and kept: 200 of the first, all but 65 of the second,
        // less the first one's priming.
        AdtsSplicer::writeM4a({{.path = parts[0], .droppedFrames = 0, .keptFrames = 200},
                               {.path = parts[1], .droppedFrames = 65, .keptFrames = -1}},
                              book);
        QCOMPARE(decodeMono(book, 44100).size(),
                 (200 + frames(parts[1]) - 65 - 1) * 1024);
    }

    // 13 hours at 96 kHz count more samples than 32 bits hold.
    void aBookPastFourBillionSamples()
    {
        TestEnvironment environment;
        const QStringList parts = makeParts(environment.root(), 96000, u"10"_s);
        const QString longPart = environment.root() + u"/long.aac"_s;
        QVERIFY(ffmpeg({u"-stream_loop"_s, u"4700"_s, u"-i"_s, parts[0], u"-c"_s, u"copy"_s,
                        u"-f"_s, u"adts"_s, longPart}));
        const QString book = environment.root() + u"/book.m4a"_s;
        AdtsSplicer::writeM4a({{.path = longPart, .droppedFrames = 0, .keptFrames = -1}}, book);
        const double length = probe(book)[u"format"_s][u"duration"_s].toString().toDouble();
        const double expected = double(4701 * frames(parts[0]) - 1) * 1024 / 96000;
        QVERIFY2(qAbs(length - expected) < 0.01,
                 qPrintable(u"%1 against %2"_s.arg(length).arg(expected)));
    }

    void theAacTrackOfAnMp4FileIsRead_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<qint64>("priming");
        QTest::addColumn<QString>("reason");
        const QStringList aac{u"-c:a"_s, u"aac"_s, u"-f"_s, u"mp4"_s};
        QTest::newRow("as ffmpeg writes it") << aac << qint64(1024) << QString();
        QTest::newRow("header first") << aac + QStringList{u"-movflags"_s, u"+faststart"_s}
                                      << qint64(1024) << QString();
        QTest::newRow("with chapters") << aac + QStringList{u"-map_chapters"_s, u"1"_s}
                                       << qint64(1024) << QString();
        QTest::newRow("no edit list") << aac + QStringList{u"-use_editlist"_s, u"0"_s}
                                      << qint64(0) << QString();
        QTest::newRow("ADTS") << QStringList{u"-c:a"_s, u"aac"_s, u"-f"_s, u"adts"_s} << qint64(0)
                              << u"it is not an MP4 file"_s;
        QTest::newRow("MP3 in MP4") << QStringList{u"-c:a"_s, u"libmp3lame"_s, u"-f"_s, u"mp4"_s}
                                    << qint64(0) << u"its audio is not MPEG-4 AAC"_s;
    }

    // What a book needs to copy the frames: where each lies, the decoder's
    // configuration and what the edit trims, as ffprobe sees them too.
    void theAacTrackOfAnMp4FileIsRead()
    {
        QFETCH(QStringList, options);
        QFETCH(qint64, priming);
        QFETCH(QString, reason);
        TestEnvironment environment;
        const QString chapters = environment.root() + u"/chapters.txt"_s;
        QVERIFY(writeFile(chapters, ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=900\n"
                                    "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=900\nEND=2300\n"
                                    "title=Two\n"));
        const QString file = environment.root() + u"/file.m4a"_s;
        QVERIFY(ffmpeg(QStringList{u"-f"_s, u"lavfi"_s, u"-i"_s,
                                   u"sine=frequency=500:duration=2.3:sample_rate=22050"_s, u"-i"_s,
                                   chapters, u"-ac"_s, u"2"_s} +
                       options + QStringList{file}));
        try {
            const Mp4AudioTrack track = Mp4AudioTrack::read(file);
            QVERIFY2(reason.isEmpty(), "read what it should not");
            QCOMPARE(track.sampleRate, 22050);
            QCOMPARE(track.channels, 2);
            QCOMPARE(track.audioConfig.first(2).toHex(), QByteArray("1390"));
            QCOMPARE(track.priming, priming);
            QProcess ffprobe;
            ffprobe.start(QStringLiteral(FABLEWICK_FFPROBE),
                          {u"-v"_s, u"error"_s, u"-select_streams"_s, u"a"_s, u"-show_entries"_s,
                           u"packet=size"_s, u"-of"_s, u"csv=p=0"_s, file});
            QVERIFY(ffprobe.waitForFinished(60000));
            QList<quint32> probed;
            // The priming frame has side data, on a line of its own.
            for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
                if (!line.trimmed().isEmpty())
                    probed << line.split(',').first().toUInt();
            }
            QCOMPARE(QList<quint32>(track.sizes.begin(), track.sizes.end()), probed);
            const QJsonObject stream = probe(file)[u"streams"_s][0].toObject();
            if (priming > 0)
                QCOMPARE(qint64(track.sizes.size()) * 1024 - track.priming - track.padding,
                         stream[u"duration_ts"_s].toInteger());
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), reason);
        }
    }

    void theChaptersOfAnMp4FileAreReadAsFfprobeReadsThem_data()
    {
        QTest::addColumn<QStringList>("options");
        // Renamed in the file, so that only the other form is left.
        QTest::addColumn<QByteArray>("hidden");
        QTest::addColumn<bool>("byChapterTool");
        QTest::newRow("QuickTime and Nero") << QStringList() << QByteArray() << false;
        QTest::newRow("header first")
            << QStringList{u"-movflags"_s, u"+faststart"_s} << QByteArray() << false;
        QTest::newRow("Nero alone") << QStringList() << QByteArray("chap") << false;
        QTest::newRow("QuickTime alone") << QStringList() << QByteArray("chpl") << false;
        QTest::newRow("none") << QStringList{u"-map_chapters"_s, u"-1"_s} << QByteArray() << false;
        QTest::newRow("by our chapter tool")
            << QStringList{u"-map_chapters"_s, u"-1"_s} << QByteArray() << true;
    }

    // A listed MP4 file's chapters come from our reader, not ffprobe's: the
    // two agree on every form that tools write.
    void theChaptersOfAnMp4FileAreReadAsFfprobeReadsThem()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, hidden);
        QFETCH(bool, byChapterTool);
        TestEnvironment environment;
        const QString chapters = environment.root() + u"/chapters.txt"_s;
        QVERIFY(writeFile(chapters, ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=900\n"
                                    "title=Één\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=900\nEND=2345\n"
                                    "title=Two = \\; two\n[CHAPTER]\nTIMEBASE=1/1000\n"
                                    "START=2345\nEND=4000\ntitle=\n"));
        QString file = environment.root() + u"/file.m4b"_s;
        QVERIFY(ffmpeg(QStringList{u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=duration=4"_s, u"-i"_s,
                                   chapters, u"-map"_s, u"0"_s, u"-c:a"_s, u"aac"_s} +
                       options + QStringList{file}));
        if (!hidden.isEmpty()) {
            QFile bytes(file);
            QVERIFY(bytes.open(QIODevice::ReadWrite));
            QByteArray all = bytes.readAll();
            QCOMPARE(all.count(hidden), 1);
            all.replace(hidden, "xxxx");
            QVERIFY(bytes.seek(0) && bytes.write(all) == all.size());
        }
        if (byChapterTool) {
            const QString xml = environment.root() + u"/chapters.xml"_s;
            QVERIFY(writeFile(xml, "<chapters version=\"1\"><chapter starttime=\"0:00.000\">"
                                   "<title>Ünë</title></chapter><chapter starttime=\"0:01.250\">"
                                   "<title>&lt;Two&gt;</title></chapter></chapters>"));
            const QString marked = environment.root() + u"/marked.m4b"_s;
            QCOMPARE(
                QProcess::execute(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR) + u"/ChapterTool"_s,
                                  {u"-x"_s, xml, u"-a"_s, file, u"-o"_s, marked}),
                0);
            file = marked;
        }
        const QJsonArray probed = probe(file)[u"chapters"_s].toArray();
        const ChapterMarks marks = Mp4Chapters::read(file);
        QCOMPARE(marks.size(), probed.size());
        for (qsizetype i = 0; i < marks.size(); ++i) {
            const QJsonObject chapter = probed.at(i).toObject();
            QVERIFY2(qAbs(marks[i].start - chapter[u"start_time"_s].toString().toDouble()) < 0.001,
                     qPrintable(u"chapter %1 at %2"_s.arg(i + 1).arg(marks[i].start)));
            QCOMPARE(marks[i].title, chapter[u"tags"_s][u"title"_s].toString());
        }
        QCOMPARE(marks.isEmpty(), hidden.isEmpty() && options.contains(u"-1"_s) && !byChapterTool);
    }

    void aCorruptFrameTableIsRefused_data()
    {
        QTest::addColumn<QByteArray>("box");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("reason");
        // Counts that would have the reader set aside gigabytes.
        QTest::newRow("frames of one size") << QByteArray("stsz") << 4
                                            << u"it has more frames than any book"_s;
        QTest::newRow("chunks") << QByteArray("stco") << 0 << u"its chunks do not add up"_s;
    }

    void aCorruptFrameTableIsRefused()
    {
        QFETCH(QByteArray, box);
        QFETCH(int, field);
        QFETCH(QString, reason);
        TestEnvironment environment;
        const QString file = environment.root() + u"/file.m4a"_s;
        QVERIFY(makeAac(file, 1.0));
        QByteArray bytes = readFile(file);
        // After the box's type come its version and flags, then its fields.
        const qsizetype at = bytes.indexOf(box) + 8;
        QVERIFY(at > 8);
        qToBigEndian<quint32>(1, bytes.data() + at);
        qToBigEndian<quint32>(0xFFFFFFF0, bytes.data() + at + field);
        QVERIFY(writeFile(file, bytes));
        try {
            (void)Mp4AudioTrack::read(file);
            QFAIL("read a corrupt file");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), reason);
        }
    }

    void whatCannotBeSplicedIsSaid_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<qint64>("kept");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not AAC") << QByteArray(2000, 'x') << qint64(-1)
                                 << u"it is not an AAC stream"_s;
        QTest::newRow("shorter than planned") << QByteArray() << qint64(100000)
                                              << u"part 1 is shorter than planned"_s;
    }

    void whatCannotBeSplicedIsSaid()
    {
        QFETCH(QByteArray, stream);
        QFETCH(qint64, kept);
        QFETCH(QString, reason);
        TestEnvironment environment;
        QString part = environment.root() + u"/part.aac"_s;
        if (stream.isEmpty())
            part = makeParts(environment.root(), 22050, u"1"_s).at(0);
        else
            QVERIFY(writeFile(part, stream));
        const QString book = environment.root() + u"/book.m4a"_s;
        try {
            AdtsSplicer::writeM4a({{.path = part, .droppedFrames = 0, .keptFrames = kept}}, book);
            QFAIL("no failure");
        } catch (const std::exception& e) {
            QCOMPARE(QString::fromUtf8(e.what()), reason);
        }
        QVERIFY(!QFile::exists(book));
    }
};

QTEST_GUILESS_MAIN(TestAdtsSplicer)
#include "tst_adtssplicer.moc"
