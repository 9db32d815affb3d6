#pragma once

#include "BookTag.h"

#include <QString>

// A finished book written again with new tags and chapters and its audio as
// it is: an MP4 book gets a new movie header from our chapter tool, an MP3
// book a new ID3v2 tag before its frames. Nothing is decoded or encoded, so
// it takes the time of a copy.
namespace BookSaver {

// Why the book at path cannot be written again this way, as a sentence for
// the user; empty when it can. Reads only its headers.
[[nodiscard]] QString problemWith(const QString& path);

// About how many bytes the new file takes beside its target, with the tag.
[[nodiscard]] qint64 roomNeeded(const QString& path, const BookTag& tag);

// Writes the book at source to target, which may be source itself, with
// the tag's written fields and chapters, and every other tag as it was.
// The new file is written beside target (a symbolic link's own target),
// its audio checked against the source's, and only then renamed over it
// with its mode, owner and group; a file of several names is written in
// place. On any failure target is as it was. Throws std::runtime_error with
// a sentence saying why. Returns a sentence on what the save could not
// keep, or nothing. Blocks: for a worker thread.
QString save(const QString& source, const QString& target, const BookTag& tag);

} // namespace BookSaver
