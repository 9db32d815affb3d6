#include "InstanceChannel.h"
#include "TestCore.h"

#include <QSignalSpy>
#include <QTest>
#include <future>

using namespace Qt::Literals::StringLiterals;

class TestInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aSecondLaunchHandsOverItsFiles()
    {
        TestEnvironment environment;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(environment.tmp()));
        QVERIFY(!InstanceChannel::sendToRunningInstance({u"/a.mp3"_s})); // nobody listens

        InstanceChannel running;
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::filesReceived);
        const QStringList files{u"/books/it's Ünï.mp3"_s, u"/books/two.mp3"_s};
        auto sent = std::async(std::launch::async,
                               [&] { return InstanceChannel::sendToRunningInstance(files); });
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, 5000);
        QCOMPARE(received.at(0).at(0).toStringList(), files);
        while (sent.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            QTest::qWait(10);
        QVERIFY(sent.get());

        InstanceChannel second;
        QVERIFY(!second.listen()); // one instance takes the files
    }

    void aSocketLeftBehindIsTakenOver()
    {
        TestEnvironment environment;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(environment.tmp()));
        QVERIFY(writeFile(InstanceChannel::serverName(), "stale"));
        InstanceChannel channel;
        QVERIFY(channel.listen());
    }
};

QTEST_MAIN(TestInstance)
#include "tst_instance.moc"
