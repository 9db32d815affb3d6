#include "ChapterList.h"
#include "EncodePlan.h"
#include "EncoderCommand.h"
#include "Mp3Converter.h"
#include "DecodedLength.h"
#include "Mp3Frames.h"
#include "Resources.h"
#include "TestCore.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <cmath>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

using Recorder = RunEnd;

// A book of noise, which no shifted copy of itself resembles: any sample out
// of place shows.
struct NoiseBook
{
    // Options for ffmpeg's output: the first file's, then every file's.
    explicit NoiseBook(const QList<int>& seconds, const QStringList& firstFileOptions = {},
                       const QStringList& everyFileOptions = {})
    {
        QDir().mkpath(environment.sources());
        QByteArray all;
        for (qsizetype i = 0; i < seconds.size(); ++i) {
            const QString path = environment.sources() + u"/%1.mp3"_s.arg(i);
            QStringList arguments{u"-nostdin"_s,
                                  u"-loglevel"_s,
                                  u"error"_s,
                                  u"-f"_s,
                                  u"lavfi"_s,
                                  u"-i"_s,
                                  u"anoisesrc=color=pink:amplitude=0.3:seed=%1:duration=%2:"
                                  u"sample_rate=22050"_s.arg(i + 1)
                                      .arg(seconds.at(i))};
            if (i == 0)
                arguments << firstFileOptions;
            arguments << everyFileOptions << u"-ac"_s << u"1"_s << u"-b:a"_s << u"32k"_s << path;
            QProcess::execute(QStringLiteral(FABLEWICK_FFMPEG), arguments);
            const Mp3Frames::Measure frames = Mp3Frames::measure(path).value();
            auto record = std::make_shared<ItemRecord>();
            record->exact = ItemRecord::Exact{.samples = DecodedLength::alone(frames),
                                              .leadIn = DecodedLength::leadIn(frames),
                                              .sampleRate = frames.sampleRate};
            records << record;
            sources.append({.path = path,
                            .samples = DecodedLength::alone(frames),
                            .sampleRate = frames.sampleRate});
            all += readFile(path);
        }
        joined = environment.root() + u"/mp3.mp3"_s;
        writeFile(joined, all);
    }

    // The sources played one after another, as mono samples at 22.05 kHz.
    QList<qint16> decodedSources() const
    {
        const QString list = environment.root() + u"/sources.txt"_s;
        QStringList paths;
        for (const Mp3Converter::Source& source : std::as_const(sources))
            paths << source.path;
        writeFile(list, EncoderCommand::concatList(paths));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG),
                     {u"-nostdin"_s, u"-loglevel"_s, u"error"_s, u"-f"_s, u"concat"_s, u"-safe"_s,
                      u"0"_s, u"-i"_s, list, u"-ac"_s, u"1"_s, u"-ar"_s, u"22050"_s, u"-f"_s,
                      u"s16le"_s, u"-"_s});
        ffmpeg.waitForFinished(60000);
        const QByteArray bytes = ffmpeg.readAllStandardOutput();
        QList<qint16> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.constData(), static_cast<size_t>(samples.size()) * 2);
        return samples;
    }

    // Converts into folder with that many encoders at most; with stopAfter, stops then.
    std::exception_ptr convert(const QString& folder, int parts, Recorder& recorder,
                               int stopAfter = -1)
    {
        Mp3Converter converter;
        prepare(converter, folder, parts);
        converter.startConvert(recorder.reports());
        if (stopAfter >= 0) {
            QTest::qWait(stopAfter);
            converter.terminateConvert();
        }
        if (!recorder.waitForEnd(60))
            return std::make_exception_ptr(std::runtime_error("no end"));
        return recorder.exception();
    }

    void prepare(Mp3Converter& converter, const QString& folder, int parts)
    {
        QDir().mkpath(folder);
        converter.setInputFile(joined);
        converter.setOutputFolder(folder);
        converter.setOutputFile(u"m4a"_s);
        // As many bits for each sample at every rate, so that the coding
        // error stays below what a misplaced join would add.
        converter.setFfmpegOptions({{u"bitrate"_s, u"%1k"_s.arg(64 * rate / 22050)},
                                    {u"channels"_s, u"1"_s},
                                    {u"sampleFrequency"_s, QString::number(rate)}});
        converter.setSourceFiles(sources);
        converter.setParallelism(parts);
    }

    TestEnvironment environment;
    ItemList records;
    QList<Mp3Converter::Source> sources;
    QString joined;
    // The output's sample rate.
    int rate = 22050;
};

double rms(const QList<qint16>& a, const QList<qint16>& b, qsizetype from, qsizetype count)
{
    double sum = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const double d = double(a.value(i)) - (b.isEmpty() ? 0.0 : double(b.value(i)));
        sum += d * d;
    }
    return std::sqrt(sum / double(count));
}

} // namespace

class TestParallel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void partsAreBalancedOnFileStarts_data()
    {
        QTest::addColumn<QList<double>>("starts");
        QTest::addColumn<double>("length");
        QTest::addColumn<int>("parts");
        QTest::addColumn<QList<qint64>>("joins");
        QTest::addColumn<bool>("decodesBefore");
        const QList<double> even{0, 100, 200, 300};
        QTest::newRow("one core") << even << 400.0 << 1 << QList<qint64>{} << true;
        QTest::newRow("one long file is shared inside it")
            << QList<double>{0} << 400.0 << 4 << QList<qint64>{119808, 225280, 318464} << true;
        QTest::newRow("under a minute")
            << QList<double>{0, 20, 40} << 59.0 << 4 << QList<qint64>{} << true;
        // 100 s at 1000 Hz is 100000 samples; the frame grid moves it by under half a frame.
        // Where every part decodes all before it, a file start saves nothing:
        // part 2 decodes 220 s and encodes 180 s, and costs as much as part 1.
        QTest::newRow("two cores, even files, all decoded before")
            << even << 400.0 << 2 << QList<qint64>{220160} << true;
        QTest::newRow("two cores, even files") << even << 400.0 << 2 << QList<qint64>{199680}
                                               << false;
        QTest::newRow("more cores than files")
            << QList<double>{0, 10, 390} << 400.0 << 8
            << QList<qint64>{74752, 141312, 198656, 249856, 294912, 334848, 369664} << true;
        QList<double> tens;
        for (int i = 0; i < 40; ++i)
            tens << 10.0 * i;
        QTest::newRow("later parts, which decode more, encode less")
            << tens << 400.0 << 2 << QList<qint64>{209920} << true;
        QTest::newRow("a far file start gives way to a join inside a file")
            << QList<double>{0, 30, 350} << 400.0 << 2 << QList<qint64>{212992} << true;
        QTest::newRow("a file start near the share's end takes the join")
            << QList<double>{0, 195, 300} << 400.0 << 2 << QList<qint64>{194560} << false;
        QTest::newRow("parts that decode only their own audio share equally")
            << tens << 400.0 << 2 << QList<qint64>{199680} << false;
    }

    void partsAreBalancedOnFileStarts()
    {
        QFETCH(QList<double>, starts);
        QFETCH(double, length);
        QFETCH(int, parts);
        QFETCH(QList<qint64>, joins);
        QFETCH(bool, decodesBefore);
        QCOMPARE(EncodePlan::partJoins(starts, length, 1000, parts, decodesBefore), joins);
    }

    // A part inside one long file seeks to a whole second a little before
    // its run-in, instead of decoding the file from its start; a part that
    // reads from a file's start has nothing to seek past.
    void aPartInsideOneFileSeeksNearItsRunIn()
    {
        const EncodePlan plan({72 * 22050}, 22050, 22050, 4);
        QCOMPARE(plan.parts().size(), 4);
        QCOMPARE(plan.parts().first().seekSeconds, 0);
        for (const EncodePart& part : plan.parts().mid(1)) {
            const qint64 decoded = part.encodeFrom - part.seekSeconds * 22050;
            QVERIFY(part.seekSeconds >= 10);
            QVERIFY(decoded >= 2 * 22050 && decoded < 3 * 22050);
        }
        const EncodePlan files({661500, 661500, 661500, 661500}, 22050, 22050, 2);
        QCOMPARE(files.parts().at(1).seekSeconds, 0);
    }

    // Four files of 30 s at 22.05 kHz in two parts: what each part reads,
    // encodes, drops and keeps.
    void eachPartReadsFromWhereItsRunInStarts_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("join");
        QTest::addColumn<qsizetype>("firstFile");
        QTest::addColumn<qint64>("readFrom");
        QTest::addColumn<qint64>("encodeFrom");
        QTest::addColumn<qint64>("dropped");
        QTest::addColumn<qint64>("keptByTheFirst");
        // The run-in of about 1.5 s starts on the third file's first sample,
        // on the frame grid: nothing before it is decoded.
        QTest::newRow("the sources' rate")
            << 22050 << qint64(1356800) << qsizetype(2) << qint64(1323000) << qint64(1323008)
            << qint64(34) << qint64(1326);
        QTest::newRow("twice that") << 44100 << qint64(2712576) << qsizetype(2)
                                    << qint64(2646000) << qint64(2646016) << qint64(66)
                                    << qint64(2650);
        // The resampler's phase would differ: every part reads from the start,
        // so a file start saves nothing, and the join evens out the work.
        QTest::newRow("a rate the sources' does not divide")
            << 32000 << qint64(2112512) << qsizetype(0) << qint64(0) << qint64(2064384)
            << qint64(48) << qint64(2064);
    }

    void eachPartReadsFromWhereItsRunInStarts()
    {
        QFETCH(int, rate);
        QFETCH(qint64, join);
        QFETCH(qsizetype, firstFile);
        QFETCH(qint64, readFrom);
        QFETCH(qint64, encodeFrom);
        QFETCH(qint64, dropped);
        QFETCH(qint64, keptByTheFirst);
        const EncodePlan plan({661500, 661500, 661500, 661500}, 22050, rate, 2);
        QCOMPARE(plan.length(), qint64(rate) * 120);
        QCOMPARE(plan.parts().size(), 2);
        const EncodePart first = plan.parts().at(0);
        const EncodePart second = plan.parts().at(1);
        QCOMPARE(first.firstFile, 0);
        QCOMPARE(first.lastFile, 2); // the first part ends in the third file
        QCOMPARE(second.lastFile, 3);
        QCOMPARE(first.encodeFrom, 0);
        QCOMPARE(first.droppedFrames, 0);
        QCOMPARE(first.end, join);
        QCOMPARE(first.encodeTo, join + 2 * EncodePlan::kFrame);
        QCOMPARE(first.keptFrames, keptByTheFirst);
        QCOMPARE(second.start, join);
        QCOMPARE(second.firstFile, firstFile);
        QCOMPARE(second.readFrom, readFrom);
        QCOMPARE(second.encodeFrom, encodeFrom);
        QCOMPARE(second.droppedFrames, dropped);
        QCOMPARE(second.keptFrames, -1);
        QCOMPARE(second.end, plan.length());
    }

    void aSplitEncodeCannotBeToldFromOneEncoder_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("readsNearJoins");
        QTest::addColumn<QList<int>>("lengths");
        const QList<int> five{13, 17, 15, 16, 11};
        QTest::newRow("each part reads from near its join")
            << 22050 << QStringList() << true << five;
        QTest::newRow("at twice the rate") << 44100 << QStringList() << true << five;
        QTest::newRow("files without info frames")
            << 22050 << QStringList{u"-write_xing"_s, u"0"_s} << true << five;
        QTest::newRow("a rate that needs all before a join decoded")
            << 32000 << QStringList() << false << five;
        QTest::newRow("one long file, split inside it") << 22050 << QStringList() << true
                                                        << QList<int>{72};
    }

    // Split at three joins, the book keeps every sample where one ffmpeg puts
    // it, and nothing marks the joins.
    void aSplitEncodeCannotBeToldFromOneEncoder()
    {
        QFETCH(int, rate);
        QFETCH(QStringList, options);
        QFETCH(bool, readsNearJoins);
        QFETCH(QList<int>, lengths);
        NoiseBook book(lengths, {}, options);
        book.rate = rate;
        QCOMPARE(EncodePlan({1}, 22050, rate, 4).partsReadNearTheirStart(), readsNearJoins);
        Recorder single;
        QVERIFY(!book.convert(book.environment.root() + u"/single"_s, 1, single));
        Recorder split;
        QVERIFY(!book.convert(book.environment.root() + u"/split"_s, 4, split));
        QCOMPARE(QDir(book.environment.root() + u"/split"_s).entryList(QDir::Files),
                 QStringList{u"m4a.m4a"_s});

        const QList<qint16> source = book.decodedSources();
        const QList<qint16> one = decodeMono(book.environment.root() + u"/single/m4a.m4a"_s, 22050);
        const QList<qint16> parts =
            decodeMono(book.environment.root() + u"/split/m4a.m4a"_s, 22050);
        QVERIFY(std::abs(one.size() - parts.size()) < 0.1 * 22050);
        QVERIFY(std::abs(one.size() - source.size()) < 0.1 * 22050);
        // Parts join at file starts, or inside a file far from any.
        const QList<double> starts = ChapterList::startSeconds(book.records);
        QList<double> joins = starts.mid(1);
        const double length = book.records.constLast()->exact->seconds() + starts.constLast();
        for (const qint64 join : EncodePlan::partJoins(starts, length, 22050, 4, !readsNearJoins))
            joins << static_cast<double>(join) / 22050;
        for (const double start : std::as_const(joins)) {
            const auto join = static_cast<qsizetype>(start * 22050);
            // Out of place by one sample, noise differs from itself as much as it is loud.
            for (const qsizetype at : {join - 22050, join, join + 11025})
                QVERIFY2(rms(parts, one, at, 2205) < 0.3 * rms(one, {}, at, 2205),
                         qPrintable(u"apart at %1"_s.arg(at)));
            // Around the join, the split book is as close to its source as the whole one.
            const double whole = rms(one, source, join - 4410, 8820);
            const double apart = rms(parts, source, join - 4410, 8820);
            QVERIFY2(apart < 1.3 * whole + 20,
                     qPrintable(u"%1 against %2"_s.arg(apart).arg(whole)));
        }

        // One bar: the parts' summed position, in the one text.
        QStringList descriptions;
        double furthest = 0;
        for (const RunEnd::Told& told : split.told()) {
            descriptions << told.text;
            furthest = std::max(furthest, told.done);
        }
        QVERIFY(descriptions.contains(u"Converting to AAC - 99%"_s) ||
                descriptions.contains(u"Converting to AAC - 100%"_s));
        QVERIFY(furthest > 0.97 * ChapterList::startSeconds(book.records).constLast());
    }

    // The book's tags are the user's alone, however it is encoded: nothing of
    // the first file's own tags comes through.
    void theBookCarriesNoneOfTheSourcesTags_data()
    {
        QTest::addColumn<int>("parts");
        QTest::newRow("encoded whole") << 1;
        QTest::newRow("encoded in parts") << 2;
    }

    void theBookCarriesNoneOfTheSourcesTags()
    {
        QFETCH(int, parts);
        NoiseBook book({35, 30}, {u"-metadata"_s, u"title=Chapter 1"_s, u"-metadata"_s,
                                  u"track=1/16"_s, u"-metadata"_s, u"album=Their Album"_s});
        QVERIFY(probe(book.joined)[u"format"_s][u"tags"_s].toObject().contains(u"track"_s));
        Recorder recorder;
        QVERIFY(!book.convert(book.environment.root() + u"/out"_s, parts, recorder));
        const QJsonObject tags =
            probe(book.environment.root() + u"/out/m4a.m4a"_s)[u"format"_s][u"tags"_s].toObject();
        for (const QString& key : {u"title"_s, u"track"_s, u"album"_s})
            QVERIFY2(!tags.contains(key), qPrintable(key));
        QCOMPARE(QDir(book.environment.root() + u"/out"_s).entryList(QDir::Files),
                 QStringList{u"m4a.m4a"_s});
    }

    // A new book right after a stop: the stopped parts end first and count for nothing.
    void aConversionRightAfterAStop()
    {
        NoiseBook book({40, 40, 40});
        const QString folder = book.environment.root() + u"/work"_s;
        Mp3Converter converter;
        Recorder recorder;
        book.prepare(converter, folder, 3);
        converter.startConvert(recorder.reports());
        QTest::qWait(200);
        converter.terminateConvert();
        converter.startConvert(recorder.reports());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.finished() == 2, 60000);
        QVERIFY(!recorder.exception());
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"m4a.m4a"_s});
    }

    void aFailedOrStoppedPartEndsEveryPart_data()
    {
        QTest::addColumn<int>("stopAfter");
        QTest::newRow("a part fails") << -1;
        QTest::newRow("stopped") << 300;
        QTest::newRow("stopped before the parts start") << 0;
    }

    void aFailedOrStoppedPartEndsEveryPart()
    {
        QFETCH(int, stopAfter);
        const bool stop = stopAfter >= 0;
        NoiseBook book({40, 40, 40});
        // The second part's encoder fails, or all of them run until stopped.
        toolsWithStandIn(book.environment.root(), u"ffmpeg"_s,
                         stop ? u"exec sleep 60"_s
                              : u"case \"$*\" in *part2*) echo 'disk full' >&2; exit 1;; "
                                u"*) exec sleep 60;; esac"_s);
        const QString folder = book.environment.root() + u"/work"_s;
        Recorder recorder;
        const std::exception_ptr failure = book.convert(folder, 3, recorder, stopAfter);
        if (stop) {
            QVERIFY(!failure);
        } else {
            QVERIFY(failure);
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                QVERIFY2(QString::fromUtf8(e.what()).contains(u"disk full"_s), e.what());
            }
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
    }
};

QTEST_GUILESS_MAIN(TestParallel)
#include "tst_parallel.moc"
