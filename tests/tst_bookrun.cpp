// A run with no window: its steps for each kind of book, its signals, its
// delivery, and a stop that takes its files with it.
#include "BookRun.h"
#include "TestCore.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

ItemRecordPtr recordOf(const QString& path, std::optional<QByteArray> aacConfig = std::nullopt)
{
    auto record = std::make_shared<ItemRecord>();
    record->pathColumn = path;
    record->titleColumn = ItemRecord::titleForPath(path);
    if (aacConfig)
        record->copyableAac = ItemRecord::CopyableAac{.audioConfig = *aacConfig, .channels = 1};
    return record;
}

QString stepNames(const RunRequest& run)
{
    QStringList names;
    for (const auto& step : BookRun::steps(run))
        names << BookRun::nameOf(step->state());
    return names.join(u", "_s);
}

} // namespace

class TestBookRun : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stepsFollowTheFilesAndTheFormat_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("bitRate");
        QTest::addColumn<int>("even");
        QTest::addColumn<QString>("steps");
        const int m4b = int(BookFormat::AacBookmark);
        const int m4a = int(BookFormat::AacStandard);
        const int mp3 = int(BookFormat::Mp3);
        QTest::newRow("mp3 joined")
            << QStringList{u"a.mp3"_s, u"b.mp3"_s} << mp3 << QString() << 0 << u"Join, Tags"_s;
        QTest::newRow("mp3 into m4b")
            << QStringList{u"a.mp3"_s} << m4b << u"64k"_s << 0 << u"Join, Encode, Chapters, Tags"_s;
        QTest::newRow("mp3 into m4a")
            << QStringList{u"a.mp3"_s} << m4a << u"64k"_s << 0 << u"Join, Encode, Tags"_s;
        QTest::newRow("flac into mp3") << QStringList{u"a.mp3"_s, u"b.flac"_s} << mp3 << u"64k"_s
                                       << 0 << u"Decode, Encode, Tags"_s;
        QTest::newRow("aac kept") << QStringList{u"a.m4a"_s, u"b.m4a"_s} << m4b << QString() << 0
                                  << u"Copy, Chapters, Tags"_s;
        QTest::newRow("aac at a new rate") << QStringList{u"a.m4a"_s} << m4b << u"64k"_s << 0
                                           << u"Decode, Encode, Chapters, Tags"_s;
        QTest::newRow("aac unlike mp3") << QStringList{u"a.m4a"_s, u"b.mp3"_s} << m4b << QString()
                                        << 0 << u"Decode, Encode, Chapters, Tags"_s;
        // Levelled, every file is measured and encoded: MP3 files are not
        // joined, nor AAC files copied.
        QTest::newRow("mp3 levelled")
            << QStringList{u"a.mp3"_s} << mp3 << u"64k"_s << int(EvenVolume::EachFile)
            << u"Measure, Decode, Level, Encode, Tags"_s;
        QTest::newRow("aac levelled")
            << QStringList{u"a.m4a"_s} << m4b << QString() << int(EvenVolume::WholeBook)
            << u"Measure, Decode, Level, Encode, Chapters, Tags"_s;
    }
    void stepsFollowTheFilesAndTheFormat()
    {
        QFETCH(QStringList, files);
        QFETCH(int, format);
        QFETCH(QString, bitRate);
        QFETCH(int, even);
        QFETCH(QString, steps);
        RunRequest run;
        for (const QString& file : files)
            run.records << recordOf(file, file.endsWith(u".m4a"_s)
                                              ? std::optional(QByteArray("\x12\x08"))
                                              : std::nullopt);
        run.format = static_cast<BookFormat>(format);
        run.bitRate = bitRate.isEmpty() ? std::nullopt : std::optional(bitRate);
        run.mono = true;
        run.evenVolume = static_cast<EvenVolume>(even);
        run.chooseMethod();
        QCOMPARE(stepNames(run), steps);
    }

    void aRunMakesAndDeliversItsBook()
    {
        TestEnvironment environment;
        RunRequest run;
        for (const QString& name : {u"one"_s, u"two"_s}) {
            const QString path = environment.sources() + u'/' + name + u".mp3"_s;
            QVERIFY(makeMp3(path, 3, 22050, 1, 32));
            run.records << recordOf(path);
        }
        run.format = BookFormat::AacBookmark;
        run.bitRate = u"32k"_s;
        run.tags.title = u"Alone"_s;
        run.chooseMethod();
        BookRun book(run, u"Fablewick-test"_s);
        QList<RunState> states;
        connect(&book, &Job::progressed, this, [&](const Job::Progress& progress) {
            if (states.isEmpty() || states.constLast() != BookRun::stateOf(progress))
                states << BookRun::stateOf(progress);
        });
        QSignalSpy made(&book, &Job::succeeded);
        QSignalSpy failed(&book, &Job::failed);
        book.start();
        QVERIFY(made.wait(60000));
        QVERIFY(failed.isEmpty());
        QCOMPARE(states, (QList<RunState>{RunState::Joining, RunState::Encoding,
                                          RunState::WritingChapters, RunState::Tagging}));
        QVERIFY(!book.isRunning());
        const QString target = environment.root() + u"/Alone.m4b"_s;
        QVERIFY(book.deliver(target, false));
        const QJsonObject info = probe(target);
        QCOMPARE(info[u"chapters"_s].toArray().size(), 2);
        QCOMPARE(info[u"format"_s][u"tags"_s][u"title"_s].toString(), u"Alone"_s);
        // The joiner measured each file, and the records carry it.
        QCOMPARE(run.records.at(1)->exact->sampleRate, 22050);
    }

    void aFailureIsToldInTheWindowsWords()
    {
        TestEnvironment environment;
        RunRequest run;
        run.records << recordOf(environment.sources() + u"/gone.mp3"_s);
        run.format = BookFormat::Mp3;
        BookRun book(run, u"Fablewick-test"_s);
        QSignalSpy failed(&book, &Job::failed);
        book.start();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(
            failed.at(0).at(0).toString(),
            u"Before the files were joined: These files cannot be joined: \u201Cgone.mp3\u201D "
            "no longer exists. Remove them from the list, or put the right files in their "
            "place, and make the audiobook again."_s);
        QCOMPARE(run.records.at(0)->problem, u"no longer exists"_s);
    }

    void aStopEndsTheToolsAndCanTakeTheFiles()
    {
        TestEnvironment environment;
        RunRequest run;
        const QString path = environment.sources() + u"/long.mp3"_s;
        QVERIFY(makeMp3(path, 900, 44100, 2, 128));
        run.records << recordOf(path);
        run.format = BookFormat::AacStandard;
        run.bitRate = u"128k"_s;
        run.chooseMethod();
        BookRun book(run, u"Fablewick-test"_s);
        QSignalSpy made(&book, &Job::succeeded);
        QSignalSpy failed(&book, &Job::failed);
        book.start();
        QVERIFY(QTest::qWaitFor([&] { return book.state() == RunState::Encoding; }, 60000));
        QTest::qWait(300);
        book.stop(BookRun::Leftovers::Removed);
        QCOMPARE(book.state(), RunState::Idle);
        QVERIFY(book.folder());
        QVERIFY(QDir(*book.folder()).isEmpty());
        // Nothing of the stopped run is told afterwards.
        QTest::qWait(500);
        QVERIFY(made.isEmpty());
        QVERIFY(failed.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBookRun)
#include "tst_bookrun.moc"
