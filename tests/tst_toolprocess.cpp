#include "FileMover.h"
#include "ProcessSlot.h"
#include "TestCore.h"
#include "ToolProcess.h"
#include "WorkerException.h"

#include <QFile>
#include <QTest>
#include <chrono>
#include <future>
#include <sys/stat.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

class TestToolProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A tool's failure is not an exception of its own, but how it ended is known,
    // and what it said last on its standard error.
    void howAToolEndedIsKnown_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("clean");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("said");
        QTest::newRow("success") << u"echo out"_s << QByteArray("out\n") << true
                                 << u"exited with status 0"_s << QString();
        QTest::newRow("a failure")
            << u"sh -c \"echo out; printf 'one\\ntwo\\r\\nthree\\nfour\\n' >&2; exit 3\""_s
            << QByteArray("out\n") << false << u"exited with status 3"_s << u"two / three / four"_s;
        QTest::newRow("ffmpeg stopped amid its progress")
            << u"sh -c \"printf 'Invalid data found\nsize=  1kB time=00:00:01.00 bitrate=8\r"
               u"size=  2kB time=00:00:02.00 bitrate=8\r\nExiting normally, received signal "
               u"15.\n' >&2; exit 255\""_s
            << QByteArray() << false << u"exited with status 255"_s
            << u"Invalid data found / Exiting normally, received signal 15."_s;
        QTest::newRow("a missing tool")
            << u"'/no/such/tool' -x"_s << QByteArray() << false << u"exited with status 127"_s
            << u"/bin/sh: 1: exec: /no/such/tool: not found"_s;
        QTest::newRow("killed") << u"kill -9 $$"_s << QByteArray() << false
                                << u"was killed by signal 9"_s << QString();
    }

    void howAToolEndedIsKnown()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, output);
        QFETCH(bool, clean);
        QFETCH(QString, description);
        QFETCH(QString, said);
        TestEnvironment environment;
        ToolProcess process(command);
        process.launch(ToolOutput::WholeStdout);
        QCOMPARE(process.readStdoutToEnd(), output);
        process.waitUntilExit();
        QCOMPARE(process.exitedCleanly(), clean);
        QCOMPARE(QString::fromStdString(process.exitDescription()), description);
        QCOMPARE(QString::fromStdString(process.errorTail()), said);
    }

    void standardErrorIsStreamedToTheEnd()
    {
        ToolProcess process(
            u"sh -c \"printf 'one\\r' >&2; sleep 0.2; printf 'two\\n' >&2; echo kept\""_s);
        process.launch(ToolOutput::StderrStreamed);
        QByteArray all;
        for (QByteArray chunk = process.readChunk(); !chunk.isEmpty(); chunk = process.readChunk())
            all += chunk;
        process.waitUntilExit();
        QCOMPARE(all, QByteArray("one\rtwo\n"));

        ToolProcess silent(u"true"_s);
        silent.launch(ToolOutput::StderrStreamed);
        QVERIFY(silent.readChunk().isEmpty());
        silent.waitUntilExit();
    }

    void discardedOutputNeverBlocksTheTool()
    {
        // More than a pipe holds: a tool writing into an unread pipe would hang.
        ToolProcess process(u"head -c 1000000 /dev/zero"_s);
        process.launch(ToolOutput::StdoutDiscarded);
        auto done = std::async(std::launch::async, [&] { process.waitUntilExit(); });
        QCOMPARE(done.wait_for(20s), std::future_status::ready);
    }

    // A stop from one thread ends the wait of another, and reaches what the shell started.
    void terminateEndsAWaitingThread()
    {
        TestEnvironment environment;
        const QString pidFile = environment.root() + u"/child"_s;
        auto process = std::make_shared<ToolProcess>(
            u"sh -c \"sleep 30 & echo $! > '%1'; wait\""_s.arg(pidFile));
        process->launch(ToolOutput::Inherited);
        ProcessSlot slot;
        slot.hold(process);
        auto waited = std::async(std::launch::async, [process] { process->waitUntilExit(); });
        QTRY_VERIFY(QFile(pidFile).size() > 0);
        QVERIFY(slot.isRunning());
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString child = u"/proc/%1/stat"_s.arg(file.readAll().trimmed().toInt());
        slot.terminateIfRunning();
        QCOMPARE(waited.wait_for(10s), std::future_status::ready);
        QVERIFY(!slot.isRunning());
        slot.terminateIfRunning(); // an ended process: nothing happens
        slot.release();
        slot.terminateIfRunning(); // no process: nothing happens
        // The shell's child ends too (gone, or a zombie waiting to be reaped).
        auto childRuns = [&child] {
            QFile stat(child);
            if (!stat.open(QIODevice::ReadOnly))
                return false;
            const QByteArray text = stat.readAll();
            return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
        };
        QTRY_VERIFY_WITH_TIMEOUT(!childRuns(), 5000);
    }

    void stoppingFromManyThreadsWhileItEnds()
    {
        for (int round = 0; round < 20; ++round) {
            auto process = std::make_shared<ToolProcess>(u"sleep 0.0%1"_s.arg(round % 5));
            ProcessSlot slot;
            process->launch(ToolOutput::Inherited);
            slot.hold(process);
            std::thread waiter([&] {
                process->waitUntilExit();
                slot.release();
            });
            for (int i = 0; i < 50; ++i)
                slot.terminateIfRunning();
            waiter.join();
            // Its end is read right whichever came first, the stop or the exit.
            const std::string end = process->exitDescription();
            QVERIFY2(process->exitedCleanly() || end == "was killed by signal 15", end.c_str());
        }
    }

    void movesNeverLeaveAPartialFile()
    {
        TestEnvironment environment;
        const QString src = environment.root() + u"/a.bin"_s;
        const QString dst = environment.root() + u"/b.bin"_s;
        QVERIFY(writeFile(src, "payload"));
        QVERIFY(FileMover::move(src, dst));
        QCOMPARE(readFile(dst), QByteArray("payload"));
        QVERIFY(!QFile::exists(src));
        QVERIFY(writeFile(src, "second"));
        QVERIFY(!FileMover::move(src, dst)); // taken: not overwritten
        QCOMPARE(readFile(dst), QByteArray("payload"));
        QVERIFY(FileMover::moveReplacing(src, dst));
        QCOMPARE(readFile(dst), QByteArray("second"));
        QVERIFY(!FileMover::move(environment.root() + u"/none"_s, dst));
        QCOMPARE(readFile(dst), QByteArray("second"));
        QVERIFY(!FileMover::move(dst, environment.root() + u"/no/such/folder/x"_s));
        QCOMPARE(readFile(dst), QByteArray("second"));
        QCOMPARE(QDir(environment.root()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"b.bin"_s});
    }

    void movesAcrossFileSystems()
    {
        TestEnvironment environment;
        struct stat shm
        {
        };
        struct stat here
        {
        };
        if (::stat("/dev/shm", &shm) != 0 ||
            ::stat(QFile::encodeName(environment.root()).constData(), &here) != 0 ||
            shm.st_dev == here.st_dev)
            QSKIP("no second file system to move across");
        QTemporaryDir other(u"/dev/shm/fablewick-test-XXXXXX"_s);
        QVERIFY(other.isValid());
        const QString src = other.path() + u"/book.mp3"_s;
        QVERIFY(writeFile(src, QByteArray(300000, 'x')));
        const QString dst = environment.root() + u"/book.mp3"_s;
        QVERIFY(FileMover::move(src, dst));
        QCOMPARE(readFile(dst).size(), 300000);
        QVERIFY(!QFile::exists(src));
        QVERIFY(writeFile(src, "new"));
        QVERIFY(FileMover::moveReplacing(src, dst));
        QCOMPARE(readFile(dst), QByteArray("new"));
        QCOMPARE(QDir(environment.root()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"book.mp3"_s});
    }
};

QTEST_GUILESS_MAIN(TestToolProcess)
#include "tst_toolprocess.moc"
