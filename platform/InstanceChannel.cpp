#include "InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int kWaitMs = 2000;
constexpr quint32 kMagic = 0x4657494f; // "FWIO"
} // namespace

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::serverName()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + u"/fablewick-%1.socket"_s.arg(::getuid());
}

bool InstanceChannel::sendToRunningInstance(const QStringList& files)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(kWaitMs))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kMagic << files;
    socket.write(message);
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    // The running instance answers once it has the files.
    return socket.waitForReadyRead(kWaitMs) && socket.readAll() == "ok";
}

bool InstanceChannel::listen()
{
    {
        // Listening would replace the socket of an instance that runs.
        QLocalSocket probe;
        probe.connectToServer(serverName());
        if (probe.waitForConnected(200))
            return false;
    }
    mServer = std::make_unique<QLocalServer>();
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!mServer->listen(serverName())) {
        // A socket left by an instance that crashed.
        QLocalServer::removeServer(serverName());
        if (!mServer->listen(serverName()))
            return false;
    }
    connect(mServer.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = mServer->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                const QByteArray bytes = socket->peek(socket->bytesAvailable());
                QDataStream in(bytes);
                quint32 magic = 0;
                QStringList files;
                in >> magic >> files;
                if (in.status() != QDataStream::Ok)
                    return; // not all of it has arrived yet
                socket->readAll();
                if (magic != kMagic)
                    return;
                socket->write("ok");
                socket->flush();
                Q_EMIT filesReceived(files);
            });
        }
    });
    return true;
}
