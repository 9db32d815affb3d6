#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

class QLocalServer;

// Files opened while Fablewick runs: a second launch hands its files to the
// running window of the same user and exits.
class InstanceChannel : public QObject
{
    Q_OBJECT
public:
    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // True when a running instance took the files.
    [[nodiscard]] static bool sendToRunningInstance(const QStringList& files);
    // Starts taking files from later launches; false when another instance does.
    bool listen();
    [[nodiscard]] static QString serverName();

Q_SIGNALS:
    void filesReceived(const QStringList& files);

private:
    std::unique_ptr<QLocalServer> mServer;
};
