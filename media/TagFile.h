#pragma once

#include <QString>
#include <taglib/fileref.h>

// A listed file opened with TagLib: as MP3 when we read it as one, whatever
// its name, and other audio as the kind that TagLib finds (MP4 atoms,
// Vorbis comments, ASF). Null when it cannot be read, and for an MP4 file
// whose boxes nest deeper than a movie's, which TagLib would open by a
// recursion as deep.
namespace TagFile {
[[nodiscard]] TagLib::FileRef open(const QString& path, bool readOnly = true);
} // namespace TagFile
