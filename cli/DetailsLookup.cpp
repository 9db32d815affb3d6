#include "DetailsLookup.h"

#include "BookFiles.h"
#include "CatalogueSearch.h"
#include "CoverArt.h"
#include "DetailsChoice.h"

#include <QCoreApplication>
#include <QEventLoop>

using namespace Qt::Literals::StringLiterals;

namespace DetailsLookup {

Outcome lookUp(const BookTag& tags, const QString& folderName)
{
    Outcome outcome{.tags = tags, .said = {}, .taken = false};
    const CatalogueSearch::Query query = DetailsChoice::queryFor(tags, folderName);
    if (query.isEmpty()) {
        outcome.said = u"Book details were not searched for: the book has no title or author."_s;
        return outcome;
    }
    // One for the whole run, so that a shelf of books asks each catalogue in
    // its turn, however many books there are.
    static auto* const shared =
        new CatalogueSearch(CatalogueSearch::Addresses::configured(),
                            CatalogueSearch::defaultCacheFolder(), QCoreApplication::instance());
    CatalogueSearch& search = *shared;
    QEventLoop loop;
    QList<CatalogueResult> found;
    QStringList problems;
    // Each connection ends with the loop it quits, its context.
    QObject::connect(&search, &CatalogueSearch::searched, &loop,
                     [&](const QList<CatalogueResult>& results, const QStringList& said) {
                         found = results;
                         problems = said;
                         loop.quit();
                     });
    search.search(query);
    loop.exec();
    QString why;
    const std::optional<CatalogueResult> best = DetailsChoice::bestMatch(found, query, why);
    if (!best) {
        const QString also = problems.isEmpty() ? QString() : u' ' + problems.join(u' ');
        outcome.said = u"Book details were not taken: %1%2"_s.arg(why, also);
        return outcome;
    }
    BookTag::Fields fields;
    QStringList took;
    for (const DetailsChoice::Change& change : DetailsChoice::changes(tags, *best)) {
        if (!change.takenUnasked)
            continue;
        fields |= change.field;
        took << u"%1 \u201C%2\u201D"_s.arg(change.name.toLower(), change.after.left(60));
    }
    outcome.tags = DetailsChoice::taken(tags, *best, fields);
    if (tags.cover.isEmpty() && !best->coverUrl.isEmpty()) {
        QObject::connect(
            &search, &CatalogueSearch::imageFetched, &loop,
            [&](const QString&, const QByteArray& bytes, const QImage& image) {
                // A JPEG or PNG as it came; another kind as a JPEG, which players show.
                const QString mime = CoverArt::mimeTypeOf(bytes);
                const bool kept = mime == u"image/jpeg"_s || mime == u"image/png"_s;
                outcome.tags.cover = kept ? bytes : BookFiles::coverJpeg(image);
                outcome.tags.coverMimeType = kept ? mime : u"image/jpeg"_s;
                took << u"a cover of %1 \u00D7 %2 pixels"_s.arg(image.width()).arg(image.height());
                loop.quit();
            });
        QObject::connect(&search, &CatalogueSearch::imageFailed, &loop,
                         [&](const QString&, const QString& problem) {
                             problems << problem;
                             loop.quit();
                         });
        search.fetchImage(best->coverUrl);
        loop.exec();
    }
    outcome.taken = !took.isEmpty();
    outcome.said =
        took.isEmpty()
            ? u"%1 knows the book, and has nothing for its empty tags."_s.arg(best->catalogue)
            : u"Book details from %1: %2."_s.arg(best->catalogue, took.join(u", "_s));
    if (!problems.isEmpty())
        outcome.said += u' ' + problems.join(u' ');
    return outcome;
}

} // namespace DetailsLookup
