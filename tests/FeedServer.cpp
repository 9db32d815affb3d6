#include "FeedServer.h"

#include <QTcpSocket>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

FeedServer::FeedServer()
{
    mServer.listen(QHostAddress::LocalHost, 0);
    connect(&mServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = mServer.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                const QByteArray request = socket->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                requests.append(request);
                const Answer answer =
                    answers.isEmpty()
                        ? Answer{}
                        : answers.at(std::min<qsizetype>(requests.size() - 1, answers.size() - 1));
                if (answer.silent)
                    return;
                QTimer::singleShot(answer.delayMs, socket, [socket, body = answer.body] {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                  QByteArray::number(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            });
        }
    });
}

QString FeedServer::url() const
{
    return u"http://127.0.0.1:%1/storage/update/fablewickupdate.xml"_s.arg(mServer.serverPort());
}
