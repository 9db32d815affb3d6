// The production run as the window asks for it and shows it; the run itself
// is a BookRun.
#include "AppController.h"
#include "ui_OutputWindow.h"
#include "ArtworkWell.h"
#include "Desktop.h"
#include "FileHelper.h"
#include "ItemTableModel.h"
#include "SheetDialog.h"
#include "WorkerException.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QDir>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

void AppController::joinAll(QObject*)
{
    if (!atLeastOneAdded())
        return;
    if (outputName->text().isEmpty() && !title->text().isEmpty())
        outputName->setText(title->text());
    showChapterNote();
    beginSheet(outputWindow);
    outputName->setFocus();
}

void AppController::startJoin(QObject*)
{
    if (outputName->text().isEmpty())
        return;
    closeJoinStart(this);
    startMaking();
}

void AppController::closeJoinStart(QObject*)
{
    endSheet(outputWindow);
}

void AppController::closeJoin(QObject*)
{
    endSheet(joinProgressWindow);
}

void AppController::startTagging(QObject*)
{
    beginSheet(tagWindow);
}

void AppController::stopTagging(QObject*)
{
    endSheet(tagWindow);
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
    updateBookActions();
}

void AppController::startMaking()
{
    if (state() != RunState::Idle)
        return;
    const std::optional<BookFormat> format = RunRequest::formatFor(encodingTitle());
    if (!format) {
        processDidEndBadly(std::make_exception_ptr(WorkerException(
            u"Before the files were joined: Fablewick does not know how to make “%1”. Choose "
            u"AAC Bookmark, AAC Standard or MP3 as the encoding, and make the audiobook again."_s
                .arg(encodingTitle())
                .toStdString())));
        return;
    }
    // The last run's book, kept after a failed delivery, is named in its
    // alert; its folder is emptied only by the new run.
    mBookRun = std::make_unique<BookRun>(requestFor(*format), u"Fablewick"_s);
    connect(mBookRun.get(), &Job::progressed, this,
            [this](const Job::Progress& progress) { showRunProgress(progress); });
    connect(mBookRun.get(), &BookRun::recordsChanged, mTableModel,
            &ItemTableModel::recordsChanged);
    connect(mBookRun.get(), &Job::succeeded, this, [this] {
        closeJoin(this);
        updateBookActions();
        const QString book = mBookRun->made();
        srcPath = book;
        QDir().mkpath(Desktop::folder());
        dstPath = Desktop::pathFor(mBookRun->request().outputName, QFileInfo(book).suffix());
        moveFile(*srcPath, *dstPath);
    });
    connect(mBookRun.get(), &Job::failed, this, [this](const QString& cause) {
        // The bar stops turning, whatever step it turned for.
        joinProgressIndicator->setRange(0, 100);
        joinProgressIndicator->setValue(0);
        closeJoin(this);
        updateBookActions();
        processDidEndBadly(std::make_exception_ptr(WorkerException(cause.toStdString())));
    });
    mBookRun->start();
    updateBookActions();
}

RunRequest AppController::requestFor(BookFormat format) const
{
    const QString rate = outputRate->currentText();
    const QString frequency = outputFrequency->currentText();
    RunRequest run{.records = FileHelper::selectMp3Files(TableData),
                   .format = format,
                   .bitRate = rate.contains(u"Same"_s) ? std::nullopt : std::optional(rate),
                   .sampleRate =
                       frequency.contains(u"Same"_s) ? std::nullopt : std::optional(frequency),
                   .mono = outputChannels->currentText().contains(u"Mono"_s),
                   .tags = sheetTags(),
                   .outputName = outputName->text(),
                   .decodes = false,
                   .copiesAac = false,
                   .encoders = mEncoders,
                   .evenVolume = evenVolume(),
                   .gains = {},
                   .encoderGain = 0};
    run.chooseMethod();
    return run;
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

EvenVolume AppController::evenVolume() const
{
    switch (mOutputUi->outputEvenVolume->currentIndex()) {
    case 1:
        return EvenVolume::WholeBook;
    case 2:
        return EvenVolume::EachFile;
    default:
        return EvenVolume::Off;
    }
}

QString AppController::encodingTitle() const
{
    return outputEncoding->currentText();
}
