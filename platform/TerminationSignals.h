#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, kill, Ctrl+C) turned into
// a signal on the event loop, so that they end the application as Quit does.
// One at a time; a second such signal while the first is handled ends the
// application at once, as it would without us.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

Q_SIGNALS:
    void arrived(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* mNotifier = nullptr;
};
