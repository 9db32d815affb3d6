#pragma once

#include "BookTag.h"

#include <QString>

// --details: the window's search of the public catalogues, from a book's
// tags and folder, taken only when it is unambiguous (one book found, or
// one book whose title and author are the tags'), and then only into the
// fields that are empty, with its cover where the book has none. It never
// guesses between two books that are alike; what it took, or why it took
// nothing, is said in one line.
namespace DetailsLookup {

struct Outcome
{
    BookTag tags;
    QString said;
    bool taken = false;
};
[[nodiscard]] Outcome lookUp(const BookTag& tags, const QString& folderName);

} // namespace DetailsLookup
