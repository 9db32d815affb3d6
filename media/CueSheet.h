#pragma once

#include "ChapterMark.h"

#include <QByteArray>
#include <QString>
#include <functional>

// A CUE sheet, as CD rippers write one beside the audio: FILE, then TRACK,
// TITLE and INDEX 01 mm:ss:ff (75 frames a second) for each track in it.
namespace CueSheet {

// A sheet's or chapter file's text: UTF-8 when it decodes as such, else the
// Latin-1 of old rippers.
[[nodiscard]] QString decodedText(const QByteArray& bytes);
// The tracks that a sheet gives the file of that name (matched with or
// without its extension, since rips are often converted after the sheet
// was written), in the order listed.
[[nodiscard]] ChapterMarks marksFor(const QByteArray& sheet, const QString& fileName);
// Every track of the sheet, whatever file it lies in, in the order listed.
[[nodiscard]] ChapterMarks allMarks(const QByteArray& sheet);
// The tracks that lie in the files that fileMatches takes.
[[nodiscard]] ChapterMarks tracks(const QByteArray& sheet,
                                  const std::function<bool(const QString&)>& fileMatches);
// The marks of the first sheet in the audio file's folder that names it.
[[nodiscard]] ChapterMarks marksBeside(const QString& audioPath);

} // namespace CueSheet
