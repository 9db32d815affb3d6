#include "QtDialogService.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

void QtDialogService::beginCriticalAlertSheet(QWidget* window, const AlertSpec& alert,
                                              std::function<void(int returnCode)> didEnd)
{
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Critical);
    box->setWindowTitle(u"Fablewick"_s);
    box->setText(alert.title);
    const QString informative =
        alert.detail.isEmpty() ? alert.message : alert.message + u"\n\n"_s + alert.detail;
    box->setInformativeText(informative);
    box->setAccessibleName(alert.title);
    box->setAccessibleDescription(informative);

    auto addButton = [box](const QString& text, QMessageBox::ButtonRole role, int code) {
        if (text.isEmpty())
            return;
        QPushButton* button = box->addButton(text, role);
        button->setAccessibleName(text);
        button->setProperty("returnCode", code);
        if (code == 1)
            box->setDefaultButton(button);
    };
    addButton(alert.defaultButton, QMessageBox::AcceptRole, 1);
    addButton(alert.alternateButton, QMessageBox::ActionRole, 0);
    addButton(alert.otherButton, QMessageBox::RejectRole, -1);

    QObject::connect(box, &QMessageBox::finished, box, [box, didEnd = std::move(didEnd)] {
        const QAbstractButton* clicked = box->clickedButton();
        // Escape without a Cancel button counts as the default answer's opposite: nothing.
        const int code = clicked ? clicked->property("returnCode").toInt() : -1;
        if (didEnd)
            didEnd(code);
    });
    box->open();
}

void QtDialogService::beginOpenPanelSheet(
    QWidget* window, const OpenPanelSpec& panel,
    std::function<void(int returnCode, const QStringList& filenames)> didEnd)
{
    auto* dialog = new QFileDialog(window, panel.title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(panel.choosesFolders            ? QFileDialog::Directory
                        : panel.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                        : QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::ShowDirsOnly, panel.choosesFolders);
    dialog->setOption(QFileDialog::ReadOnly, !panel.canCreateDirectories);
    QStringList patterns;
    for (const QString& type : panel.fileTypes)
        patterns << u"*."_s + type.toLower() << u"*."_s + type.toUpper();
    if (!patterns.isEmpty())
        dialog->setNameFilter(
            u"%1 files (%2)"_s.arg(panel.fileTypes.join(u", ").toUpper(), patterns.join(u' ')));
    dialog->setAccessibleName(panel.title);
    QObject::connect(
        dialog, &QFileDialog::finished, dialog, [dialog, didEnd = std::move(didEnd)](int result) {
            if (didEnd)
                didEnd(result == QDialog::Accepted ? 1 : 0,
                       result == QDialog::Accepted ? dialog->selectedFiles() : QStringList{});
        });
    dialog->open();
}

std::optional<QString> QtDialogService::runSavePanel(const SavePanelSpec& panel)
{
    QFileDialog dialog(nullptr, panel.title, panel.directory);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, !panel.canCreateDirectories);
    dialog.setAccessibleName(panel.title);
    const QString suffix = panel.allowedFileType;
    if (!suffix.isEmpty()) {
        dialog.setNameFilter(u"%1 files (*.%2)"_s.arg(suffix.toUpper(), suffix));
        dialog.setDefaultSuffix(suffix);
    }
    dialog.selectFile(panel.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QString chosen = dialog.selectedFiles().constFirst();
    if (!suffix.isEmpty() && !chosen.endsWith(u'.' + suffix, Qt::CaseInsensitive))
        chosen += u'.' + suffix;
    return chosen;
}
