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

// Writes the book at source with the tag's tags and chapters to target,
// which may be source itself. The new file is written beside target, its
// audio checked against the source's, and only then renamed over target;
// on any failure target is as it was. Throws std::runtime_error with a
// sentence saying why. Blocks: for a worker thread.
void save(const QString& source, const QString& target, const BookTag& tag);

} // namespace BookSaver
