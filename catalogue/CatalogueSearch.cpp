#include "CatalogueSearch.h"

#include "CatalogueAnswer.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrlQuery>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 kKeptSeconds = qint64{24} * 3600;
// A catalogue's search is asked at most this often; its covers, which
// are files to fetch by their numbers, a little less politely.
constexpr qint64 kTurnMs = 1000;
constexpr qint64 kImageTurnMs = 100;

QString configuredAddress(const char* variable, const QString& setting, const QString& fallback)
{
    QString fromEnvironment = qEnvironmentVariable(variable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString fromSettings = QSettings().value(setting).toString();
    QString chosen = fromSettings.isEmpty() ? fallback : fromSettings;
    while (chosen.endsWith(u'/'))
        chosen.chop(1);
    return chosen;
}

} // namespace

CatalogueSearch::Addresses CatalogueSearch::Addresses::configured()
{
    const Addresses defaults;
    return {.openLibrary = configuredAddress("FABLEWICK_OPENLIBRARY_URL",
                                             u"catalogues/openLibrary"_s, defaults.openLibrary),
            .openLibraryCovers =
                configuredAddress("FABLEWICK_OPENLIBRARY_COVERS_URL",
                                  u"catalogues/openLibraryCovers"_s, defaults.openLibraryCovers),
            .googleBooks = configuredAddress("FABLEWICK_GOOGLEBOOKS_URL",
                                             u"catalogues/googleBooks"_s, defaults.googleBooks)};
}

CatalogueSearch::CatalogueSearch(Addresses addresses, QString cacheFolder, QObject* parent)
    : QObject(parent), mAddresses(std::move(addresses)), mCacheFolder(std::move(cacheFolder)),
      mNetwork(new QNetworkAccessManager(this))
{
    mClock.start();
}

CatalogueSearch::~CatalogueSearch() = default;

QString CatalogueSearch::defaultCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + u"/catalogues"_s;
}

QString CatalogueSearch::userAgent()
{
    return u"Fablewick/%1 (+https://%2)"_s.arg(QStringLiteral(FABLEWICK_VERSION),
                                               QStringLiteral(FABLEWICK_WEBSITE_HOST));
}

QString CatalogueSearch::cacheFile(const QUrl& url) const
{
    return mCacheFolder + u'/' +
           QString::fromLatin1(
               QCryptographicHash::hash(url.toEncoded(), QCryptographicHash::Sha1).toHex());
}

void CatalogueSearch::search(const Query& query)
{
    const int search = ++mSearch;
    struct Gathered
    {
        QList<CatalogueResult> results;
        QStringList problems;
        int left = 2;
    };
    auto gathered = std::make_shared<Gathered>();
    const auto finish = [this, search, gathered] {
        // An older search's answers are not this one's.
        if (--gathered->left > 0 || search != mSearch)
            return;
        Q_EMIT searched(gathered->results, gathered->problems);
    };

    QUrl library(mAddresses.openLibrary + u"/search.json"_s);
    QUrlQuery libraryQuery;
    if (!query.isbn.isEmpty()) {
        libraryQuery.addQueryItem(u"isbn"_s, query.isbn);
    } else {
        if (!query.title.isEmpty())
            libraryQuery.addQueryItem(u"title"_s, query.title);
        if (!query.author.isEmpty())
            libraryQuery.addQueryItem(u"author"_s, query.author);
    }
    libraryQuery.addQueryItem(u"limit"_s, u"10"_s);
    libraryQuery.addQueryItem(u"fields"_s,
                              u"title,author_name,first_publish_year,publisher,isbn,cover_i"_s);
    library.setQuery(libraryQuery);
    get(library, u"Open Library"_s, CatalogueAnswer::kLargest,
        [this, gathered, finish](const QByteArray& bytes, const QString& problem) {
            if (problem.isEmpty()) {
                if (const auto found =
                        CatalogueAnswer::openLibrary(bytes, mAddresses.openLibraryCovers))
                    gathered->results += *found;
                else
                    gathered->problems << u"Open Library's answer could not be read."_s;
            } else {
                gathered->problems << problem;
            }
            finish();
        });

    QUrl google(mAddresses.googleBooks + u"/volumes"_s);
    QStringList terms;
    if (!query.isbn.isEmpty()) {
        terms << u"isbn:"_s + query.isbn;
    } else {
        if (!query.title.isEmpty())
            terms << u"intitle:"_s + query.title;
        if (!query.author.isEmpty())
            terms << u"inauthor:"_s + query.author;
    }
    QUrlQuery googleQuery;
    googleQuery.addQueryItem(u"q"_s, terms.join(u' '));
    googleQuery.addQueryItem(u"maxResults"_s, u"10"_s);
    google.setQuery(googleQuery);
    get(google, u"Google Books"_s, CatalogueAnswer::kLargest,
        [gathered, finish](const QByteArray& bytes, const QString& problem) {
            if (problem.isEmpty()) {
                if (const auto found = CatalogueAnswer::googleBooks(bytes))
                    gathered->results += *found;
                else
                    gathered->problems << u"Google Books' answer could not be read."_s;
            } else {
                gathered->problems << problem;
            }
            finish();
        });
}

void CatalogueSearch::fetchImage(const QString& url)
{
    const QUrl address(url);
    if (!address.isValid() || (address.scheme() != u"https"_s && address.scheme() != u"http"_s)) {
        Q_EMIT imageFailed(url, u"The cover's address is not a web address."_s);
        return;
    }
    get(address, u"The cover's catalogue"_s, kLargestImage,
        [this, url](const QByteArray& bytes, const QString& problem) {
            if (!problem.isEmpty()) {
                Q_EMIT imageFailed(url, problem);
                return;
            }
            const QImage image = checkedImage(bytes);
            if (image.isNull())
                Q_EMIT imageFailed(
                    url,
                    u"The cover that the catalogue sent is not an image of a sensible size."_s);
            else
                Q_EMIT imageFetched(url, bytes, image);
        });
}

QImage CatalogueSearch::checkedImage(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() < kSmallestSide || size.height() < kSmallestSide ||
        size.width() > kLargestSide || size.height() > kLargestSide)
        return {};
    return reader.read();
}

void CatalogueSearch::get(const QUrl& url, const QString& catalogue, qsizetype largest,
                          const Done& done)
{
    QFile cached(cacheFile(url));
    const QFileInfo kept(cached);
    if (kept.exists() && kept.lastModified().secsTo(QDateTime::currentDateTime()) < kKeptSeconds &&
        kept.size() <= largest && cached.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = cached.readAll();
        QTimer::singleShot(0, this, [done, bytes] { done(bytes, {}); });
        return;
    }
    // Each catalogue in its turn: a request waits for the one before it.
    const QString host = url.host();
    const qint64 now = mClock.elapsed();
    const qint64 at = std::max(now, mNextTurn.value(host, 0));
    mNextTurn[host] = at + (largest == kLargestImage ? kImageTurnMs : kTurnMs);
    if (at > now) {
        QTimer::singleShot(at - now, this, [this, url, catalogue, largest, done] {
            send(url, catalogue, largest, done);
        });
        return;
    }
    send(url, catalogue, largest, done);
}

void CatalogueSearch::send(const QUrl& url, const QString& catalogue, qsizetype largest,
                           const Done& done)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = mNetwork->get(request);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    struct State
    {
        QByteArray bytes;
        bool timedOut = false;
        bool tooLarge = false;
    };
    auto state = std::make_shared<State>();
    connect(timer, &QTimer::timeout, reply, [reply, state] {
        state->timedOut = true;
        reply->abort();
    });
    timer->start(mTimeoutMs);
    connect(reply, &QNetworkReply::readyRead, reply, [reply, state, largest] {
        state->bytes += reply->read(largest + 1 - state->bytes.size());
        if (state->bytes.size() > largest ||
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > largest) {
            state->tooLarge = true;
            reply->abort();
        }
    });
    connect(
        reply, &QNetworkReply::finished, this, [this, reply, state, catalogue, largest, done, url] {
            reply->deleteLater();
            state->bytes += reply->read(largest + 1 - state->bytes.size());
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            QString problem;
            if (state->timedOut)
                problem =
                    u"%1 did not answer within %2 s."_s.arg(catalogue).arg(mTimeoutMs / 1000.0);
            else if (state->tooLarge || state->bytes.size() > largest)
                problem =
                    u"%1's answer was larger than %2 MB, and was not read."_s.arg(catalogue).arg(
                        largest >> 20);
            else if (status >= 400)
                problem = u"%1 answered with an error (HTTP %2)."_s.arg(catalogue).arg(status);
            else if (reply->error() != QNetworkReply::NoError)
                problem = u"%1 could not be reached: %2."_s.arg(catalogue, reply->errorString());
            if (problem.isEmpty()) {
                // Kept for a day; a cache that cannot be written costs a request.
                QDir().mkpath(mCacheFolder);
                QSaveFile file(cacheFile(url));
                if (file.open(QIODevice::WriteOnly) &&
                    file.write(state->bytes) == state->bytes.size())
                    (void)file.commit();
            }
            done(state->bytes, problem);
        });
}
