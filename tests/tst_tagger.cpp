#include "M4bTagger.h"
#include "Resources.h"
#include "TaggerProgress.h"
#include "TestCore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

using Recorder = RunEnd;

QString tool()
{
    return Resources::pathForResource(u"AtomicParsley"_s, QString()).value_or(u"?"_s);
}

} // namespace

class TestTagger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void commandsFollowTheToolsOrder()
    {
        TestEnvironment environment;
        M4bTagger tagger;
        tagger.setInputPath(u"/w/m4a.m4a"_s);
        tagger.setOutputPath(u"/w/m4a-tagged.m4a"_s);
        tagger.setArtwork(u"/w/art1.jpg"_s);
        QCOMPARE(tagger.command(), u"'%1' \"/w/m4a.m4a\" --artwork \"/w/art1.jpg\" --genre "
                                   u"\"Audiobook\" --output \"/w/m4a-tagged.m4a\" "_s.arg(tool()));
        tagger.setArtwork(QString());
        tagger.setArtist(u"Ann"_s);
        tagger.setTitle(u"The \"Big\" One"_s);
        QCOMPARE(tagger.command(),
                 u"'%1' \"/w/m4a.m4a\" --artist \"Ann\" --title \"The \\\"Big\\\" "
                 u"One\" --genre \"Audiobook\" --output \"/w/m4a-tagged.m4a\" "_s.arg(tool()));
        tagger.setAlbum(u"Al"_s);
        tagger.setAlbumArtist(u"AA"_s);
        tagger.setComment(u"C"_s);
        tagger.setArtwork(u"/a.jpg"_s);
        QCOMPARE(tagger.command(),
                 u"'%1' \"/w/m4a.m4a\" --artist \"Ann\" --title \"The \\\"Big\\\" One\" --album "
                 u"\"Al\" --albumArtist \"AA\" --comment \"C\" --artwork \"/a.jpg\" --genre "
                 u"\"Audiobook\" --output \"/w/m4a-tagged.m4a\" "_s.arg(tool()));
    }

    // Values and paths reach the tool exactly as typed; nothing in them runs.
    void shellSensitiveValuesReachTheToolIntact()
    {
        TestEnvironment environment;
        QVERIFY(QDir::setCurrent(environment.root()));
        const QString fakes = environment.root() + u"/fakes"_s;
        QVERIFY(QDir().mkpath(fakes));
        Resources::setDirectory(fakes);
        const QString fake = makeFakeTool(fakes, u"AtomicParsley"_s, u"exit 0"_s);
        const QString nasty = u"$(touch SENTINEL) `touch SENTINEL` \\ \" ' $HOME ✓"_s;
        M4bTagger tagger;
        Recorder recorder;
        tagger.setInputPath(environment.root() + u"/in $x \"q\".m4a"_s);
        tagger.setOutputPath(environment.root() + u"/out `y`.m4a"_s);
        tagger.setTitle(nasty);
        tagger.setComment(u"line\\nnot"_s);
        tagger.startTagging(recorder.reports());
        QVERIFY(recorder.waitForEnd());
        QVERIFY(!recorder.exception());
        QCOMPARE(recordedArguments(fake),
                 (QStringList{environment.root() + u"/in $x \"q\".m4a"_s, u"--title"_s, nasty,
                              u"--comment"_s, u"line\\nnot"_s, u"--genre"_s, u"Audiobook"_s,
                              u"--output"_s, environment.root() + u"/out `y`.m4a"_s}));
        QVERIFY(!QFile::exists(environment.root() + u"/SENTINEL"_s));

        // Values persist from one run to the next; a failing tool is a failed run.
        makeFakeTool(fakes, u"AtomicParsley"_s, u"exit 3"_s);
        Recorder failing;
        tagger.startTagging(failing.reports());
        QVERIFY(failing.waitForEnd());
        QVERIFY(failing.exception());
        QVERIFY(recordedArguments(fake).contains(nasty));
    }

    void nothingToTagCopiesAtOnce()
    {
        TestEnvironment environment;
        const QString input = environment.root() + u"/in.m4a"_s;
        QVERIFY(writeFile(input, QByteArray(5000, 'a')));
        M4bTagger tagger;
        Recorder recorder;
        tagger.setInputPath(input);
        tagger.setOutputPath(environment.root() + u"/out.m4a"_s);
        tagger.startTagging(recorder.reports());
        QCOMPARE(recorder.finished(), 1); // before startTagging returned
        QVERIFY(recorder.endedOnStartingThread());
        QVERIFY(!recorder.exception());
        QCOMPARE(readFile(environment.root() + u"/out.m4a"_s), readFile(input));
    }

    void progressLinesAreRead_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<double>("value"); // -1: no report
        QTest::newRow("a bar") << QByteArray(" Progress: ===>  57% -----|") << 57.0;
        QTest::newRow("the arrow at the start") << QByteArray(">  1% ---|") << 1.0;
        QTest::newRow("no percentage yet") << QByteArray(" Progress: ===>") << -1.0;
        QTest::newRow("a message") << QByteArray("Started writing to temp file.") << -1.0;
        QTest::newRow("no arrow") << QByteArray("50% done, no arrow") << -1.0;
        QTest::newRow("no number") << QByteArray(">> x%") << -1.0;
    }

    void progressLinesAreRead()
    {
        QFETCH(QByteArray, line);
        QFETCH(double, value);
        const auto report = TaggerProgress::parseLine(line);
        QCOMPARE(report.has_value(), value >= 0);
        if (report) {
            QCOMPARE(report->value, value);
            QCOMPARE(report->description,
                     u"Creating iTunes tag - %1%"_s.arg(static_cast<int>(value)));
        }
    }

    // However the output is cut, the newest complete report of each read is told.
    void progressSurvivesEverySplit()
    {
        const QByteArray stream = "AtomicParsley version 20210715\n"
                                  " Progress: >  1% ---|\r Progress: ===> 42% ---|\r"
                                  "Started writing to temp file.\n Progress: ======> 100% |";
        for (int cut = 1; cut < stream.size(); ++cut) {
            TaggerProgress parser;
            QList<double> values;
            for (const QByteArray& chunk : {stream.left(cut), stream.mid(cut)}) {
                if (auto r = parser.feed(chunk))
                    values << r->value;
            }
            if (auto r = parser.finish())
                values << r->value;
            const QString where = QString::number(cut);
            QVERIFY2(!values.isEmpty() && values.size() <= 3, qPrintable(where));
            QCOMPARE(values.constLast(), 100.0);
            QVERIFY2(std::is_sorted(values.begin(), values.end()), qPrintable(where));
            // A report cut in two is still read whole: 42 is never lost to the cut.
            QVERIFY2(values.contains(42.0), qPrintable(where));
        }
    }

    void writesTagsWithTheRealTool()
    {
        TestEnvironment environment;
        const QString input = environment.root() + u"/m4a.m4a"_s;
        QVERIFY(makeAac(input, 3));
        M4bTagger tagger;
        Recorder recorder;
        tagger.setInputPath(input);
        tagger.setOutputPath(environment.root() + u"/tagged.m4a"_s);
        tagger.setTitle(u"Der $Titel \"x\""_s);
        tagger.setArtist(u"Ünï"_s);
        tagger.startTagging(recorder.reports());
        QVERIFY(recorder.waitForEnd());
        QVERIFY(!recorder.exception());
        QVERIFY(!recorder.told().isEmpty());
        const QJsonObject tags = probe(environment.root() + u"/tagged.m4a"_s)[u"format"_s]
                                     .toObject()[u"tags"_s]
                                     .toObject();
        QCOMPARE(tags[u"title"_s].toString(), u"Der $Titel \"x\""_s);
        QCOMPARE(tags[u"artist"_s].toString(), u"Ünï"_s);
        QCOMPARE(tags[u"genre"_s].toString(), u"Audiobook"_s);
    }
};

QTEST_GUILESS_MAIN(TestTagger)
#include "tst_tagger.moc"
