// A book with no window: a draft made from files, its chapters edited and
// the edits undone, its order made and run; a run's steps for each kind of
// book, its signals, its delivery, and a stop that takes its files with it.
#include "BookFiles.h"
#include "BookRun.h"
#include "ChapterEditor.h"
#include "DraftBook.h"
#include "TestCore.h"

#include <QUndoStack>

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

ItemRecord recordOf(const QString& path, std::optional<QByteArray> aacConfig = std::nullopt)
{
    ItemRecord record;
    record.pathColumn = path;
    record.titleColumn = ItemRecord::titleForPath(path);
    if (aacConfig)
        record.copyableAac = ItemRecord::CopyableAac{.audioConfig = *aacConfig, .channels = 1};
    return record;
}

QString stepNames(const RunRequest& run)
{
    QStringList names;
    for (const auto& step : BookRun::steps(RunWork(run)))
        names << BookRun::nameOf(step->state());
    return names.join(u", "_s);
}

// The draft's chapters as "title @ start".
QStringList chaptersOf(const DraftBook& draft)
{
    QStringList chapters;
    for (const ChapterRow& row : draft.chapters())
        chapters << u"%1 @ %2"_s.arg(row.title, QString::number(row.start, 'f', 3));
    return chapters;
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
            run.files << recordOf(file, file.endsWith(u".m4a"_s)
                                            ? std::optional(QByteArray("\x12\x08"))
                                            : std::nullopt);
        run.format = static_cast<BookFormat>(format);
        run.bitRate = bitRate.isEmpty() ? std::nullopt : std::optional(bitRate);
        run.mono = true;
        run.evenVolume = static_cast<EvenVolume>(even);
        QCOMPARE(stepNames(run), steps);
    }

    // The command line's way, and the window's: a draft of the files, its
    // chapters edited, undone and made again, then its order run.
    void aDraftIsEditedAndMadeWithNoWindow()
    {
        TestEnvironment environment;
        ItemList records;
        for (const QString& name : {u"one"_s, u"two"_s}) {
            const QString path = environment.sources() + u'/' + name + u".mp3"_s;
            QVERIFY(makeMp3(path, 3, 22050, 1, 32));
            records << BookFiles::recordOf(path);
        }
        DraftBook draft;
        draft.edit(u"Add Files"_s, [&](DraftBook::Edit& edit) { edit.insert(0, records); });
        const QStringList listed{u"one @ 0.000"_s, u"two @ 3.000"_s};
        QCOMPARE(chaptersOf(draft), listed);

        ChapterEditor chapters(draft);
        QVERIFY(chapters.addAt(records.at(1), 1.5));
        QVERIFY(chapters.retitle(draft.chapters().at(2), u"Inside"_s));
        const QStringList edited{u"one @ 0.000"_s, u"two @ 3.000"_s, u"Inside @ 4.500"_s};
        QCOMPARE(chaptersOf(draft), edited);
        QCOMPARE(chapters.shift(0.25, -1), QString());
        QCOMPARE(chaptersOf(draft),
                 (QStringList{u"one @ 0.000"_s, u"two @ 3.250"_s, u"Inside @ 4.750"_s}));
        // A shift past the end is refused, and changes nothing.
        QVERIFY(chapters.shift(10, -1).contains(u"past the book's end"_s));
        QCOMPARE(draft.history()->count(), 4);
        draft.history()->undo();
        draft.history()->undo();
        QCOMPARE(chaptersOf(draft),
                 (QStringList{u"one @ 0.000"_s, u"two @ 3.000"_s, u"Chapter 3 @ 4.500"_s}));
        draft.history()->undo();
        QCOMPARE(chaptersOf(draft), listed);
        draft.history()->redo();
        draft.history()->redo();
        QCOMPARE(chaptersOf(draft), edited);

        BookTag tags;
        tags.title = u"Alone"_s;
        draft.edit(u"Tags"_s, [&](DraftBook::Edit& edit) { edit.setTags(tags); });
        draft.setSettings({.format = BookFormat::AacBookmark,
                           .bitRate = u"32k"_s,
                           .sampleRate = u"22050"_s,
                           .mono = true,
                           .evenVolume = EvenVolume::Off,
                           .outputName = u"Alone"_s,
                           .encoders = 0});
        const RunRequest order = draft.order();
        QCOMPARE(order.files.size(), 2);
        QCOMPARE(order.files.at(1).editedChapters->size(), 2);

        BookRun book(order, u"Fablewick-test"_s);
        QList<RunState> states;
        connect(&book, &Job::progressed, this, [&](const Job::Progress& progress) {
            if (states.isEmpty() || states.constLast() != BookRun::stateOf(progress))
                states << BookRun::stateOf(progress);
        });
        connect(&book, &BookRun::filesLearned, &draft, &DraftBook::applyLearned);
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
        QStringList made_;
        for (const QJsonValue chapter : info[u"chapters"_s].toArray())
            made_ << chapter[u"tags"_s][u"title"_s].toString();
        QCOMPARE(made_, (QStringList{u"one"_s, u"two"_s, u"Inside"_s}));
        QCOMPARE(info[u"format"_s][u"tags"_s][u"title"_s].toString(), u"Alone"_s);
        // The joiner measured each file; the run told it, and the draft has it.
        QCOMPARE(draft.files().at(1)->exact->sampleRate, 22050);
        QVERIFY(!order.files.at(1).exact);
    }

    void aFailureIsToldInTheWindowsWords()
    {
        TestEnvironment environment;
        RunRequest run;
        run.files << recordOf(environment.sources() + u"/gone.mp3"_s);
        run.format = BookFormat::Mp3;
        BookRun book(run, u"Fablewick-test"_s);
        QSignalSpy failed(&book, &Job::failed);
        QSignalSpy learned(&book, &BookRun::filesLearned);
        book.start();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(
            failed.at(0).at(0).toString(),
            u"Before the files were joined: These files cannot be joined: \u201Cgone.mp3\u201D "
            "no longer exists. Remove them from the list, or put the right files in their "
            "place, and make the audiobook again."_s);
        QVERIFY(!learned.isEmpty());
        QCOMPARE(learned.constLast().at(0).value<QList<ItemRecord>>().at(0).problem,
                 u"no longer exists"_s);
    }

    void aStopEndsTheToolsAndCanTakeTheFiles()
    {
        TestEnvironment environment;
        RunRequest run;
        const QString path = environment.sources() + u"/long.mp3"_s;
        QVERIFY(makeMp3(path, 900, 44100, 2, 128));
        run.files << recordOf(path);
        run.format = BookFormat::AacStandard;
        run.bitRate = u"128k"_s;
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
