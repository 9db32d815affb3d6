#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

// An HTTP server on 127.0.0.1 for update checks: it answers every request
// with the next of its answers (the last one again when they run out), after
// that answer's delay, or never when the answer is silent.
class FeedServer : public QObject
{
    Q_OBJECT
public:
    struct Answer
    {
        QByteArray body;
        int delayMs = 0;
        bool silent = false;
    };
    FeedServer();
    [[nodiscard]] QString url() const;
    QList<Answer> answers;
    QList<QByteArray> requests;

private:
    QTcpServer mServer;
};
