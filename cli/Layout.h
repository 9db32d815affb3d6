#pragma once

#include "BookTag.h"

#include <QString>

// A library's layout of folders, as media servers for audiobooks expect:
// "{author}/{series}/{title}" puts each book under its author, then its
// series. Fields: {author}, {narrator}, {series}, {number}, {title},
// {year}. A folder whose fields are all empty is left out.
namespace Layout {

// Why the pattern is no layout, in words; empty when it is one.
[[nodiscard]] QString problemWith(const QString& pattern);
// The folders for a book of these tags, joined by "/", each a safe name.
[[nodiscard]] QString foldersFor(const QString& pattern, const BookTag& tags);
// A name that every common file system takes: no "/" or "\", none of
// : * ? " < > |, no control characters, no leading or trailing spaces or
// trailing dots, and at most 255 bytes of UTF-8. Empty when nothing is left.
[[nodiscard]] QString safeName(const QString& name);

} // namespace Layout
