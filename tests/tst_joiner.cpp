#include "Mp3Joiner.h"
#include "TestCore.h"
#include "WorkerException.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace {

// Each file the join told of, as (file, files).
QList<QPair<int, int>> filesTold(const RunEnd& end)
{
    QList<QPair<int, int>> files;
    for (const RunEnd::Told& told : end.told())
        files.append({static_cast<int>(told.done) - 1, static_cast<int>(told.total)});
    return files;
}

ItemRecordPtr record(const QString& path)
{
    auto r = std::make_shared<ItemRecord>();
    r->pathColumn = path;
    return r;
}

struct Join
{
    explicit Join(const TestEnvironment& environment) : folder(environment.root() + u"/work"_s)
    {
        QDir().mkpath(folder);
        joiner.setOutputFolder(folder);
        joiner.setOutputFile(u"mp3"_s);
    }
    // The whole join, its lengths put into the records.
    void run()
    {
        joiner.startJoin(recorder.reports());
        QVERIFY(QTest::qWaitFor([this] { return recorder.finished() > 0; }, 60000));
        joiner.recordLengths();
    }
    QString folder;
    RunEnd recorder;
    Mp3Joiner joiner;
};

} // namespace

class TestJoiner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void joinsFilesInOrderAndRecordsTheirTimes()
    {
        TestEnvironment environment;
        const QStringList sources{environment.sources() + u"/b 3m25s.mp3"_s,
                                  environment.sources() + u"/a 50s.mp3"_s,
                                  environment.sources() + u"/c 12m15s.mp3"_s};
        QVERIFY(makeMp3(sources[0], 205, 22050, 1, 32));
        QVERIFY(makeMp3(sources[1], 50, 22050, 1, 32));
        QVERIFY(makeMp3(sources[2], 735, 22050, 1, 32));
        Join join(environment);
        const ItemList files{record(sources[0]), record(sources[1]), record(sources[2])};
        join.joiner.setJoinFiles(files);
        join.run();

        QCOMPARE(join.recorder.finished(), 1);
        QVERIFY(!join.recorder.exception());
        QCOMPARE(filesTold(join.recorder), (QList<QPair<int, int>>{{0, 3}, {1, 3}, {2, 3}}));
        QCOMPARE(files[0]->mins, u"3"_s);
        QCOMPARE(files[0]->secs, u"25"_s);
        QCOMPARE(files[1]->mins, u"0"_s);
        QCOMPARE(files[1]->secs, u"50"_s);
        QCOMPARE(files[2]->mins, u"12"_s);
        QCOMPARE(files[2]->secs, u"15"_s);
        for (int i = 0; i < 3; ++i) {
            const QString link = join.folder + u"/Originals/%1.mp3"_s.arg(i);
            QCOMPARE(files[i]->symbolicPath, link);
            QCOMPARE(QFileInfo(link).symLinkTarget(), sources[i]);
        }
        QCOMPARE(readFile(join.folder + u"/mp3.mp3"_s),
                 readFile(sources[0]) + readFile(sources[1]) + readFile(sources[2]));
    }

    void anEmptyListMakesOnlyTheFolder()
    {
        TestEnvironment environment;
        Join join(environment);
        join.run();
        QCOMPARE(join.recorder.finished(), 1);
        QVERIFY(!join.recorder.exception());
        QVERIFY(filesTold(join.recorder).isEmpty());
        QVERIFY(QFileInfo(join.folder + u"/Originals"_s).isDir());
        QVERIFY(!QFile::exists(join.folder + u"/mp3.mp3"_s));
    }

    void anUnreadableFileEndsTheJoin()
    {
        TestEnvironment environment;
        const QString first = environment.sources() + u"/1.mp3"_s;
        QVERIFY(makeMp3(first, 2));
        Join join(environment);
        join.joiner.setJoinFiles(
            {record(first), record(environment.sources() + u"/gone.mp3"_s), record(first)});
        join.run();
        QCOMPARE(join.recorder.finished(), 1);
        QVERIFY(join.recorder.exception());
        QVERIFY_THROWS_EXCEPTION(WorkerException, std::rethrow_exception(join.recorder.exception()));
        QCOMPARE(filesTold(join.recorder), (QList<QPair<int, int>>{{0, 3}}));
        QCOMPARE(readFile(join.folder + u"/mp3.mp3"_s), readFile(first));

        Join noFolder(environment);
        noFolder.joiner.setOutputFolder(environment.root() + u"/missing"_s);
        noFolder.joiner.setJoinFiles({record(first)});
        noFolder.run();
        QVERIFY(noFolder.recorder.exception());
    }

    void oddSourcePathsAreJoined()
    {
        TestEnvironment environment;
        QVERIFY(QDir::setCurrent(environment.root()));
        const QStringList names{u"it's.mp3"_s, u"$(touch SENTINEL).mp3"_s, u"`id`\\ \"q\".mp3"_s,
                                u"-Ünï.mp3"_s};
        ItemList files;
        QByteArray expected;
        for (const QString& name : names) {
            const QString path = environment.sources() + u'/' + name;
            QVERIFY(makeMp3(path, 1));
            files.append(record(path));
            expected += readFile(path);
        }
        Join join(environment);
        join.joiner.setJoinFiles(files);
        join.run();
        QVERIFY(!join.recorder.exception());
        QCOMPARE(readFile(join.folder + u"/mp3.mp3"_s), expected);
        QVERIFY(!QFile::exists(environment.root() + u"/SENTINEL"_s));
    }

    // A stop ends the running cat and the join with it.
    void terminateStopsTheJoin()
    {
        TestEnvironment environment;
        const QString fakes = environment.root() + u"/bin"_s;
        QVERIFY(QDir().mkpath(fakes));
        makeFakeTool(fakes, u"cat"_s, u"sleep 30"_s);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(fakes) + ':' + oldPath);
        const QString first = environment.sources() + u"/1.mp3"_s;
        QVERIFY(makeMp3(first, 1));
        Join join(environment);
        join.joiner.setJoinFiles({record(first), record(first), record(first)});
        QTimer::singleShot(300, [&] {
            QVERIFY(join.joiner.isJoining());
            join.joiner.terminateJoin();
        });
        QElapsedTimer clock;
        clock.start();
        join.run();
        qputenv("PATH", oldPath);
        QVERIFY(clock.elapsed() < 20000);
        QCOMPARE(join.recorder.finished(), 1);
        QVERIFY(!join.recorder.exception());
        QCOMPARE(filesTold(join.recorder), (QList<QPair<int, int>>{{0, 3}}));
        QVERIFY(!join.joiner.isJoining());
        join.joiner.terminateJoin(); // nothing runs: nothing happens
    }
};

QTEST_GUILESS_MAIN(TestJoiner)
#include "tst_joiner.moc"
