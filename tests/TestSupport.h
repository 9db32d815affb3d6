#pragma once

#include "AppController.h"
#include "AudiobookTableView.h"
#include "DialogService.h"
#include "SoundPlayer.h"

#include <QList>
#include <QString>
#include <QDir>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>

// A fresh home, temporary directory and Desktop for one test, with the
// application's resource directory pointed at the build's own.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    [[nodiscard]] QString root() const { return mRoot.path(); }
    [[nodiscard]] QString home() const { return root() + QStringLiteral("/home"); }
    [[nodiscard]] QString tmp() const { return root() + QStringLiteral("/tmp"); }
    [[nodiscard]] QString desktop() const { return home() + QStringLiteral("/Desktop"); }
    // A folder of its own for source files.
    [[nodiscard]] QString sources() const { return root() + QStringLiteral("/sources"); }

private:
    QTemporaryDir mRoot;
    QByteArray mOldHome;
    QByteArray mOldTmp;
};

// Makes an MP3 file of a tone with ffmpeg, not through the application.
bool makeMp3(const QString& path, double seconds, int sampleRate = 44100, int channels = 2,
             int kbps = 128);
bool writeFile(const QString& path, const QByteArray& bytes);
[[nodiscard]] QByteArray readFile(const QString& path);

// A tool stand-in: a shell script that records its arguments, one per line,
// in NAME.args beside it, then runs the given body.
QString makeFakeTool(const QString& directory, const QString& name, const QString& body);
[[nodiscard]] QStringList recordedArguments(const QString& toolPath);

// Alerts and panels answered by the test.
class TestDialogs final : public DialogService
{
public:
    struct Alert
    {
        AlertSpec spec;
        std::function<void(int)> didEnd;
    };
    struct OpenPanel
    {
        OpenPanelSpec spec;
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

// A controller over test doubles, started up.
struct TestApp
{
    TestApp();
    TestDialogs* dialogs = nullptr;
    std::shared_ptr<int> soundsPlayed = std::make_shared<int>(0);
    std::optional<QString> soundPath;
    std::unique_ptr<AppController> controller;
};
