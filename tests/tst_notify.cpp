#include "TestSupport.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kNotifications = u"org.freedesktop.Notifications"_s;
const QString kNotificationsPath = u"/org/freedesktop/Notifications"_s;

struct Shown
{
    QString summary;
    QString body;
    QStringList actions;
};

// Stands in for the desktop's notification service.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        shown << Shown{summary, body, actions};
        return static_cast<uint>(shown.size());
    }
};

// Stands in for the file manager.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shownItems;

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shownItems << uris; }
};

QStringList gMessages;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    // The offscreen platform's own remark on every sheet is not ours.
    if (!message.contains(u"propagateSizeHints"_s))
        gMessages << message;
}

void makeBook(AppController& c, const QString& encoding)
{
    QTest::mouseClick(control<QPushButton>(c, u"makeButton"_s), Qt::LeftButton);
    control<QLineEdit>(c, u"outputName"_s)->setText(u"Book"_s);
    chooseEncoding(c, encoding);
    QTest::mouseClick(control<QPushButton>(c, u"outputStart"_s), Qt::LeftButton);
    QVERIFY(waitUntilIdle(c));
}

// A controller with one short file listed.
struct OneFile
{
    OneFile() : source(environment.sources() + u"/one.mp3"_s)
    {
        QVERIFY(makeMp3(source, 2, 22050, 1, 32));
        c().applicationOpenFiles({source});
    }
    AppController& c() { return *app.controller; }

    TestEnvironment environment;
    TestApp app;
    QString source;
};

} // namespace

class TestNotify : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A bus of the test's own, before anything in the process uses the session bus.
    void initTestCase()
    {
        mBus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY2(mBus.waitForStarted(), "dbus-daemon (package dbus-daemon) is needed");
        QVERIFY(mBus.waitForReadyRead(10000));
        const QByteArray address = mBus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        mServiceBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromUtf8(address), u"fake-desktop"_s));
        QVERIFY(mServiceBus->isConnected());
        QVERIFY(mServiceBus->registerObject(kNotificationsPath, &mNotifications,
                                            QDBusConnection::ExportAllSlots));
        QVERIFY(mServiceBus->registerObject(u"/org/freedesktop/FileManager1"_s, &mFileManager,
                                            QDBusConnection::ExportAllSlots));
        QVERIFY(mServiceBus->registerService(u"org.freedesktop.FileManager1"_s));
    }

    void cleanupTestCase()
    {
        mServiceBus.reset();
        QDBusConnection::disconnectFromBus(u"fake-desktop"_s);
        mBus.kill();
        mBus.waitForFinished();
    }

    void theEndOfARunIsAnnounced_data()
    {
        QTest::addColumn<bool>("sourceGone");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("body");
        QTest::newRow("a book made") << false << u"Audiobook finished"_s << u"Book.mp3"_s;
        QTest::newRow("a failed run")
            << true << u"Fablewick encountered a critical error"_s << u"no longer exists"_s;
    }

    void theEndOfARunIsAnnounced()
    {
        QFETCH(bool, sourceGone);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        QVERIFY(mServiceBus->registerService(kNotifications));
        mNotifications.shown.clear();
        OneFile one;
        AppController& c = one.c();
        if (sourceGone)
            QVERIFY(QFile::remove(one.source));

        QStringList titles;
        connect(c.window(), &QWidget::windowTitleChanged, this,
                [&](const QString& title) { titles << title; });
        makeBook(c, u"MP3"_s);
        QTRY_COMPARE(mNotifications.shown.size(), 1);
        QCOMPARE(mNotifications.shown.at(0).summary, summary);
        QVERIFY2(mNotifications.shown.at(0).body.contains(body),
                 qPrintable(mNotifications.shown.at(0).body));
        QCOMPARE(c.window()->windowTitle(), u"Fablewick"_s);
        if (sourceGone)
            return;
        QCOMPARE(*one.app.soundsPlayed, 1);
        QVERIFY(titles.contains(u"Fablewick \u2014 100 %"_s));

        // The notification's action shows the book in the file manager.
        QVERIFY(mNotifications.shown.at(0).actions.contains(u"show"_s));
        mFileManager.shownItems.clear();
        QDBusMessage invoked =
            QDBusMessage::createSignal(kNotificationsPath, kNotifications, u"ActionInvoked"_s);
        invoked << 1U << u"show"_s;
        QVERIFY(mServiceBus->send(invoked));
        QTRY_COMPARE(mFileManager.shownItems,
                     QStringList{QUrl::fromLocalFile(one.environment.desktop() + u"/Book.mp3"_s)
                                     .toString(QUrl::FullyEncoded)});
    }

    void withoutAServiceNothingIsSaid()
    {
        mServiceBus->unregisterService(kNotifications);
        OneFile one;
        AppController& c = one.c();
        gMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
        makeBook(c, u"MP3"_s);
        QTest::qWait(200);
        qInstallMessageHandler(previous);
        QVERIFY(QFile::exists(one.environment.desktop() + u"/Book.mp3"_s));
        QCOMPARE(*one.app.soundsPlayed, 1);
        QVERIFY2(gMessages.isEmpty(), qPrintable(gMessages.join(u" | "_s)));
    }

private:
    QProcess mBus;
    std::unique_ptr<QDBusConnection> mServiceBus;
    FakeNotifications mNotifications;
    FakeFileManager mFileManager;
};

QTEST_MAIN(TestNotify)
#include "tst_notify.moc"
