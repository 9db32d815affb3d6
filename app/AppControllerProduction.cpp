// The production run as the window asks for it and shows it; the run itself
// is a BookRun, made from the draft's order.
#include "AppController.h"
#include "BookActions.h"
#include "Desktop.h"
#include "DraftBook.h"
#include "OutputSheet.h"
#include "SheetDialog.h"
#include "WorkerException.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

void AppController::joinAll(QObject*)
{
    if (!atLeastOneAdded())
        return;
    QLineEdit* name = mOutputSheet->name();
    if (name->text().isEmpty() && !mDraft->tags().title.isEmpty())
        name->setText(mDraft->tags().title);
    mOutputSheet->showChapterNote();
    beginSheet(mOutputSheet->sheet());
    name->setFocus();
}

void AppController::startJoin(QObject*)
{
    if (mOutputSheet->name()->text().isEmpty())
        return;
    closeJoinStart(this);
    startMaking();
}

void AppController::closeJoinStart(QObject*)
{
    endSheet(mOutputSheet->sheet());
}

void AppController::closeJoin(QObject*)
{
    endSheet(joinProgressWindow);
}

void AppController::stopJoin(QObject*)
{
    if (!mBookRun || !mBookRun->isRunning())
        return;
    // Every tool of the run has ended when stop returns; when the
    // application ends, what they wrote goes too.
    mBookRun->stop(std::exchange(mEndedMidRun, false) ? BookRun::Leftovers::Removed
                                                        : BookRun::Leftovers::Kept);
    closeJoin(this);
    mBookActions->update();
}

void AppController::startMaking()
{
    if (state() != RunState::Idle)
        return;
    mDraft->setSettings(mOutputSheet->settings(mEncoders));
    // The last run's book, kept after a failed delivery, is named in its
    // alert; its folder is emptied only by the new run.
    mBookRun = std::make_unique<BookRun>(mDraft->order(), u"Fablewick"_s);
    connect(mBookRun.get(), &Job::progressed, this,
            [this](const Job::Progress& progress) { showRunProgress(progress); });
    connect(mBookRun.get(), &BookRun::filesLearned, mDraft.get(), &DraftBook::applyLearned);
    connect(mBookRun.get(), &Job::succeeded, this, [this] {
        closeJoin(this);
        mBookActions->update();
        srcPath = mBookRun->made();
        QDir().mkpath(Desktop::folder());
        dstPath = Desktop::pathFor(mBookRun->request().outputName, QFileInfo(*srcPath).suffix());
        moveFile(*srcPath, *dstPath);
    });
    connect(mBookRun.get(), &Job::failed, this, [this](const QString& cause) {
        // The bar stops turning, whatever step it turned for.
        joinProgressIndicator->setRange(0, 100);
        joinProgressIndicator->setValue(0);
        closeJoin(this);
        mBookActions->update();
        processDidEndBadly(std::make_exception_ptr(WorkerException(cause.toStdString())));
    });
    mBookRun->start();
    mBookActions->update();
}

// The progress sheet opens with the run's first report, and shows each
// step's words, its count and whether it can be stopped.
void AppController::showRunProgress(const Job::Progress& progress)
{
    if (!joinProgressWindow->isVisible()) {
        joinProgressDescription->setText(QString());
        beginSheet(joinProgressWindow);
    }
    joinProgressIndicator->setRange(0, static_cast<int>(std::ceil(progress.total)));
    joinProgressIndicator->setValue(static_cast<int>(progress.done));
    if (!progress.text.isEmpty())
        joinProgressDescription->setText(progress.text);
    stopConvertingButton->setVisible(progress.offersStop);
}

RunState AppController::state() const
{
    return mBookRun ? mBookRun->state() : RunState::Idle;
}

std::optional<QString> AppController::tempFolderPath() const
{
    return mBookRun ? mBookRun->folder() : std::nullopt;
}
