#include "CatalogueAnswer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Longer than any title or name; a description may be longer.
constexpr qsizetype kLongestText = 500;
constexpr qsizetype kLongestDescription = 8000;

// One line, without control characters, at most `longest` characters.
QString plain(const QString& text, qsizetype longest = kLongestText)
{
    QString kept;
    kept.reserve(std::min(text.size(), longest));
    for (const QChar c : text) {
        if (kept.size() >= longest)
            break;
        // A description keeps its lines; anything else is one line.
        const bool keptLine = c == u'\n' && longest == kLongestDescription;
        const bool control = c.category() == QChar::Other_Control || c == u'\n' || c == u'\r' ||
                             c == u'\t';
        kept += control && !keptLine ? QChar(u' ') : c;
    }
    return kept.trimmed();
}

std::optional<QJsonObject> object(const QByteArray& answer)
{
    if (answer.size() > CatalogueAnswer::kLargest ||
        !CatalogueAnswer::nestsWithin(answer, CatalogueAnswer::kDeepest))
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QStringList texts(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue each : value.toArray()) {
        if (each.isString() && list.size() < 10)
            list << plain(each.toString());
    }
    list.removeAll(QString());
    return list;
}

// The first ISBN-13, else the first ISBN-10, of digits (and X) alone.
QString isbnOf(const QStringList& numbers)
{
    static const QRegularExpression isbn(u"^(\\d{13}|\\d{9}[\\dXx])$"_s);
    QString ten;
    for (const QString& number : numbers) {
        QString digits = number;
        digits.remove(u'-');
        if (!isbn.match(digits).hasMatch())
            continue;
        if (digits.size() == 13)
            return digits;
        if (ten.isEmpty())
            ten = digits.toUpper();
    }
    return ten;
}

// A web address as a catalogue gives it, only when it is one.
QString address(const QString& text)
{
    const QString kept = text.trimmed();
    return kept.startsWith(u"https://"_s) || kept.startsWith(u"http://"_s) ? kept.left(2000)
                                                                           : QString();
}

} // namespace

namespace CatalogueAnswer {

bool nestsWithin(const QByteArray& json, int depth)
{
    int level = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : json) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++level > depth)
                return false;
        } else if (c == '}' || c == ']') {
            --level;
        }
    }
    return true;
}

std::optional<QList<CatalogueResult>> openLibrary(const QByteArray& answer,
                                                  const QString& coversBase)
{
    const auto root = object(answer);
    if (!root || !(*root)[u"docs"_s].isArray())
        return std::nullopt;
    QList<CatalogueResult> results;
    for (const QJsonValue doc : (*root)[u"docs"_s].toArray()) {
        if (results.size() >= kMostResults)
            break;
        const QJsonObject book = doc.toObject();
        CatalogueResult result;
        result.catalogue = u"Open Library"_s;
        result.title = plain(book[u"title"_s].toString());
        if (result.title.isEmpty())
            continue;
        result.authors = texts(book[u"author_name"_s]);
        const int year = book[u"first_publish_year"_s].toInt();
        result.year = year > 0 && year < 10000 ? QString::number(year) : QString();
        result.publisher = texts(book[u"publisher"_s]).value(0);
        result.isbn = isbnOf(texts(book[u"isbn"_s]));
        const qint64 cover = book[u"cover_i"_s].toInteger();
        if (cover > 0) {
            result.coverUrl = u"%1/b/id/%2-L.jpg"_s.arg(coversBase).arg(cover);
            result.thumbnailUrl = u"%1/b/id/%2-S.jpg"_s.arg(coversBase).arg(cover);
        }
        results.append(result);
    }
    return results;
}

std::optional<QList<CatalogueResult>> googleBooks(const QByteArray& answer)
{
    const auto root = object(answer);
    if (!root || (!(*root)[u"items"_s].isArray() && !(*root)[u"items"_s].isUndefined()))
        return std::nullopt;
    if (!(*root)[u"kind"_s].toString().startsWith(u"books#"_s))
        return std::nullopt;
    QList<CatalogueResult> results;
    for (const QJsonValue item : (*root)[u"items"_s].toArray()) {
        if (results.size() >= kMostResults)
            break;
        const QJsonObject volume = item[u"volumeInfo"_s].toObject();
        CatalogueResult result;
        result.catalogue = u"Google Books"_s;
        result.title = plain(volume[u"title"_s].toString());
        if (result.title.isEmpty())
            continue;
        result.authors = texts(volume[u"authors"_s]);
        const QString date = volume[u"publishedDate"_s].toString();
        // "1954", "1954-07" or "1954-07-29"; anything else is no year.
        const QString year = date.left(4);
        const bool digits = year.size() == 4 && std::all_of(year.begin(), year.end(), [](QChar c) {
                                return c >= u'0' && c <= u'9';
                            });
        result.year = digits && year.toInt() > 0 ? year : QString();
        result.publisher = plain(volume[u"publisher"_s].toString());
        result.description = plain(volume[u"description"_s].toString(), kLongestDescription);
        QStringList numbers;
        for (const QJsonValue id : volume[u"industryIdentifiers"_s].toArray())
            numbers << id[u"identifier"_s].toString();
        result.isbn = isbnOf(numbers);
        const QJsonObject images = volume[u"imageLinks"_s].toObject();
        // The largest that the answer offers, and the smallest for the list.
        for (const char16_t* size :
             {u"extraLarge", u"large", u"medium", u"small", u"thumbnail", u"smallThumbnail"}) {
            const QString found = address(images[QString::fromUtf16(size)].toString());
            if (found.isEmpty())
                continue;
            if (result.coverUrl.isEmpty())
                result.coverUrl = found;
            result.thumbnailUrl = found;
        }
        results.append(result);
    }
    return results;
}

} // namespace CatalogueAnswer
