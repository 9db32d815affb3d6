#pragma once

#include <QString>
#include <optional>

// What a book is made as, with the one set of names and extensions that the
// window, the command line and the run all use.
enum class BookFormat
{
    Mp3,
    AacStandard, // .m4a
    AacBookmark, // .m4b, with chapters
};

namespace BookFormats {
// "mp3", "m4a", "m4b".
[[nodiscard]] QString extension(BookFormat format);
// The format a file of that name is, by its extension; none for others.
[[nodiscard]] std::optional<BookFormat> ofPath(const QString& path);
// As the output sheet names it: "AAC Bookmark (.m4b)".
[[nodiscard]] QString name(BookFormat format);
} // namespace BookFormats
