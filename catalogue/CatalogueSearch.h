#pragma once

#include "CatalogueResult.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QNetworkAccessManager;
class QUrl;

// Searches public catalogues that need no account and no key, Open
// Library's and Google Books', and fetches the covers they name. Nothing
// is sent unless asked. Each request names Fablewick and its version, ends
// after kTimeoutMs, waits its turn so that a catalogue's search is asked at
// most once a second (its covers ten times), and reads no more than a set
// size; answers are kept for a day.
// Every failure is one line of text.
class CatalogueSearch final : public QObject
{
    Q_OBJECT
public:
    // Where the catalogues answer; each may be set apart, for a mirror or a
    // test: FABLEWICK_OPENLIBRARY_URL, FABLEWICK_OPENLIBRARY_COVERS_URL,
    // FABLEWICK_GOOGLEBOOKS_URL, or the settings "catalogues/openLibrary",
    // "catalogues/openLibraryCovers" and "catalogues/googleBooks".
    struct Addresses
    {
        QString openLibrary = QStringLiteral("https://openlibrary.org");
        QString openLibraryCovers = QStringLiteral("https://covers.openlibrary.org");
        QString googleBooks = QStringLiteral("https://www.googleapis.com/books/v1");
        [[nodiscard]] static Addresses configured();
    };
    struct Query
    {
        QString title;
        QString author;
        QString isbn;
        [[nodiscard]] bool isEmpty() const
        {
            return title.isEmpty() && author.isEmpty() && isbn.isEmpty();
        }
    };

    static constexpr int kTimeoutMs = 10000;
    static constexpr qsizetype kLargestImage = qsizetype{8} << 20;
    // A cover smaller or larger than this is no cover.
    static constexpr int kSmallestSide = 16;
    static constexpr int kLargestSide = 6000;

    CatalogueSearch(Addresses addresses, QString cacheFolder, QObject* parent = nullptr);
    ~CatalogueSearch() override;
    CatalogueSearch(const CatalogueSearch&) = delete;
    CatalogueSearch& operator=(const CatalogueSearch&) = delete;

    [[nodiscard]] static QString defaultCacheFolder();
    [[nodiscard]] static QString userAgent();

    // Both catalogues; searched() once both have answered or failed.
    void search(const Query& query);
    void fetchImage(const QString& url);

    // The wait for an answer, kTimeoutMs unless a test wants less.
    void setTimeout(int ms) { mTimeoutMs = ms; }

    // An image of sensible size, or none.
    [[nodiscard]] static QImage checkedImage(const QByteArray& bytes);

Q_SIGNALS:
    void searched(const QList<CatalogueResult>& results, const QStringList& problems);
    void imageFetched(const QString& url, const QByteArray& bytes, const QImage& image);
    void imageFailed(const QString& url, const QString& problem);

private:
    using Done = std::function<void(const QByteArray& bytes, const QString& problem)>;
    // catalogue: its name, for the words of a failure.
    void get(const QUrl& url, const QString& catalogue, qsizetype largest, const Done& done);
    void send(const QUrl& url, const QString& catalogue, qsizetype largest, const Done& done);
    [[nodiscard]] QString cacheFile(const QUrl& url) const;

    Addresses mAddresses;
    QString mCacheFolder;
    QNetworkAccessManager* mNetwork;
    // When each catalogue's host may next be asked, on mClock.
    QElapsedTimer mClock;
    QHash<QString, qint64> mNextTurn;
    int mSearch = 0;
    int mTimeoutMs = kTimeoutMs;
};
