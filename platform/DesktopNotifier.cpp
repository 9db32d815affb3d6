#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>
#include <QVariantMap>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;
const QString kShowKey = u"show"_s;
} // namespace

void DesktopNotifier::notify(const QString& summary, const QString& body,
                             const std::optional<QString>& file)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    listen();
    QStringList actions;
    if (file)
        actions << u"default"_s << u"Show in Folder"_s << kShowKey << u"Show in Folder"_s;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, u"Notify"_s);
    call << u"Fablewick"_s << 0U << u"fablewick"_s << summary << body << actions
         << QVariantMap{{u"desktop-entry"_s, u"fablewick"_s}} << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, file](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<uint> reply = *done;
                // No service, or one that refused: the run's own alert and chime still tell.
                if (reply.isValid() && file)
                    mFiles[reply.value()] = *file;
            });
}

void DesktopNotifier::listen()
{
    if (mListening)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kService, u"ActionInvoked"_s, this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kService, u"NotificationClosed"_s, this,
                SLOT(notificationClosed(uint, uint)));
    mListening = true;
}

void DesktopNotifier::actionInvoked(uint id, const QString& actionKey)
{
    const auto found = mFiles.find(id);
    if (found == mFiles.end() || (actionKey != kShowKey && actionKey != u"default"_s))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
        u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << QStringList{QUrl::fromLocalFile(found->second).toString(QUrl::FullyEncoded)}
         << QString();
    QDBusConnection::sessionBus().asyncCall(call);
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    mFiles.erase(id);
}
