#include "DetailsChoice.h"

#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Mapping
{
    BookTag::Field field;
    const char16_t* name;
    QString BookTag::*tag;
    QString (*value)(const CatalogueResult&);
};

const Mapping kMappings[] = {
    {BookTag::Field::Title, u"Title", &BookTag::title,
     [](const CatalogueResult& r) { return r.title; }},
    {BookTag::Field::Artist, u"Author", &BookTag::artist,
     [](const CatalogueResult& r) { return r.authors.join(u", "_s); }},
    {BookTag::Field::Album, u"Album", &BookTag::album,
     [](const CatalogueResult& r) { return r.title; }},
    {BookTag::Field::Year, u"Year", &BookTag::year,
     [](const CatalogueResult& r) { return r.year; }},
    {BookTag::Field::Description, u"Description", &BookTag::description,
     [](const CatalogueResult& r) { return r.description; }},
    {BookTag::Field::Series, u"Series", &BookTag::series,
     [](const CatalogueResult& r) { return r.series; }},
};

// Letters and digits alone, in lower case: "The Hobbit," is "thehobbit".
QString folded(const QString& text)
{
    QString kept;
    for (const QChar c : text.toCaseFolded()) {
        if (c.isLetterOrNumber())
            kept += c;
    }
    return kept;
}

bool checksOut(const QString& digits)
{
    if (digits.size() == 10) {
        int sum = 0;
        for (int i = 0; i < 10; ++i) {
            const QChar c = digits.at(i);
            const int value = (i == 9 && c.toUpper() == u'X') ? 10 : c.digitValue();
            if (value < 0)
                return false;
            sum += value * (10 - i);
        }
        return sum % 11 == 0;
    }
    int sum = 0;
    for (int i = 0; i < 13; ++i) {
        const int value = digits.at(i).digitValue();
        if (value < 0)
            return false;
        sum += value * (i % 2 == 0 ? 1 : 3);
    }
    return sum % 10 == 0;
}

} // namespace

namespace DetailsChoice {

QList<Change> changes(const BookTag& tags, const CatalogueResult& result)
{
    QList<Change> list;
    for (const Mapping& each : kMappings) {
        const QString after = each.value(result);
        const QString before = tags.*each.tag;
        if (after.isEmpty() || after == before)
            continue;
        list.append({.field = each.field,
                     .name = QString::fromUtf16(each.name),
                     .before = before,
                     .after = after,
                     .takenUnasked = before.trimmed().isEmpty()});
    }
    return list;
}

BookTag taken(BookTag tags, const CatalogueResult& result, BookTag::Fields fields)
{
    for (const Mapping& each : kMappings) {
        const QString value = each.value(result);
        if (fields.testFlag(each.field) && !value.isEmpty())
            tags.*each.tag = value;
    }
    if (fields.testFlag(BookTag::Field::Series) && !result.seriesNumber.isEmpty())
        tags.seriesNumber = result.seriesNumber;
    return tags;
}

QString isbnIn(const QString& text)
{
    static const QRegularExpression candidate(u"(?<![\\dX])(?:\\d[- ]?){9,12}[\\dXx](?![\\dX])"_s);
    for (auto match = candidate.globalMatch(text); match.hasNext();) {
        QString digits = match.next().captured();
        digits.remove(u'-');
        digits.remove(u' ');
        if ((digits.size() == 10 || digits.size() == 13) && checksOut(digits))
            return digits.toUpper();
    }
    return {};
}

CatalogueSearch::Query queryFor(const BookTag& tags, const QString& folderName)
{
    CatalogueSearch::Query query;
    for (const QString& text :
         {tags.comment, tags.description, tags.title, tags.album, folderName}) {
        query.isbn = isbnIn(text);
        if (!query.isbn.isEmpty())
            break;
    }
    query.title = !tags.title.isEmpty()   ? tags.title
                  : !tags.album.isEmpty() ? tags.album
                                          : folderName;
    query.author = !tags.artist.isEmpty() ? tags.artist : tags.albumArtist;
    return query;
}

std::optional<CatalogueResult> bestMatch(const QList<CatalogueResult>& results,
                                         const CatalogueSearch::Query& query, QString& why)
{
    if (results.isEmpty()) {
        why = u"No catalogue knows the book."_s;
        return std::nullopt;
    }
    if (results.size() == 1)
        return results.first();
    QList<CatalogueResult> matching;
    for (const CatalogueResult& result : results) {
        const bool byIsbn = !query.isbn.isEmpty() && result.isbn == query.isbn;
        const bool byTitle = folded(result.title) == folded(query.title);
        const bool byAuthor =
            query.author.isEmpty() ||
            std::any_of(result.authors.begin(), result.authors.end(),
                        [&](const QString& a) { return folded(a) == folded(query.author); });
        if (byIsbn || (byTitle && byAuthor))
            matching.append(result);
    }
    if (matching.isEmpty()) {
        why = u"%1 books were found, and none has the title and author searched for."_s.arg(
            results.size());
        return std::nullopt;
    }
    // The same book from two catalogues is one; two years are two books.
    QString year;
    for (const CatalogueResult& result : std::as_const(matching)) {
        if (result.year.isEmpty())
            continue;
        if (!year.isEmpty() && result.year != year) {
            why = u"Two books are alike (%1 and %2); name the one wanted by its ISBN."_s.arg(
                year, result.year);
            return std::nullopt;
        }
        year = result.year;
    }
    // The fullest of them.
    const auto fields = [](const CatalogueResult& r) {
        return int{!r.year.isEmpty()} + int{!r.description.isEmpty()} + int{!r.coverUrl.isEmpty()} +
               int{!r.publisher.isEmpty()} + int{!r.isbn.isEmpty()};
    };
    return *std::max_element(
        matching.begin(), matching.end(),
        [&](const CatalogueResult& a, const CatalogueResult& b) { return fields(a) < fields(b); });
}

} // namespace DetailsChoice
