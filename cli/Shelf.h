#pragma once

#include <QString>
#include <QStringList>

// The books under a folder: each folder that holds audio is one, with its
// subfolders; a folder whose audio lies only in disc folders ("CD 1",
// "Disc 2", "Part 3") is one book of them all.
namespace Shelf {
// Books are not looked for inside skipped, where the books made go.
[[nodiscard]] QStringList booksUnder(const QString& root, const QString& skipped);
} // namespace Shelf
