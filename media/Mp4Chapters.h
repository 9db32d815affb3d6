#pragma once

#include "ChapterMark.h"

#include <QByteArray>
#include <QString>

class QFile;

// The chapters that an MP4 file marks, read from its header: the QuickTime
// text track that its audio track refers to, which Apple's players read,
// else the Nero chapters in its user data, as ffmpeg and mp4v2 write both.
namespace Mp4Chapters {

// No book has more; a table that says so is refused.
constexpr qsizetype kMostChapters = 10000;

// In the order they play, each start in seconds. None when the file marks
// none. Throws std::runtime_error when the file is no MP4 file or the boxes
// that hold its chapters do not add up.
[[nodiscard]] ChapterMarks read(const QString& path);
// The same from the open `file`'s movie header, already read.
[[nodiscard]] ChapterMarks read(QFile& file, const QByteArray& moovBytes);

} // namespace Mp4Chapters
