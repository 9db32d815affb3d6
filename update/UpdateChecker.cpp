#include "UpdateChecker.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int kTimeoutMs = 20000;

} // namespace

UpdateError UpdateChecker::errorFor(int networkError, const QString& description)
{
    switch (static_cast<QNetworkReply::NetworkError>(networkError)) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::UnknownProxyError:
    case QNetworkReply::ProxyNotFoundError:
        return {.domain = u"NSCocoaErrorDomain"_s,
                .code = UpdateError::kNoConnection,
                .description = u"No Connection Error"_s};
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return {.domain = u"NSURLErrorDomain"_s,
                .code = UpdateError::kTimedOut,
                .description = u"The server did not answer within 20 seconds."_s};
    default:
        return {.domain = u"NSURLErrorDomain"_s, .code = networkError, .description = description};
    }
}

QString UpdateChecker::feedURLString()
{
    return u"http://"_s + QStringLiteral(FABLEWICK_WEBSITE_HOST) +
           u"/storage/update/fablewickupdate.xml"_s;
}

UpdateChecker::UpdateChecker(QString feedUrl, QObject* parent)
    : QObject(parent), mFeedUrl(std::move(feedUrl)),
      mNetwork(std::make_unique<QNetworkAccessManager>())
{
}

UpdateChecker::~UpdateChecker()
{
    if (mReply) {
        mReply->disconnect(this);
        mReply->abort();
    }
    mParser.join();
}

void UpdateChecker::startChecking()
{
    if (mReply) {
        // The later check wins: the earlier one ends without a word.
        mReply->disconnect(this);
        mReply->abort();
        mReply->deleteLater();
    }
    const quint64 check = ++mCheck;
    QNetworkRequest request{QUrl(mFeedUrl)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setTransferTimeout(kTimeoutMs);
    mUpdateData.clear();
    QNetworkReply* reply = mNetwork->get(request);
    mReply = reply;
    // A new response (after a redirect, say) starts the body afresh.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] { mUpdateData.clear(); });
    connect(reply, &QNetworkReply::readyRead, this,
            [this, reply] { mUpdateData += reply->readAll(); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, check] {
        reply->deleteLater();
        if (check != mCheck)
            return;
        mReply = nullptr;
        connectionDidFinishLoading(reply);
    });
}

void UpdateChecker::connectionDidFinishLoading(QNetworkReply* reply)
{
    if (reply->error() != QNetworkReply::NoError) {
        handleError(errorFor(reply->error(), reply->errorString()));
        return;
    }
    mUpdateData += reply->readAll();
    const quint64 check = mCheck;
    mParser.start([this, data = mUpdateData, check] { parseAppUpdateData(data, check); });
}

// On the parser's thread: results go to the GUI thread, in order, and only
// while no later check has started.
void UpdateChecker::parseAppUpdateData(const QByteArray& data, quint64 check)
{
    FeedParser::Events events;
    events.envelopeEnded = [this, check](const FeedParser::Info& info) {
        QMetaObject::invokeMethod(
            this,
            [this, check, info] {
                if (check != mCheck)
                    return;
                store(info);
                parseDidFinish();
            },
            Qt::QueuedConnection);
    };
    events.failed = [this, check](const FeedParser::Info& info, const QString& message) {
        QMetaObject::invokeMethod(
            this,
            [this, check, info, message] {
                if (check != mCheck)
                    return;
                store(info);
                handleError(
                    {.domain = u"NSXMLParserErrorDomain"_s, .code = 1, .description = message});
            },
            Qt::QueuedConnection);
    };
    FeedParser::parse(data, events);
}

void UpdateChecker::store(const FeedParser::Info& info)
{
    for (auto it = info.begin(); it != info.end(); ++it)
        mUpdateInfo.insert(it.key(), it.value());
}

void UpdateChecker::parseDidFinish()
{
    if (mDelegate)
        mDelegate->autoUpdateDidFinish(this, std::nullopt);
}

void UpdateChecker::handleError(const UpdateError& error)
{
    if (!mAutoUpdate && mDelegate)
        mDelegate->autoUpdateDidFinish(this, error);
}
