#pragma once

#include "BookTag.h"
#include "CatalogueResult.h"
#include "CatalogueSearch.h"

#include <QList>
#include <QString>
#include <optional>

// What taking a catalogue's result does to a book's tags: each field that
// the result has a value for, what the tags hold there now, and whether it
// is taken unless the user says otherwise, which is only where the field
// is empty, so that nothing typed is overwritten unasked.
namespace DetailsChoice {

struct Change
{
    BookTag::Field field = BookTag::Field::Title;
    QString name;
    QString before;
    QString after;
    bool takenUnasked = false;
};
[[nodiscard]] QList<Change> changes(const BookTag& tags, const CatalogueResult& result);

// The tags with the fields given taken from the result.
[[nodiscard]] BookTag taken(BookTag tags, const CatalogueResult& result, BookTag::Fields fields);

// The search that the tags suggest: their title and author, or an ISBN in
// a tag or in the folder's name; the folder's name as the title when the
// tags have none.
[[nodiscard]] CatalogueSearch::Query queryFor(const BookTag& tags, const QString& folderName);
// The first ISBN-10 or ISBN-13 in the text whose check digit is right.
[[nodiscard]] QString isbnIn(const QString& text);

// The result to take without asking: the only one, or the one book whose
// title and author are the query's, however many catalogues found it.
// None when there is none or two are alike, and why, in words.
[[nodiscard]] std::optional<CatalogueResult>
bestMatch(const QList<CatalogueResult>& results, const CatalogueSearch::Query& query, QString& why);

} // namespace DetailsChoice
