#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// A critical alert: title, message, an optional detail (what went wrong, or
// where things now are), and up to three buttons. The did-end handler
// receives 1 for the default button, 0 for the alternate and -1 for the other.
struct AlertSpec
{
    QString title;
    QString message;
    QString defaultButton;
    QString alternateButton;
    QString otherButton;
    QString detail;
};

struct OpenPanelSpec
{
    QString title;
    bool allowsMultipleSelection = false;
    bool canCreateDirectories = false;
    QStringList fileTypes;
    // Folders are chosen, not files.
    bool choosesFolders = false;
};

struct SavePanelSpec
{
    QString title;
    QString directory;
    QString allowedFileType;
    bool canCreateDirectories = true;
    // The name offered, which the user may change.
    QString fileName;
};

// Alerts and file panels, behind one seam so that tests can answer them.
class DialogService
{
public:
    virtual ~DialogService() = default;
    // Window-modal over window; returns at once, didEnd runs when it is answered.
    virtual void beginCriticalAlertSheet(QWidget* window, const AlertSpec& alert,
                                         std::function<void(int returnCode)> didEnd) = 0;
    // Window-modal over window; didEnd gets 1 (OK) with the chosen paths, or 0.
    virtual void beginOpenPanelSheet(
        QWidget* window, const OpenPanelSpec& panel,
        std::function<void(int returnCode, const QStringList& filenames)> didEnd) = 0;
    // Application-modal; the chosen path, or none when cancelled.
    virtual std::optional<QString> runSavePanel(const SavePanelSpec& panel) = 0;
};
