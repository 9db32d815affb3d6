#pragma once

// What widget and controller tests use besides the core: the controller over
// test doubles for the desktop.
#include "AppController.h"
#include "AudioPreview.h"
#include "BookActions.h"
#include "DraftBook.h"
#include "UpdateNotice.h"
#include "AudiobookTableView.h"
#include "DialogService.h"
#include "Movie.h"
#include "SoundPlayer.h"
#include "TestCore.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

// A control of the main window or of one of its sheets, found by its name as
// a user or a screen reader finds it, never through the controller's insides.
template <typename Widget> Widget* control(const AppController& controller, const QString& name)
{
    auto* found = controller.window()->findChild<Widget*>(name);
    if (!found)
        qFatal("no control named %s", qPrintable(name));
    return found;
}

// Lets the event loop run until the controller's run has ended.
[[nodiscard]] bool waitUntilIdle(const AppController& controller, int timeoutMs = 180000);
// Chooses the first item of the box whose text holds word; fails the test when none does.
void chooseItem(QComboBox* box, const QString& word);
// Chooses the output sheet's encoding whose title holds word ("MP3", "Bookmark").
void chooseEncoding(const AppController& controller, const QString& word);
// Opens the output sheet with the book's name and encoding filled in, ready to start.
void nameBook(AppController& controller, const QString& name, const QString& encoding);
// Lets the event loop run until every file given is listed with its length,
// as the line below the list tells.
[[nodiscard]] bool waitUntilListed(const AppController& controller, int timeoutMs = 60000);
// Until the line under the list says that the book was saved under that name.
[[nodiscard]] bool waitUntilSaved(const AppController& c, const QString& name);
// The window as a user has it: shown and active, so that its keys work.
void activate(const AppController& controller);
// What a screen reader says of a widget: its accessible name.
[[nodiscard]] QString spokenName(QWidget* widget);

// Alerts and panels answered by the test.
class TestDialogs final : public DialogService
{
public:
    struct Alert
    {
        AlertSpec shown;
        std::function<void(int)> didEnd;
    };
    struct OpenPanel
    {
        OpenPanelSpec shown;
        std::function<void(int, const QStringList&)> didEnd;
    };

    void beginCriticalAlertSheet(QWidget* window, const AlertSpec& alert,
                                 std::function<void(int)> didEnd) override;
    void beginOpenPanelSheet(QWidget* window, const OpenPanelSpec& panel,
                             std::function<void(int, const QStringList&)> didEnd) override;
    std::optional<QString> runSavePanel(const SavePanelSpec& panel) override;

    // Answers the oldest open alert with the return code.
    void answerAlert(int returnCode);

    std::deque<Alert> alerts;
    QList<AlertSpec> allAlerts;
    std::deque<OpenPanel> openPanels;
    QList<SavePanelSpec> savePanels;
    // The paths the save panel answers with, oldest first; an empty one cancels.
    std::deque<QString> savePanelAnswers;
    QWidget* lastWindow = nullptr;
};

class CountingSound final : public SoundPlayer
{
public:
    explicit CountingSound(std::shared_ptr<int> count) : mCount(std::move(count)) {}
    void play() override { ++*mCount; }

private:
    std::shared_ptr<int> mCount;
};

// A player that plays nothing aloud: the test moves its clock.
class FakeMovie final : public Movie
{
public:
    struct Log
    {
        int plays = 0;
        int stops = 0;
        int opened = 0;
        QList<qint64> seeks;
        // Loads wait for finishLoading() instead of ending on the event loop.
        bool holdLoads = false;
        QList<FakeMovie*> loading;
    };
    FakeMovie(qint64 duration, std::shared_ptr<Log> log) : mDuration(duration), mLog(std::move(log))
    {
    }
    ~FakeMovie() override { mLog->loading.removeAll(this); }
    void whenLoaded(std::function<void(bool playable)> done) override
    {
        mDone = std::move(done);
        if (mLog->holdLoads)
            mLog->loading << this;
        else
            QTimer::singleShot(0, &mContext, [this] { finishLoading(); });
    }
    void finishLoading()
    {
        mLog->loading.removeAll(this);
        if (const auto done = std::exchange(mDone, {}))
            done(true);
    }
    void play() override
    {
        ++mLog->plays;
        mPlaying = true;
    }
    void stop() override
    {
        ++mLog->stops;
        mPlaying = false;
    }
    float rate() const override { return mPlaying ? 1.0F : 0.0F; }
    qint64 currentTime() const override { return mTime; }
    void setCurrentTime(qint64 time) override
    {
        mLog->seeks << time;
        mTime = time;
    }
    qint64 duration() const override { return mDuration; }
    qint64 timeScale() const override { return 1000; }
    void stepForward() override { mTime = std::min(mTime + 5000, mDuration); }
    void stepBackward() override { mTime = std::max<qint64>(mTime - 5000, 0); }
    // The file plays on by itself, or reaches its end.
    void advance(qint64 ms)
    {
        mTime = std::min(mTime + ms, mDuration);
        if (mTime == mDuration)
            mPlaying = false;
    }

private:
    QObject mContext;
    std::function<void(bool)> mDone;
    qint64 mDuration;
    qint64 mTime = 0;
    bool mPlaying = false;
    std::shared_ptr<Log> mLog;
};

// A controller over test doubles, started up. Files whose name holds
// "unplayable" do not open; others last durationFor's answer (10 s).
struct TestApp
{
    // The update feed comes from feedUrl; by default nothing answers there.
    // With a player given, the preview plays through it instead of a FakeMovie.
    // The waveform draws no sound unless given a folder for its summaries:
    // other tests' fake ffmpegs would see its runs.
    explicit TestApp(const QString& feedUrl = QStringLiteral("http://127.0.0.1:9/feed.xml"),
                     MovieOpener player = {}, const QString& peaksFolder = {});
    [[nodiscard]] FakeMovie* movie() const;
    std::shared_ptr<FakeMovie::Log> movieLog = std::make_shared<FakeMovie::Log>();
    std::function<qint64(const QString&)> durationFor = [](const QString&) { return 10000; };
    TestDialogs* dialogs = nullptr;
    std::shared_ptr<QList<QUrl>> openedUrls = std::make_shared<QList<QUrl>>();
    std::shared_ptr<int> soundsPlayed = std::make_shared<int>(0);
    std::optional<QString> soundPath;
    std::unique_ptr<AppController> controller;
};

// Opens a finished book as a user does: with Open Book…, or by opening the
// file with the application; then waits until it is listed.
void openBook(TestApp& app, const QString& path, bool withPanel);
