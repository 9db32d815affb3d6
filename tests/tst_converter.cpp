#include "ConverterProgress.h"
#include "EncoderCommand.h"
#include "Mp3Converter.h"
#include "Resources.h"
#include "TestCore.h"
#include "WorkerException.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <condition_variable>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

using Recorder = RunEnd;

EncoderOptions options(const QString& rate, const QString& channels, const QString& frequency)
{
    return {{u"bitrate"_s, rate}, {u"channels"_s, channels}, {u"sampleFrequency"_s, frequency}};
}

} // namespace

class TestConverter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void progressIsReadFromBothTimeForms()
    {
        ConverterProgress parser(300);
        auto report = parser.feed("size= 1kB time=150.00 bitrate= 128.0kbits/s\r");
        QVERIFY(report);
        QCOMPARE(report->position, 150.0);
        QCOMPARE(report->description, u"Converting to AAC - 50%"_s);
        report = parser.feed("size= 2kB time=00:04:59.90 bitrate= 128.0kbits/s speed=9x\r");
        QVERIFY(report);
        QCOMPARE(qRound(report->position * 10), 2999);
        QCOMPARE(report->description, u"Converting to AAC - 99%"_s);
        QCOMPARE(ConverterProgress::readTime(u"01:02:03.50"), 3723.5F);
        QCOMPARE(ConverterProgress::readTime(u"N/A"), 0.0F);
    }

    void chunksCutAnywhereGiveTheSameReports()
    {
        const QByteArray stream = "ffmpeg version 5.1 Copyright\nInput #0, mp3, from 'x':\n"
                                  "  Duration: 00:05:00.00, title: time travel\n"
                                  "size=1kB time=00:00:30.00 bitrate=1\rsize=2kB time=60.50 bit\r"
                                  "size=3kB time=00:01:30.00 bitrate=1\n";
        for (int cut = 1; cut < stream.size(); ++cut) {
            ConverterProgress parser(300);
            QList<double> positions;
            for (const QByteArray& chunk : {stream.left(cut), stream.mid(cut)}) {
                if (auto r = parser.feed(chunk))
                    positions << r->position;
            }
            if (auto r = parser.finish())
                positions << r->position;
            // Each chunk reports its first complete progress line, wherever the cut falls.
            QVERIFY2(!positions.isEmpty() && positions.size() <= 2,
                     qPrintable(QString::number(cut)));
            QCOMPARE(positions.first(), 30.0);
        }
        ConverterProgress parser(300);
        QVERIFY(!parser.feed("size=1kB time").has_value());
        QVERIFY(!parser.feed("stamp=whatever\n").has_value()); // "time" but no "time="
        const auto two = parser.feed("time=10.0 bitrate=\rtime=20.0 bitrate=\r");
        QVERIFY(two);
        QCOMPARE(two->position, 10.0);
        QVERIFY(!parser.feed("Stream #0:0: Audio: mp3\n").has_value());
    }

    void aLengthOfZeroShowsNoPercentage()
    {
        ConverterProgress parser(0);
        const auto report = parser.feed("time=12.5 bitrate=\r");
        QVERIFY(report);
        QCOMPARE(report->position, 12.5);
        QCOMPARE(report->description, u"Converting to AAC"_s);
    }

    void theCommandKeepsItsOrder()
    {
        TestEnvironment environment;
        Mp3Converter converter;
        converter.setInputFile(u"/w/it's.mp3"_s);
        converter.setOutputFolder(u"/w"_s);
        converter.setOutputFile(u"m4a"_s);
        converter.setFfmpegOptions(options(u"64k"_s, u"1"_s, u"44100"_s));
        const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(u"?"_s);
        QCOMPARE(converter.command(),
                 u"'%1' -i '/w/it'\\''s.mp3' -vn -y -ab 64k -acodec aac -ac 1 -ar 44100 "
                 u"-map_metadata -1 '/w/m4a.m4a'"_s.arg(tool));
    }

    // ffmpeg's concat demuxer reads the list whatever the folders are called.
    void theListOfSourcesHoldsAnyPath()
    {
        TestEnvironment environment;
        const QString folder = environment.root() + u"/it's \\ \"odd\" Ünï"_s;
        QVERIFY(QDir().mkpath(folder));
        QStringList sources;
        for (const QString& name : {u"a'b.mp3"_s, u"c d.mp3"_s}) {
            QVERIFY(makeMp3(folder + u'/' + name, 1, 22050, 1, 32));
            sources << folder + u'/' + name;
        }
        const QString list = environment.root() + u"/list.txt"_s;
        QVERIFY(writeFile(list, EncoderCommand::concatList(sources)));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG),
                     {u"-nostdin"_s, u"-v"_s, u"error"_s, u"-f"_s, u"concat"_s, u"-safe"_s, u"0"_s,
                      u"-i"_s, list, u"-f"_s, u"s16le"_s, u"-"_s});
        QVERIFY(ffmpeg.waitForFinished(30000));
        QCOMPARE(ffmpeg.exitCode(), 0);
        QCOMPARE(ffmpeg.readAllStandardOutput().size() / 2,
                 decodedSamples(sources.at(0)) + decodedSamples(sources.at(1)));
    }

    void convertsWithTheRealEncoder()
    {
        TestEnvironment environment;
        const QString input = environment.root() + u"/mp3.mp3"_s;
        QVERIFY(makeMp3(input, 40, 44100, 2, 128));
        Recorder recorder;
        Mp3Converter converter;
        converter.setInputFile(input);
        converter.setOutputFolder(environment.root());
        converter.setOutputFile(u"m4a"_s);
        converter.setFfmpegOptions(options(u"48k"_s, u"1"_s, u"22050"_s));
        converter.startConvert(recorder.reports());
        QCOMPARE(converter.ffmpegLength(), 40);
        QVERIFY(recorder.waitForEnd());
        QVERIFY(!recorder.exception());
        QVERIFY(!recorder.described().isEmpty());
        QVERIFY(recorder.described().constLast().text.startsWith(u"Converting to AAC - "_s));
        QVERIFY(recorder.described().constLast().done > 0);
        QVERIFY(QFile::exists(environment.root() + u"/m4a.m4a"_s));
    }

    void failuresAndStops()
    {
        TestEnvironment environment;
        const QString fakes = environment.root() + u"/fakes"_s;
        QVERIFY(QDir().mkpath(fakes));
        Resources::setDirectory(fakes);
        makeFakeTool(fakes, u"mp3info"_s, u"printf 100"_s);
        makeFakeTool(
            fakes, u"ffmpeg"_s,
            u"printf 'time=50.0 bitrate=\\r' >&2; [ -n \"$SLOW\" ] && exec sleep 30; exit 1"_s);
        Mp3Converter converter;
        converter.setOutputFolder(environment.root());
        converter.setOutputFile(u"m4a"_s);
        converter.setFfmpegOptions(options(u"64k"_s, u"2"_s, u"44100"_s));
        {
            Recorder recorder;
            converter.startConvert(recorder.reports());
            QVERIFY(recorder.waitForEnd());
            QVERIFY(recorder.exception()); // the encoder failed: the run failed
            QCOMPARE(recorder.described().size(), 1);
            QCOMPARE(recorder.described().at(0).text, u"Converting to AAC - 50%"_s);
        }
        {
            qputenv("SLOW", "1");
            Recorder recorder;
            converter.startConvert(recorder.reports());
            QTest::qWait(300);
            converter.terminateConvert();
            QVERIFY(recorder.waitForEnd(20));
            QVERIFY(!recorder.exception()); // a stop is not a failure
            qunsetenv("SLOW");
        }
        {
            Recorder recorder;
            converter.startConvert(recorder.reports());
            converter.terminateConvert(); // before the tool has even started
            QVERIFY(recorder.waitForEnd(20));
            QVERIFY(!recorder.exception());
        }
        // A stop while nothing runs does not carry over to the next run.
        converter.terminateConvert();
        {
            Recorder recorder;
            converter.startConvert(recorder.reports());
            QVERIFY(recorder.waitForEnd());
            QVERIFY(recorder.exception()); // the encoder ran, and failed
        }
    }
};

QTEST_GUILESS_MAIN(TestConverter)
#include "tst_converter.moc"
