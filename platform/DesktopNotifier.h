#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <optional>

// Notifications through the desktop's notification service on the session
// bus. Where no service runs, nothing is shown and nothing is said.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr) : QObject(parent) {}

    // With a file, the notification offers to show it in the file manager.
    void notify(const QString& summary, const QString& body,
                const std::optional<QString>& file = std::nullopt);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void listen();

    bool mListening = false;
    // The file of each notification still shown, by its id.
    std::map<uint, QString> mFiles;
};
