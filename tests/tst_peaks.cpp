#include "PeakReader.h"
#include "PeakSummary.h"
#include "Resources.h"
#include "TestCore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// A tone at an eighth of full scale, with a silence from 290 s to 310 s.
bool makeLongTone(const QString& path)
{
    return runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=f=440:sample_rate=8000:d=700"_s,
                      u"-af"_s, u"volume=enable='between(t,290,310)':volume=0"_s, path});
}

std::shared_ptr<const PeakSummary> readWith(PeakReader& reader, const QString& path, double seconds)
{
    QSignalSpy ready(&reader, &PeakReader::summaryReady);
    QSignalSpy unreadable(&reader, &PeakReader::unreadable);
    reader.read(path, seconds);
    QElapsedTimer clock;
    clock.start();
    while (ready.isEmpty() && unreadable.isEmpty() && clock.elapsed() < 60000)
        QTest::qWait(20);
    return reader.summaryOf(path);
}

} // namespace

class TestPeaks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The loudest and quietest of a range, which the strip asks for every
    // column it draws, are those of the spans themselves, across blocks.
    void rangesAgreeWithTheirSpans()
    {
        QByteArray levels(1000, '\0');
        auto* random = QRandomGenerator::global();
        for (char& level : levels)
            level = static_cast<char>(random->bounded(256));
        const PeakSummary summary(levels);
        const auto spanMax = [&](qsizetype first, qsizetype end) {
            return static_cast<quint8>(
                *std::max_element(reinterpret_cast<const quint8*>(levels.constData()) + first,
                                  reinterpret_cast<const quint8*>(levels.constData()) + end));
        };
        for (int trial = 0; trial < 500; ++trial) {
            const int first = random->bounded(999);
            const int end = first + 1 + random->bounded(1000 - first);
            const double from = first / 50.0;
            const double to = end / 50.0;
            QCOMPARE(summary.loudest(from, to), spanMax(first, end));
            const auto quiet = summary.quietest(from, to, from);
            QVERIFY(quiet);
            const auto span = static_cast<qsizetype>(*quiet * 50);
            QVERIFY(span >= first && span < end);
            QCOMPARE(summary.level(span),
                     *std::min_element(reinterpret_cast<const quint8*>(levels.constData()) + first,
                                       reinterpret_cast<const quint8*>(levels.constData()) + end));
        }
        QCOMPARE(summary.loudest(30, 40), quint8(0));
        QVERIFY(!summary.quietest(30, 40, 35));
    }

    void aDamagedCacheFileIsRefused_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("changedByte");
        QTest::newRow("whole") << 0 << -1;
        QTest::newRow("cut short") << 10 << -1;
        QTest::newRow("header only") << 1000 << -1;
        QTest::newRow("another kind") << 0 << 0;
        QTest::newRow("a later version") << 0 << 7;
        QTest::newRow("another rate") << 0 << 11;
    }

    void aDamagedCacheFileIsRefused()
    {
        QFETCH(int, cut);
        QFETCH(int, changedByte);
        QByteArray bytes = PeakSummary(QByteArray(1000, 'x')).serialized();
        bytes.chop(cut);
        if (changedByte >= 0)
            bytes[changedByte] = static_cast<char>(bytes.at(changedByte) + 1);
        const auto parsed = PeakSummary::parse(bytes);
        QCOMPARE(parsed.has_value(), cut == 0 && changedByte < 0);
        if (parsed)
            QCOMPARE(parsed->spans(), 1000);
    }

    // A long file is read in pieces on two cores: the levels run on across
    // the seams, follow the tone and its silence, and cover the file.
    void aLongFileIsSummedUpInPieces()
    {
        TestEnvironment environment;
        const QString tone = environment.sources() + u"/tone.wav"_s;
        QVERIFY(makeLongTone(tone));
        PeakReader reader(environment.root() + u"/peaks"_s, 2);
        const auto summary = readWith(reader, tone, 700);
        QVERIFY(summary);
        QVERIFY2(qAbs(summary->spans() - 35000) <= 1,
                 qPrintable(QString::number(summary->spans())));
        const int expected = PeakSummary::levelOf(32768 / 8);
        for (qsizetype span = 0; span < summary->spans(); ++span) {
            const double at = static_cast<double>(span) / PeakSummary::kSpansPerSecond;
            if (at > 289.95 && at < 310.05)
                continue;
            QVERIFY2(qAbs(summary->level(span) - expected) <= 2,
                     qPrintable(u"level %1 at %2 s"_s.arg(summary->level(span)).arg(at)));
        }
        QCOMPARE(summary->loudest(290.1, 309.9), quint8(0));
    }

    // A summary made once is read from the cache the next time, without
    // ffmpeg; a file changed since, or a cache file damaged, is read again.
    void theCacheKeepsSummariesOfUnchangedFiles()
    {
        TestEnvironment environment;
        const QString tone = environment.sources() + u"/tone.flac"_s;
        QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=d=3"_s, tone}));
        const QString folder = environment.root() + u"/peaks"_s;
        {
            PeakReader reader(folder, 2);
            QVERIFY(readWith(reader, tone, 3));
        }
        // From now on an ffmpeg that fails, so that only the cache answers.
        const QString tools = environment.root() + u"/tools"_s;
        QDir().mkpath(tools);
        QVERIFY(writeFile(tools + u"/ffmpeg"_s, "#!/bin/sh\nexit 1\n"));
        QFile::setPermissions(tools + u"/ffmpeg"_s, QFile::ReadOwner | QFile::ExeOwner);
        Resources::setDirectory(tools);
        {
            PeakReader reader(folder, 2);
            const auto cached = readWith(reader, tone, 3);
            QVERIFY(cached);
            QVERIFY(qAbs(cached->seconds() - 3) < 0.05);
        }
        const QString cacheFile = folder + u'/' + PeakReader::cacheName(tone);
        QVERIFY(QFile::resize(cacheFile, 40));
        {
            PeakReader reader(folder, 2);
            QVERIFY(!readWith(reader, tone, 3));
        }
        QVERIFY(writeFile(cacheFile, PeakSummary(QByteArray(150, 'x')).serialized()));
        QFile touched(tone);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                    QFileDevice::FileModificationTime));
        touched.close();
        QVERIFY(PeakReader::cacheName(tone) != QFileInfo(cacheFile).fileName());
        PeakReader reader(folder, 2);
        QVERIFY(!readWith(reader, tone, 3));
    }
};

QTEST_GUILESS_MAIN(TestPeaks)
#include "tst_peaks.moc"
