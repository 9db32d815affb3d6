#include "CatalogueServer.h"

#include <QTcpSocket>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

CatalogueServer::CatalogueServer()
{
    mClock.start();
    mServer.listen(QHostAddress::LocalHost, 0);
    qputenv("FABLEWICK_OPENLIBRARY_URL", (base() + u"/ol"_s).toUtf8());
    qputenv("FABLEWICK_OPENLIBRARY_COVERS_URL", (base() + u"/covers"_s).toUtf8());
    qputenv("FABLEWICK_GOOGLEBOOKS_URL", (base() + u"/google"_s).toUtf8());
    connect(&mServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = mServer.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                socket->setProperty("request",
                                    socket->property("request").toByteArray() + socket->readAll());
                const QByteArray request = socket->property("request").toByteArray();
                if (!request.contains("\r\n\r\n"))
                    return;
                requests.append(request);
                requestedAtMs.append(mClock.elapsed());
                const QByteArray target = request.split(' ').value(1);
                const Reply reply =
                    answer ? answer(QUrl(base() + QString::fromUtf8(target))) : Reply{};
                QTimer::singleShot(reply.delayMs, socket, [socket, reply] {
                    socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                                  " Answer\r\nContent-Type: " + reply.type +
                                  "\r\nContent-Length: " + QByteArray::number(reply.body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + reply.body);
                    socket->disconnectFromHost();
                });
            });
        }
    });
}

CatalogueServer::~CatalogueServer()
{
    for (const char* variable : {"FABLEWICK_OPENLIBRARY_URL", "FABLEWICK_OPENLIBRARY_COVERS_URL",
                                 "FABLEWICK_GOOGLEBOOKS_URL"})
        qunsetenv(variable);
}

QString CatalogueServer::base() const
{
    return u"http://127.0.0.1:%1"_s.arg(mServer.serverPort());
}

QList<QByteArray> CatalogueServer::requestsFor(const QByteArray& path) const
{
    QList<QByteArray> found;
    for (const QByteArray& request : requests) {
        if (request.split(' ').value(1).startsWith(path))
            found << request;
    }
    return found;
}
