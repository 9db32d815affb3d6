#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>
#include <functional>

// A stand-in for the public catalogues on this machine: Open Library under
// /ol, its covers under /covers and Google Books under /google. Each
// request is answered as `answer` says, and kept, with when it came.
class CatalogueServer : public QObject
{
    Q_OBJECT
public:
    struct Reply
    {
        int status = 200;
        QByteArray body;
        QByteArray type = "application/json";
        int delayMs = 0;
    };
    CatalogueServer();
    ~CatalogueServer() override;
    CatalogueServer(const CatalogueServer&) = delete;
    CatalogueServer& operator=(const CatalogueServer&) = delete;

    std::function<Reply(const QUrl& url)> answer;
    QList<QByteArray> requests;
    QList<qint64> requestedAtMs;

    // The catalogues' addresses point here while the server lives.
    [[nodiscard]] QString base() const;
    // The requests whose path starts so.
    [[nodiscard]] QList<QByteArray> requestsFor(const QByteArray& path) const;

private:
    QTcpServer mServer;
    QElapsedTimer mClock;
};
