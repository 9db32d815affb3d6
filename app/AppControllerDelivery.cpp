// The end of a run: the finished file moves to the Desktop, or the run fails
// with the critical-error alert.
#include "AppController.h"
#include "DesktopNotifier.h"
#include "DiskSpace.h"
#include "FileMover.h"

#include <QFileInfo>
#include <QMainWindow>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

bool AppController::moveFile(const QString& source, const QString& toPath)
{
    if (FileMover::itemExists(toPath)) {
        const AlertSpec alert{
            .title = u"%1 already exists. Do you want to replace it?"_s.arg(
                QFileInfo(toPath).fileName()),
            .message = u"A file or folder with the same name already exists on the Desktop. "
                       u"Replacing it will overwrite its current contents."_s,
            .defaultButton = u"Replace"_s,
            .alternateButton = u"Rename"_s,
            .otherButton = u"Cancel"_s,
            .detail = {}};
        mServices.dialogs->beginCriticalAlertSheet(
            mainWindow, alert, [this](int returnCode) { FileExistAlertDidEnd(returnCode); });
        return false;
    }
    // The source is the run's book, which the run itself delivers.
    Q_UNUSED(source);
    const FileMover::Outcome outcome = mBookRun->deliver(toPath, false);
    if (outcome) {
        soundID->play();
        mNotifier->notify(u"Audiobook finished"_s, QFileInfo(toPath).fileName(), toPath);
        return true;
    }
    showFileCreationAlert(toPath, outcome);
    return false;
}

void AppController::FileExistAlertDidEnd(int returnCode)
{
    if (!srcPath || !dstPath || !mBookRun)
        return;
    QString destination;
    if (returnCode == 1) {
        destination = *dstPath;
    } else if (returnCode == 0) {
        const QFileInfo info(*dstPath);
        const SavePanelSpec panel{.title = u"Save Audiobook As"_s,
                                  .directory = info.absolutePath(),
                                  .allowedFileType = info.suffix(),
                                  .canCreateDirectories = true,
                                  .fileName = {}};
        const std::optional<QString> chosen = mServices.dialogs->runSavePanel(panel);
        if (!chosen)
            return;
        destination = *chosen;
    } else {
        return;
    }
    const FileMover::Outcome outcome = mBookRun->deliver(destination, true);
    if (outcome)
        soundID->play();
    else
        showFileCreationAlert(destination, outcome);
}

namespace {

// "Not a directory" as a sentence, so that the next one does not run on.
QString sentence(QString text)
{
    text = text.trimmed();
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    if (!text.isEmpty() && !text.endsWith(u'.') && !text.endsWith(u'!') && !text.endsWith(u'?'))
        text += u'.';
    return text;
}

} // namespace

// The alert says what went wrong and where the book is now, so that it is
// never left unnoticed in a folder that the next run empties.
void AppController::showFileCreationAlert(const QString& destination,
                                          const FileMover::Outcome& outcome)
{
    QString detail = sentence(outcome.reason);
    if (DiskSpace::meansFull(outcome.error))
        detail = DiskSpace::fullText(QFileInfo(destination).absolutePath(),
                                     QFileInfo(outcome.keptAt).size());
    if (!outcome.keptAt.isEmpty()) {
        detail += u" The audiobook is kept at %1."_s.arg(outcome.keptAt);
        if (const std::optional<QString> folder = tempFolderPath();
            folder && outcome.keptAt.startsWith(*folder + u'/'))
            detail += u" Making another audiobook empties that folder, so move the file "
                      u"somewhere safe first."_s;
    }
    const AlertSpec alert{
        .title = u"File Creation Error"_s,
        .message = u"Unable to create file %1 on Desktop!"_s.arg(QFileInfo(destination).fileName()),
        .defaultButton = u"Ok"_s,
        .alternateButton = {},
        .otherButton = {},
        .detail = detail.trimmed()};
    mNotifier->notify(alert.title, alert.detail);
    mServices.dialogs->beginCriticalAlertSheet(mainWindow, alert, {});
}

// The alert's words stay as they are; what went wrong, with the step it
// went wrong in, is its detail, and a line on standard error.
void AppController::processDidEndBadly(const std::exception_ptr& exception)
{
    QString cause;
    try {
        if (exception)
            std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        cause = QString::fromStdString(e.what());
    } catch (...) {
        cause = u"An unknown error."_s;
    }
    if (!cause.isEmpty())
        std::fprintf(stderr, "fablewick: %s\n", cause.simplified().toUtf8().constData());
    const AlertSpec alert{
        .title = u"Fablewick encountered a critical error"_s,
        .message = u"A critical error has occurred during the conversion process. The creation "
                   u"of this audiobook has been aborted."_s,
        .defaultButton = u"Ok"_s,
        .alternateButton = {},
        .otherButton = {},
        .detail = cause};
    mNotifier->notify(alert.title, cause.isEmpty() ? alert.message : cause);
    mServices.dialogs->beginCriticalAlertSheet(mainWindow, alert, {});
}
