#pragma once

#include "DialogService.h"

class QtDialogService final : public DialogService
{
public:
    void beginCriticalAlertSheet(QWidget* window, const AlertSpec& alert,
                                 std::function<void(int returnCode)> didEnd) override;
    void beginOpenPanelSheet(
        QWidget* window, const OpenPanelSpec& panel,
        std::function<void(int returnCode, const QStringList& filenames)> didEnd) override;
    std::optional<QString> runSavePanel(const SavePanelSpec& panel) override;
};
