#pragma once

#include "UpdateChecker.h"
#include "autoUpdateDelegate.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QLabel;
class QMainWindow;
class QTimer;
class SheetDialog;
namespace Ui {
class UpdateWindow;
}

// The update notice: whether a newer version is out, told in a sheet on the
// main window once it is free, and the release notes and help page.
class UpdateNotice final : public QObject, public autoUpdateDelegate
{
    Q_OBJECT
public:
    UpdateNotice(QMainWindow* window, QString feedUrl,
                 std::function<bool(const QUrl&)> openUrl, QObject* parent = nullptr);
    ~UpdateNotice() override;

    // The check at every start, which tells only of a newer version.
    void startChecking();
    void checkForUpdate(QObject* sender = nullptr);
    void autoUpdateDidFinish(UpdateChecker* checker,
                             const std::optional<UpdateError>& updateException) override;
    void closeUpdateWindow(QObject* sender = nullptr);
    void showReleaseNote(QObject* sender = nullptr);
    void launchBrowser(QObject* sender = nullptr);
    [[nodiscard]] QDialog* updateSheet() const;
    [[nodiscard]] QLabel* updateText() const { return mMessage; }

private:
    // The notice never covers another sheet, a run's progress least of all:
    // it waits until the main window is free.
    void showUpdateWindowWhenFree();
    [[nodiscard]] bool anotherSheetIsUp() const;

    QMainWindow* mWindow;
    QString mFeedUrl;
    std::function<bool(const QUrl&)> mOpenUrl;
    std::unique_ptr<Ui::UpdateWindow> mUi;
    SheetDialog* mSheet;
    QLabel* mMessage;
    QTimer* mWaiter = nullptr;
    std::unique_ptr<UpdateChecker> mChecker;
};
