#include "TestSupport.h"

#include <QAccessible>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

bool waitUntilIdle(const AppController& controller, int timeoutMs)
{
    return QTest::qWaitFor([&controller] { return controller.state() == RunState::Idle; },
                           timeoutMs);
}

void chooseItem(QComboBox* box, const QString& word)
{
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).contains(word)) {
            box->setCurrentIndex(i);
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no item holds ") + word));
}

void chooseEncoding(const AppController& controller, const QString& word)
{
    chooseItem(control<QComboBox>(controller, QStringLiteral("outputEncoding")), word);
}

void nameBook(AppController& controller, const QString& name, const QString& encoding)
{
    controller.joinAll();
    control<QLineEdit>(controller, QStringLiteral("outputName"))->setText(name);
    chooseEncoding(controller, encoding);
}

bool waitUntilListed(const AppController& controller, int timeoutMs)
{
    auto* summary = control<QLabel>(controller, QStringLiteral("listSummary"));
    return QTest::qWaitFor([&] { return !spokenName(summary).contains(QStringLiteral("reading")); },
                           timeoutMs);
}

QString spokenName(QWidget* widget)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

void TestDialogs::beginCriticalAlertSheet(QWidget* window, const AlertSpec& alert,
                                          std::function<void(int)> didEnd)
{
    lastWindow = window;
    alerts.push_back({alert, std::move(didEnd)});
    allAlerts.append(alert);
}

void TestDialogs::beginOpenPanelSheet(QWidget* window, const OpenPanelSpec& panel,
                                      std::function<void(int, const QStringList&)> didEnd)
{
    lastWindow = window;
    openPanels.push_back({panel, std::move(didEnd)});
}

std::optional<QString> TestDialogs::runSavePanel(const SavePanelSpec& panel)
{
    savePanels.append(panel);
    if (savePanelAnswers.empty())
        return std::nullopt;
    const QString answer = savePanelAnswers.front();
    savePanelAnswers.pop_front();
    if (answer.isEmpty())
        return std::nullopt;
    return answer;
}

void TestDialogs::answerAlert(int returnCode)
{
    if (alerts.empty())
        return;
    Alert alert = std::move(alerts.front());
    alerts.pop_front();
    if (alert.didEnd)
        alert.didEnd(returnCode);
}

TestApp::TestApp(const QString& feedUrl, MovieOpener player, const QString& peaksFolder)
{
    AppServices services;
    auto dialogsDouble = std::make_unique<TestDialogs>();
    dialogs = dialogsDouble.get();
    services.dialogs = std::move(dialogsDouble);
    services.makeSound = [this](const std::optional<QString>& path) {
        soundPath = path;
        return std::make_unique<CountingSound>(soundsPlayed);
    };
    services.openMovie = [this](const std::optional<QString>& path) -> std::unique_ptr<Movie> {
        if (!path || path->contains(u"unplayable"_s))
            return nullptr;
        ++movieLog->opened;
        return std::make_unique<FakeMovie>(durationFor(*path), movieLog);
    };
    if (player)
        services.openMovie = std::move(player);
    services.openUrl = [urls = openedUrls](const QUrl& url) {
        urls->append(url);
        return true;
    };
    services.updateFeedUrl = feedUrl;
    services.peaksFolder = peaksFolder;
    controller = std::make_unique<AppController>(std::move(services));
    controller->awakeFromNib();
}

FakeMovie* TestApp::movie() const
{
    return dynamic_cast<FakeMovie*>(controller->preview().audioPreviewObject());
}

void activate(const AppController& controller)
{
    controller.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(controller.window()));
}

void openBook(TestApp& app, const QString& path, bool withPanel)
{
    AppController& c = *app.controller;
    if (withPanel) {
        QTest::keyClick(c.window(), Qt::Key_O, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(app.dialogs->openPanels.size(), size_t(1));
        app.dialogs->openPanels.front().didEnd(1, {path});
        app.dialogs->openPanels.pop_front();
    } else {
        c.applicationOpenFiles({path});
    }
    QVERIFY(waitUntilListed(c));
}

bool waitUntilSaved(const AppController& c, const QString& name)
{
    auto* summary = control<QLabel>(c, u"listSummary"_s);
    const QString saved = u"Saved \u201C%1\u201D"_s.arg(name);
    return QTest::qWaitFor([&] { return spokenName(summary).startsWith(saved); }, 60000) &&
           waitUntilListed(c);
}
