#pragma once

#include "FeedParser.h"
#include "UpdateError.h"
#include "WorkerThread.h"
#include "autoUpdateDelegate.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the update feed, parses it on a thread of its own and tells the
// delegate on the GUI thread. An automatic check keeps its errors to itself.
// A check started while another runs replaces it.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    // What a failed fetch tells the delegate.
    [[nodiscard]] static UpdateError errorFor(int networkError, const QString& description);
    // The feed's address on the product web site.
    [[nodiscard]] static QString feedURLString();

    explicit UpdateChecker(QString feedUrl = feedURLString(), QObject* parent = nullptr);
    ~UpdateChecker() override;

    void setDelegate(autoUpdateDelegate* delegate) { mDelegate = delegate; }
    [[nodiscard]] autoUpdateDelegate* delegate() const { return mDelegate; }
    void setAutoUpdate(bool automatic) { mAutoUpdate = automatic; }
    [[nodiscard]] bool autoUpdate() const { return mAutoUpdate; }
    [[nodiscard]] const QByteArray& updateData() const { return mUpdateData; }
    // What the feeds said; never emptied, so keys of an earlier feed stay.
    [[nodiscard]] const QMap<QString, QString>& updateInfo() const { return mUpdateInfo; }

    void startChecking();
    void handleError(const UpdateError& error);
    void parseDidFinish();

private:
    void connectionDidFinishLoading(QNetworkReply* reply);
    void parseAppUpdateData(const QByteArray& data, quint64 check);
    void store(const FeedParser::Info& info);

    QString mFeedUrl;
    autoUpdateDelegate* mDelegate = nullptr;
    bool mAutoUpdate = false;
    QByteArray mUpdateData;
    QMap<QString, QString> mUpdateInfo;
    std::unique_ptr<QNetworkAccessManager> mNetwork;
    QPointer<QNetworkReply> mReply;
    quint64 mCheck = 0;
    WorkerThread mParser;
};
