#include "FeedParser.h"
#include "FeedServer.h"
#include "Hyperlink.h"
#include "LeadingNumber.h"
#include "TestSupport.h"
#include "UpdateChecker.h"

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QNetworkReply>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray feed(const QString& build, const QString& url = u"http://fablewick.org/download"_s)
{
    return (u"<?xml version=\"1.0\"?><envelope><update app=\"Fablewick\"/><update build=\"%1\"/>"
            u"<update url=\"%2\"/></envelope>"_s.arg(build.toHtmlEscaped(), url.toHtmlEscaped()))
        .toUtf8();
}

struct Parsed
{
    explicit Parsed(const QByteArray& xml)
    {
        FeedParser::parse(xml, {.envelopeEnded =
                                    [this](const FeedParser::Info& i) {
                                        events << u"end"_s;
                                        info = i;
                                    },
                                .failed =
                                    [this](const FeedParser::Info& i, const QString&) {
                                        events << u"error"_s;
                                        info = i;
                                    }});
    }
    QStringList events;
    FeedParser::Info info;
};

struct Listener final : autoUpdateDelegate
{
    void autoUpdateDidFinish(UpdateChecker*, const std::optional<UpdateError>& error) override
    {
        ++calls;
        last = error;
    }
    int calls = 0;
    std::optional<UpdateError> last;
};

QString noticeOf(const AppController& c)
{
    return c.updateNotice().updateSheet()->isVisible() ? c.updateNotice().updateText()->text() : QString();
}

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theFeedIsReadByItsRules()
    {
        Parsed plain(feed(u"1.3"_s));
        QCOMPARE(plain.events, QStringList{u"end"_s});
        QCOMPARE(plain.info.value(u"build"_s), u"1.3"_s);
        QCOMPARE(plain.info.value(u"url"_s), u"http://fablewick.org/download"_s);
        QCOMPARE(plain.info.value(u"app"_s), u"Fablewick"_s);

        Parsed three("<envelope><update build=\"2\"/><update a=\"1\" b=\"2\" c=\"3\"/></envelope>");
        QCOMPARE(three.events, QStringList{u"error"_s});
        QCOMPARE(three.info.value(u"build"_s), u"2"_s); // kept from before the failure

        Parsed odd("<envelope><update/><update other=\"x\"/><update id=\"k\" desc=\"v\"/>"
                   "<update one=\"1\" two=\"2\"/><update build=\"1\"/><update build=\"4\"/>"
                   "<x:update build=\"9\"/></envelope>");
        QCOMPARE(odd.events, QStringList{u"end"_s});
        QCOMPARE(odd.info, (FeedParser::Info{{u"k"_s, u"v"_s}, {u"build"_s, u"4"_s}}));

        QVERIFY(Parsed("<feed><update build=\"5\"/></feed>").events.isEmpty());
        QCOMPARE(Parsed("<envelope/>trailing text").events, (QStringList{u"end"_s, u"error"_s}));
        QCOMPARE(Parsed("").events, QStringList{u"error"_s});
        QCOMPARE(Parsed("<html><body>Not Found</body>").events, QStringList{u"error"_s});
    }

    void versionsReadAsOneNumber()
    {
        QVERIFY(leadingFloatValue(u"1.10"_s) < leadingFloatValue(u"1.9"_s));
        QCOMPARE(leadingFloatValue(u"1.2.3"_s), 1.2F);
        QCOMPARE(leadingFloatValue(u"  2.0 beta"_s), 2.0F);
        QCOMPARE(leadingFloatValue(u"beta"_s), 0.0F);
        QCOMPARE(leadingFloatValue(QString()), 0.0F);
    }

    void linksAreWebLinksOnly()
    {
        const QString link = Hyperlink::hyperlinkFromString(u"fablewick.org"_s,
                                                            QUrl(u"https://x.org/a?b=1&c=\"2\""_s));
        QVERIFY(link.startsWith(u"<a href=\"https://x.org/a?b=1&amp;c=%222%22\""_s));
        QVERIFY(link.contains(u"color:#0000ff"_s) && link.contains(u"underline"_s));
        QVERIFY(link.endsWith(u">fablewick.org</a>"_s));
        QCOMPARE(Hyperlink::hyperlinkFromString(u"<b>x</b>"_s, QUrl(u"javascript:alert(1)"_s)),
                 u"&lt;b&gt;x&lt;/b&gt;"_s);
        QCOMPARE(Hyperlink::hyperlinkFromString(u"x"_s, QUrl(u"file:///etc/passwd"_s)), u"x"_s);
        QCOMPARE(Hyperlink::hyperlinkFromString(u"x"_s, QUrl()), u"x"_s);
    }

    void noNetworkIsTold()
    {
        const UpdateError none = UpdateChecker::errorFor(QNetworkReply::HostNotFoundError, u"x"_s);
        QCOMPARE(none.code, -1009);
        QCOMPARE(none.domain, u"NSCocoaErrorDomain"_s);
        QCOMPARE(none.description, u"No Connection Error"_s);
        QCOMPARE(UpdateChecker::errorFor(QNetworkReply::ConnectionRefusedError, u"refused"_s)
                     .description,
                 u"refused"_s);
    }

    void checksAgainstALocalServer()
    {
        FeedServer server;
        server.answers = {{feed(u"1.3"_s), 0, false},
                          {"<envelope><update build=\"1.4\"/></envelope>", 0, false}};
        UpdateChecker checker(server.url());
        Listener listener;
        checker.setDelegate(&listener);
        checker.startChecking();
        QTRY_COMPARE(listener.calls, 1);
        QVERIFY(!listener.last);
        QCOMPARE(checker.updateInfo().value(u"build"_s), u"1.3"_s);
        QVERIFY(server.requests.at(0).toLower().contains("cache-control: no-cache"));
        QVERIFY(server.requests.at(0).startsWith("GET /storage/update/fablewickupdate.xml "));

        checker.startChecking();
        QTRY_COMPARE(listener.calls, 2);
        QCOMPARE(checker.updateInfo().value(u"build"_s), u"1.4"_s);
        QCOMPARE(checker.updateInfo().value(u"url"_s), u"http://fablewick.org/download"_s);
    }

    void errorsReachOnlyManualChecks()
    {
        FeedServer server;
        server.answers = {{"<envelope><update a=\"1\" b=\"2\" c=\"3\"/></envelope>", 0, false}};
        UpdateChecker checker(server.url());
        Listener listener;
        checker.setDelegate(&listener);
        checker.setAutoUpdate(true);
        checker.startChecking();
        QTRY_COMPARE(server.requests.size(), 1);
        QTest::qWait(300);
        QCOMPARE(listener.calls, 0);
        checker.setAutoUpdate(false);
        checker.startChecking();
        QTRY_COMPARE(listener.calls, 1);
        QVERIFY(listener.last);

        UpdateChecker refused(u"http://127.0.0.1:9/feed.xml"_s);
        refused.setDelegate(&listener);
        refused.startChecking();
        QTRY_COMPARE(listener.calls, 2);
        QVERIFY(listener.last);

        // A well-formed page without an envelope says nothing at all.
        server.answers = {{"<html/>", 0, false}};
        checker.startChecking();
        QTest::qWait(500);
        QCOMPARE(listener.calls, 2);
    }

    void aLaterCheckReplacesAnEarlierOne()
    {
        FeedServer server;
        server.answers = {{feed(u"9.0"_s), 700, false}, {feed(u"1.1"_s), 0, false}};
        UpdateChecker checker(server.url());
        Listener listener;
        checker.setDelegate(&listener);
        checker.setAutoUpdate(true);
        checker.startChecking();
        QTRY_COMPARE(server.requests.size(), 1);
        checker.setAutoUpdate(false);
        checker.startChecking();
        QTRY_COMPARE(listener.calls, 1);
        QTest::qWait(1000);
        QCOMPARE(listener.calls, 1);
        QCOMPARE(checker.updateInfo().value(u"build"_s), u"1.1"_s);
    }

    void aSilentServerEndsTheCheckAfterTwentySeconds()
    {
        FeedServer server;
        server.answers = {{{}, 0, true}};
        UpdateChecker checker(server.url());
        Listener listener;
        checker.setDelegate(&listener);
        QElapsedTimer clock;
        clock.start();
        checker.startChecking();
        QTRY_COMPARE_WITH_TIMEOUT(listener.calls, 1, 30000);
        QVERIFY(clock.elapsed() >= 19000);
        QVERIFY(listener.last);
        QCOMPARE(listener.last->code, UpdateError::kTimedOut);
    }

    void theNoticeAtStartAndOnRequest()
    {
        TestEnvironment environment;
        FeedServer newer;
        newer.answers = {{feed(u"1.2"_s, u"https://fablewick.org/get"_s), 0, false}};
        TestApp app(newer.url());
        QTRY_VERIFY(app.controller->updateNotice().updateSheet()->isVisible());
        const QString notice = noticeOf(*app.controller);
        QVERIFY(notice.startsWith(
            u"A new version of Fablewick has been released. Version 1.2 is available at <a "_s));
        QVERIFY(notice.contains(u"href=\"https://fablewick.org/get\""_s));
        QVERIFY(notice.endsWith(u">fablewick.org</a>"_s));
        // A screen reader reads the notice itself, not a name standing in for it.
        auto* label = app.controller->window()->findChild<QLabel*>(u"updateMessage"_s);
        QVERIFY(label);
        QCOMPARE(spokenName(label), u"A new version of Fablewick has been released. "
                                    u"Version 1.2 is available at fablewick.org"_s);
        app.controller->updateNotice().closeUpdateWindow();
        QVERIFY(!app.controller->updateNotice().updateSheet()->isVisible());

        FeedServer same;
        same.answers = {{feed(u"1.0"_s), 0, false}};
        TestApp current(same.url());
        QTRY_COMPARE(same.requests.size(), 1);
        QTest::qWait(300);
        QVERIFY(!current.controller->updateNotice().updateSheet()->isVisible());
        current.controller->updateNotice().checkForUpdate();
        QTRY_VERIFY(current.controller->updateNotice().updateSheet()->isVisible());
        QVERIFY(noticeOf(*current.controller)
                    .startsWith(u"You have the latest version (1.0) of Fablewick installed. For "
                                u"more information visit <a "_s));
    }

    void theNoticeIsEscapedAndWaitsForOtherSheets()
    {
        TestEnvironment environment;
        FeedServer server;
        server.answers = {{feed(u"7<b>x</b>"_s, u"javascript:alert(1)"_s), 300, false}};
        TestApp app(server.url());
        app.controller->startTagging(); // a sheet is up when the notice arrives
        QTRY_COMPARE(server.requests.size(), 1);
        QTest::qWait(800);
        QVERIFY(!app.controller->updateNotice().updateSheet()->isVisible());
        app.controller->stopTagging();
        QTRY_VERIFY(app.controller->updateNotice().updateSheet()->isVisible());
        const QString notice = noticeOf(*app.controller);
        QVERIFY(notice.contains(u"Version 7&lt;b&gt;x&lt;/b&gt; is available"_s));
        QVERIFY(!notice.contains(u"<a "_s));
        QVERIFY(!notice.contains(u"javascript"_s));
    }

    void aFailedManualCheckIsExplained()
    {
        TestEnvironment environment;
        TestApp app; // nothing answers: the start-up check stays silent
        QTest::qWait(500);
        QVERIFY(!app.controller->updateNotice().updateSheet()->isVisible());
        app.controller->updateNotice().checkForUpdate();
        QTRY_VERIFY(app.controller->updateNotice().updateSheet()->isVisible());
        QVERIFY(noticeOf(*app.controller).contains(u"could not check for updates"_s));
        app.controller->updateNotice().closeUpdateWindow();

        UpdateChecker offline(u"http://127.0.0.1:9/x"_s);
        app.controller->updateNotice().autoUpdateDidFinish(
            &offline, UpdateChecker::errorFor(QNetworkReply::HostNotFoundError, {}));
        QTRY_VERIFY(app.controller->updateNotice().updateSheet()->isVisible());
        QVERIFY(noticeOf(*app.controller).contains(u"connected to the internet"_s));
    }

    void releaseNotesAndHelpOpen()
    {
        TestEnvironment environment;
        TestApp app;
        app.controller->updateNotice().showReleaseNote();
        app.controller->updateNotice().launchBrowser();
        QCOMPARE(app.openedUrls->size(), 2);
        QVERIFY(app.openedUrls->at(0).isLocalFile());
        QVERIFY(app.openedUrls->at(0).toLocalFile().endsWith(u"/release.txt"_s));
        QCOMPARE(app.openedUrls->at(1), QUrl(u"http://fablewick.org/fablewick-help"_s));
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
