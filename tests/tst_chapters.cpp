#include "ChapterFile.h"
#include "ChapterList.h"
#include "Resources.h"
#include "TestCore.h"
#include "chapterWriter.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <condition_variable>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

ItemRecordPtr record(const QString& title, const QString& mins, const QString& secs)
{
    auto r = std::make_shared<ItemRecord>();
    r->pathColumn = u"/s/"_s + title + u".mp3"_s;
    r->titleColumn = title;
    r->mins = mins;
    r->secs = secs;
    return r;
}

const QByteArray kOpening = R"(<?xml version="1.0" encoding="utf-8"?><chapters version="1">)";

QString chapterTool()
{
    return QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR) + u"/ChapterTool"_s;
}

int runTool(const QStringList& arguments, QByteArray* error = nullptr)
{
    QProcess tool;
    tool.start(chapterTool(), arguments);
    tool.waitForFinished(60000);
    if (error)
        *error = tool.readAllStandardError();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

using Recorder = RunEnd;

} // namespace

class TestChapters : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theListAddsUpStartTimesWithoutCarry()
    {
        QCOMPARE(ChapterList::xml({record(u"Intro"_s, u"3"_s, u"25"_s),
                                   record(u"Part One"_s, u"0"_s, u"50"_s),
                                   record(u"Part Two"_s, u"12"_s, u"15"_s)}),
                 kOpening + R"(<chapter starttime="0:0"><title>Intro</title></chapter>)"
                            R"(<chapter starttime="3:25"><title>Part One</title></chapter>)"
                            R"(<chapter starttime="3:75"><title>Part Two</title></chapter>)"
                            "</chapters>");
        QCOMPARE(ChapterList::xml({record(u"Only"_s, u"9"_s, u"9"_s)}),
                 kOpening + R"(<chapter starttime="0:0"><title>Only</title></chapter></chapters>)");
        QCOMPARE(ChapterList::xml({}), kOpening + "</chapters>");
        QCOMPARE(ChapterList::xml({record(u"a"_s, u"0"_s, u"40"_s), record(u"b"_s, u"0"_s, u"40"_s),
                                   record(u"c"_s, u"0"_s, u"40"_s)}),
                 kOpening + R"(<chapter starttime="0:0"><title>a</title></chapter>)"
                            R"(<chapter starttime="0:40"><title>b</title></chapter>)"
                            R"(<chapter starttime="0:80"><title>c</title></chapter></chapters>)");
        auto noTimes = record(u"x"_s, u""_s, u""_s);
        noTimes->mins.reset();
        noTimes->secs.reset();
        QCOMPARE(ChapterList::xml({noTimes, record(u"y"_s, u"1"_s, u"1"_s)}),
                 kOpening + R"(<chapter starttime="0:0"><title>x</title></chapter>)"
                            R"(<chapter starttime="0:0"><title>y</title></chapter></chapters>)");
    }

    // Measured lengths add up exactly; a file whose encoder delay is not
    // known starts its chapter where that delay usually ends.
    void exactLengthsGiveStartsToTheMillisecond()
    {
        auto measured = [](const QString& title, qint64 samples, qint64 leadIn) {
            auto r = record(title, u"0"_s, u"0"_s);
            r->exact = ItemRecord::Exact{.samples = samples, .leadIn = leadIn, .sampleRate = 1000};
            return r;
        };
        QCOMPARE(ChapterList::xml({measured(u"a"_s, 2351, 25), measured(u"b"_s, 57649, 0),
                                   measured(u"c"_s, 1000, 13), measured(u"d"_s, 1000, 0)}),
                 kOpening + R"(<chapter starttime="0:0"><title>a</title></chapter>)"
                            R"(<chapter starttime="0:2.351"><title>b</title></chapter>)"
                            R"(<chapter starttime="1:0.013"><title>c</title></chapter>)"
                            R"(<chapter starttime="1:1"><title>d</title></chapter></chapters>)");
        // One record without a measured length: the whole list keeps whole seconds.
        auto unmeasured = record(u"x"_s, u"0"_s, u"5"_s);
        QCOMPARE(ChapterList::xml({unmeasured, measured(u"y"_s, 1500, 0)}),
                 kOpening + R"(<chapter starttime="0:0"><title>x</title></chapter>)"
                            R"(<chapter starttime="0:5"><title>y</title></chapter></chapters>)");
    }

    void titlesAreUtf8AndEscapedForXml()
    {
        const QByteArray xml =
            ChapterList::xml({record(u"Ünïcødé “quoted” \"a\" <b> & c"_s, u"0"_s, u"1"_s)});
        QCOMPARE(xml,
                 kOpening + QString(u"<chapter starttime=\"0:0\"><title>Ünïcødé “quoted” \"a\" "
                                    u"&lt;b&gt; &amp; c</title></chapter></chapters>"_s)
                                .toUtf8());
        QVERIFY(!xml.contains('\n'));
    }

    void theWriterRunsTheToolOnTheList()
    {
        TestEnvironment environment;
        chapterWriter writer;
        writer.setOutputFolder(u"/w"_s);
        writer.setOutputFile(u"m4b"_s);
        writer.setAudioFilePath(u"/w/m4a.m4a"_s);
        QCOMPARE(writer.command(),
                 u"'%1' -x '/w/Chapters.xml' -a '/w/m4a.m4a' -o '/w/m4b.m4b'"_s.arg(chapterTool()));

        const QString work = environment.root() + u"/it's work"_s;
        QVERIFY(QDir().mkpath(work));
        QVERIFY(makeAac(work + u"/m4a.m4a"_s, 6));
        Recorder recorder;
        writer.setOutputFolder(work);
        writer.setAudioFilePath(work + u"/m4a.m4a"_s);
        writer.setViewFiles({record(u"One"_s, u"0"_s, u"2"_s), record(u"Two"_s, u"0"_s, u"3"_s)});
        writer.startChapter(recorder.reports());
        QVERIFY(recorder.waitForEnd());
        QVERIFY(!recorder.exception());
        QVERIFY(readFile(work + u"/Chapters.xml"_s).contains("starttime=\"0:2\""));
        const QJsonArray chapters = probe(work + u"/m4b.m4b"_s)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 2);

        // A tool that fails is a failed step.
        Recorder failing;
        writer.setAudioFilePath(work + u"/missing.m4a"_s);
        writer.startChapter(failing.reports());
        QVERIFY(failing.waitForEnd());
        QVERIFY(failing.exception());
    }

    void theToolWritesBothChapterFormsAndKeepsTheAudio_data()
    {
        QTest::addColumn<bool>("tagged");
        QTest::newRow("as the tool writes it") << false;
        // AtomicParsley moves the media data behind a new header.
        QTest::newRow("tagged by AtomicParsley after") << true;
    }

    void theToolWritesBothChapterFormsAndKeepsTheAudio()
    {
        QFETCH(bool, tagged);
        TestEnvironment environment;
        const QString aac = environment.root() + u"/in put.m4a"_s;
        QVERIFY(makeAac(aac, 150));
        const QString list = environment.root() + u"/Chapters.xml"_s;
        // A control character from a tag cannot be written in XML: it stands as a space.
        QByteArray xml = ChapterList::xml({record(u"Ouverture\x01& Ünï"_s, u"0"_s, u"40"_s),
                                           record(u"<Zwei>"_s, u"0"_s, u"40"_s),
                                           record(u"Drei=3;#"_s, u"1"_s, u"0"_s)});
        xml.replace("starttime=\"0:40\"", "starttime=\"0:40.250\""); // a measured start
        QVERIFY(writeFile(list, xml));
        QString out = environment.root() + u"/book.m4b"_s;
        QByteArray error;
        QCOMPARE(runTool({u"-x"_s, list, u"-a"_s, aac, u"-o"_s, out}, &error), 0);
        if (tagged) {
            const QString tool =
                Resources::pathForResource(u"AtomicParsley"_s, QString()).value_or(QString());
            QCOMPARE(QProcess::execute(tool, {out, u"--title"_s, u"T"_s, u"--output"_s,
                                              environment.root() + u"/tagged.m4b"_s}),
                     0);
            out = environment.root() + u"/tagged.m4b"_s;
        }
        const QJsonObject info = probe(out);
        const QJsonArray chapters = info[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        const QStringList titles{u"Ouverture & Ünï"_s, u"<Zwei>"_s, u"Drei=3;#"_s};
        const QList<double> starts{0, 40.25, 80}; // 0:80 counts as 1:20
        const QList<double> ends{40.25, 80, 150};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject c = chapters.at(i).toObject();
            QCOMPARE(c[u"tags"_s].toObject()[u"title"_s].toString(), titles[i]);
            QCOMPARE(c[u"start_time"_s].toString().toDouble(), starts[i]);
            QVERIFY(qAbs(c[u"end_time"_s].toString().toDouble() - ends[i]) < 0.1);
        }
        QCOMPARE(info[u"format"_s].toObject()[u"tags"_s].toObject()[u"major_brand"_s].toString(),
                 u"M4B "_s);
        // Both forms, as another reader sees them: the QuickTime text track
        // and the Nero chapters.
        const QList<QStringList> menus = mediaInfoMenus(out);
        const QStringList expected{u"00:00:00.000 Ouverture & Ünï"_s, u"00:00:40.250 <Zwei>"_s,
                                   u"00:01:20.000 Drei=3;#"_s};
        QCOMPARE(menus, (QList<QStringList>{expected, expected}));
        QCOMPARE(audioChecksum(out), audioChecksum(aac));
    }

    // 13 hours at 96 kHz: more samples than 32 bits count.
    void aBookPastFourBillionSamples()
    {
        TestEnvironment environment;
        const QString shortAac = environment.root() + u"/short.m4a"_s;
        const QString longAac = environment.root() + u"/long.m4a"_s;
        const QString ffmpeg = QStringLiteral(FABLEWICK_FFMPEG);
        QCOMPARE(QProcess::execute(ffmpeg, {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                            u"anullsrc=r=96000:cl=mono"_s, u"-t"_s, u"10"_s,
                                            u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"8k"_s, shortAac}),
                 0);
        QCOMPARE(QProcess::execute(ffmpeg, {u"-v"_s, u"error"_s, u"-stream_loop"_s, u"4700"_s,
                                            u"-i"_s, shortAac, u"-c"_s, u"copy"_s, longAac}),
                 0);
        const QString list = environment.root() + u"/Chapters.xml"_s;
        QVERIFY(writeFile(list, ChapterList::xml({record(u"a"_s, u"400"_s, u"0"_s),
                                                  record(u"b"_s, u"380"_s, u"0"_s),
                                                  record(u"c"_s, u"0"_s, u"0"_s)})));
        const QString out = environment.root() + u"/book.m4b"_s;
        QCOMPARE(runTool({u"-x"_s, list, u"-a"_s, longAac, u"-o"_s, out}), 0);
        const QJsonObject info = probe(out);
        const QJsonArray chapters = info[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        QCOMPARE(chapters.at(1)[u"start_time"_s].toString(), u"24000.000000"_s);
        QCOMPARE(chapters.at(2)[u"start_time"_s].toString(), u"46800.000000"_s);
        QCOMPARE(chapters.at(2)[u"end_time"_s].toString(),
                 info[u"format"_s][u"duration"_s].toString());
        QVERIFY(info[u"format"_s][u"duration"_s].toString().toDouble() > 47000);
    }

    void failuresLeaveNothingBehind()
    {
        TestEnvironment environment;
        const QString aac = environment.root() + u"/a.m4a"_s;
        QVERIFY(makeAac(aac, 3));
        const QString good = environment.root() + u"/good.xml"_s;
        QVERIFY(writeFile(good, ChapterList::xml({record(u"a"_s, u"0"_s, u"1"_s)})));
        const QString bad = environment.root() + u"/bad.xml"_s;
        QVERIFY(writeFile(bad, "<chapters><chapter starttime=\"0:0\"><title>a & b</title>"));
        const QString out = environment.root() + u"/out/book.m4b"_s;
        QVERIFY(QDir().mkpath(environment.root() + u"/out"_s));
        QByteArray error;
        QVERIFY(runTool({u"-x"_s, environment.root() + u"/none.xml"_s, u"-a"_s, aac, u"-o"_s, out},
                        &error) != 0);
        QVERIFY(error.contains("ChapterTool:"));
        QVERIFY(runTool({u"-x"_s, bad, u"-a"_s, aac, u"-o"_s, out}, &error) != 0);
        QVERIFY(error.contains("not well-formed"));
        QVERIFY(runTool({u"-x"_s, good, u"-a"_s, environment.root() + u"/no.m4a"_s, u"-o"_s, out},
                        &error) != 0);
        QVERIFY(runTool({u"-x"_s, good, u"-a"_s, good, u"-o"_s, out}, &error) != 0);
        QVERIFY(runTool({u"-x"_s, good, u"-a"_s, aac, u"-o"_s, environment.root() + u"/no/x.m4b"_s},
                        &error) != 0);
        QVERIFY(runTool({u"-x"_s, good}, &error) != 0);
        QCOMPARE(QDir(environment.root() + u"/out"_s)
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{});
    }

    // Each chapter file form gives back what was written, to the
    // millisecond, or for a CUE sheet to its frame of 1/75 s.
    void chapterFilesRoundTrip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("chapters.txt") << int(ChapterFile::Kind::ChaptersTxt) << 0.0;
        QTest::newRow("ffmetadata") << int(ChapterFile::Kind::FfMetadata) << 0.0;
        QTest::newRow("CUE sheet") << int(ChapterFile::Kind::Cue) << 1.0 / 150;
    }

    void chapterFilesRoundTrip()
    {
        QFETCH(int, kind);
        QFETCH(double, tolerance);
        const ChapterMarks chapters{{0, u"Opening; \"quoted\" = #1"_s},
                                    {259.153, u"Ünïcødé"_s},
                                    {7384.001, u"Last"_s}};
        const auto form = static_cast<ChapterFile::Kind>(kind);
        const QByteArray bytes = ChapterFile::written(chapters, form, 9000, u"Book"_s);
        QCOMPARE(ChapterFile::kindOf(form == ChapterFile::Kind::Cue ? u"b.cue"_s : u"b.txt"_s,
                                     bytes),
                 form);
        const ChapterMarks read = ChapterFile::read(bytes, form);
        QCOMPARE(read.size(), chapters.size());
        for (qsizetype i = 0; i < read.size(); ++i) {
            QVERIFY2(qAbs(read.at(i).start - chapters.at(i).start) <= tolerance + 1e-9,
                     qPrintable(QString::number(read.at(i).start, 'f', 4)));
            // A CUE sheet has no way to write a double quote.
            QCOMPARE(read.at(i).title, form == ChapterFile::Kind::Cue
                                           ? QString(chapters.at(i).title).replace(u'"', u'\'')
                                           : chapters.at(i).title);
        }
        QCOMPARE(ChapterFile::problemWith(read, 9000), QString());
    }

    // ffmpeg's own ffmetadata of a file with chapters reads as those chapters.
    void ffmpegsMetadataReadsAsItsChapters()
    {
        TestEnvironment environment;
        const QString metadata = environment.root() + u"/in.txt"_s;
        // Matroska, whose audio starts at 0: an MP3's encoder delay moves its
        // chapters in ffmpeg's ffmetadata, though not in ffprobe's reading.
        const QString marked = environment.root() + u"/marked.mka"_s;
        const QString out = environment.root() + u"/out.txt"_s;
        QVERIFY(writeFile(metadata, ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/44100\nSTART=0\n"
                                    "END=176400\ntitle=Inner A\n[CHAPTER]\nTIMEBASE=1/44100\n"
                                    "START=176400\nEND=352800\ntitle=Inner \\= B\n"));
        QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=duration=8"_s, u"-i"_s, metadata,
                           u"-map_chapters"_s, u"1"_s, u"-c:a"_s, u"flac"_s, marked}));
        QVERIFY(runFfmpeg({u"-i"_s, marked, u"-f"_s, u"ffmetadata"_s, out}));
        // As ffprobe reads the file's chapters.
        ChapterMarks probed;
        for (const QJsonValue chapter : probe(marked)[u"chapters"_s].toArray())
            probed.append({chapter[u"start_time"_s].toString().toDouble(),
                           chapter[u"tags"_s][u"title"_s].toString()});
        QCOMPARE(probed.size(), 2);
        QCOMPARE(probed.at(1).title, u"Inner = B"_s);
        const ChapterMarks read = ChapterFile::read(readFile(out), ChapterFile::kindOf(out, readFile(out)));
        QCOMPARE(read, probed);
    }

    void chapterFilesThatCannotBeABooksAreNamed_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem");
        QTest::newRow("past the end") << QByteArray("00:00:00.000 A\n02:00:00.000 Late\n")
                                      << u"Chapter 2, \u201CLate\u201D, starts at 02:00:00.000, "
                                         "past the book's end at 01:00:00.000."_s;
        QTest::newRow("out of order") << QByteArray("## title: x\n00:10:00.000\n00:05:00.5 B\n")
                                      << u"Chapter 2, \u201CB\u201D, starts at 00:05:00.500, not "
                                         "after the chapter before it, at 00:10:00.000."_s;
    }

    void chapterFilesThatCannotBeABooksAreNamed()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        const ChapterMarks read = ChapterFile::read(file, ChapterFile::Kind::ChaptersTxt);
        QCOMPARE(ChapterFile::problemWith(read, 3600), problem);
    }
};

QTEST_GUILESS_MAIN(TestChapters)
#include "tst_chapters.moc"
