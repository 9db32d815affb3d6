#pragma once

#include <QString>
#include <QStringList>

// How a listed file is read: as MP3, or as other audio that ffprobe and
// ffmpeg read. Its extension decides; a name with none of ours ("Chapter
// 1.mp3.part", "book") is decided by its first bytes. Nothing else in the
// path counts: "MP3 Books/1.m4a" is an MP4 file.
namespace AudioKind {

// .m4a, .m4b, .aac, .flac, .ogg, .oga, .opus, .wav and .wma.
[[nodiscard]] const QStringList& otherExtensions();
[[nodiscard]] bool hasOtherExtension(const QString& path);
// Whether the file is read as other audio rather than as MP3.
[[nodiscard]] bool isOther(const QString& path);

} // namespace AudioKind
