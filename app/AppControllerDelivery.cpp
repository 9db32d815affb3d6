// The end of a run: the finished file moves to the Desktop, or the run fails
// with the critical-error alert.
#include "AppController.h"
#include "FileMover.h"

#include <QFileInfo>
#include <QMainWindow>

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
            .otherButton = u"Cancel"_s};
        mServices.dialogs->beginCriticalAlertSheet(
            mainWindow, alert, [this](int returnCode) { FileExistAlertDidEnd(returnCode); });
        return false;
    }
    if (FileMover::move(source, toPath)) {
        soundID->play();
        return true;
    }
    showFileCreationAlert(toPath);
    return false;
}

void AppController::FileExistAlertDidEnd(int returnCode)
{
    if (!srcPath || !dstPath)
        return;
    QString destination;
    if (returnCode == 1) {
        destination = *dstPath;
    } else if (returnCode == 0) {
        const QFileInfo info(*dstPath);
        const SavePanelSpec panel{.title = u"Save Audiobook As"_s,
                                  .directory = info.absolutePath(),
                                  .allowedFileType = info.suffix(),
                                  .canCreateDirectories = true};
        const std::optional<QString> chosen = mServices.dialogs->runSavePanel(panel);
        if (!chosen)
            return;
        destination = *chosen;
    } else {
        return;
    }
    if (FileMover::moveReplacing(*srcPath, destination))
        soundID->play();
    else
        showFileCreationAlert(destination);
}

void AppController::showFileCreationAlert(const QString& destination)
{
    const AlertSpec alert{
        .title = u"File Creation Error"_s,
        .message = u"Unable to create file %1 on Desktop!"_s.arg(QFileInfo(destination).fileName()),
        .defaultButton = u"Ok"_s,
        .alternateButton = {},
        .otherButton = {}};
    mServices.dialogs->beginCriticalAlertSheet(mainWindow, alert, {});
}

void AppController::processDidEndBadly(std::exception_ptr)
{
    mState = kIdle;
    const AlertSpec alert{
        .title = u"Fablewick encountered a critical error"_s,
        .message = u"A critical error has occurred during the conversion process. The creation "
                   u"of this audiobook has been aborted."_s,
        .defaultButton = u"Ok"_s,
        .alternateButton = {},
        .otherButton = {}};
    mServices.dialogs->beginCriticalAlertSheet(mainWindow, alert, {});
}
