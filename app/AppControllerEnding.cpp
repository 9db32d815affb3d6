// How a run ends when the application does, and how a run makes sure that no
// tool of an earlier instance still writes in the temporary folder.
#include "AppController.h"
#include "FileHelper.h"
#include "SheetDialog.h"
#include "WorkerException.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstring>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {
// How long a left-over tool is given to end on SIGTERM before it is killed.
constexpr auto kGraceForLeftovers = 2s;
} // namespace

bool AppController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainWindow && event->type() == QEvent::Close)
        applicationWillTerminate();
    return QObject::eventFilter(watched, event);
}

void AppController::applicationWillTerminate()
{
    if (mState == RunState::Idle)
        return;
    mEndedMidRun = true;
    stopJoin(this);
}

void AppController::quitApplication()
{
    applicationWillTerminate();
    mainWindow->close();
    QCoreApplication::quit();
}

void AppController::removePartialFiles()
{
    // Only after every tool has been reaped: none may write there any more.
    if (mEndedMidRun && tempFolder)
        FileHelper::deleteContentOfDirectory(*tempFolder);
    mEndedMidRun = false;
}

bool AppController::claimTempFolder()
{
    const FolderLock::Result lock = mFolderLock.tryLock(*tempFolder);
    if (lock != FolderLock::Result::HeldElsewhere) {
        mFolderWaitStarted.reset();
        // Without the lock the run cannot tell whether an old tool still writes there.
        if (lock == FolderLock::Result::Unusable) {
            const int error = errno;
            stopWaitingForFolder();
            processDidEndBadly(std::make_exception_ptr(WorkerException(
                u"The temporary folder %1 cannot be locked: %2."_s
                    .arg(*tempFolder, QString::fromLocal8Bit(std::strerror(error)))
                    .toStdString())));
            return false;
        }
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!mFolderWaitStarted) {
        mFolderWaitStarted = now;
        joinProgressIndicator->setRange(0, 0);
        beginSheet(joinProgressWindow);
        stopConvertingButton->setVisible(true);
    }
    const FolderLock::Holders holders = FolderLock::holders(*tempFolder);
    if (!holders.leftovers.isEmpty()) {
        const qsizetype count = holders.leftovers.size();
        joinProgressDescription->setText(
            count == 1
                ? u"Ending a tool that an earlier Fablewick left running in %1..."_s.arg(*tempFolder)
                : u"Ending %1 tools that an earlier Fablewick left running in %2..."_s.arg(count).arg(
                      *tempFolder));
        const int signal = now - *mFolderWaitStarted < kGraceForLeftovers ? SIGTERM : SIGKILL;
        for (const pid_t pid : holders.leftovers)
            ::kill(pid, signal);
    } else if (holders.liveApplication) {
        joinProgressDescription->setText(
            u"Waiting for another Fablewick to finish with the temporary folder %1..."_s.arg(
                *tempFolder));
    } else {
        joinProgressDescription->setText(
            u"Waiting for the temporary folder %1 to be free..."_s.arg(*tempFolder));
    }
    mFolderRetry->start(250ms);
    return false;
}

void AppController::stopWaitingForFolder()
{
    mFolderRetry->stop();
    mFolderWaitStarted.reset();
    closeJoin(this);
}
