#pragma once

#include <QString>
#include <QStringList>

// Whether a file is listed, and how it is read: as MP3, or as other audio
// that ffprobe and ffmpeg read. Its extension decides; a name with none of
// ours ("Chapter 1.mp3.part", "book") is decided by its first bytes, and a
// name that holds "mp3" is listed as MP3 whatever they are, to be marked
// as unreadable if it is. Nothing else in the path counts: "MP3 Books/1.m4a"
// is an MP4 file, and "MP3 Books/notes.txt" is not listed.
namespace AudioKind {

enum class Kind
{
    None,
    Mp3,
    Other,
};
[[nodiscard]] Kind of(const QString& path);

// .m4a, .m4b, .aac, .flac, .ogg, .oga, .opus, .wav and .wma.
[[nodiscard]] const QStringList& otherExtensions();
// Whether the file is read as other audio rather than as MP3.
[[nodiscard]] inline bool isOther(const QString& path)
{
    return of(path) == Kind::Other;
}
[[nodiscard]] inline bool isListed(const QString& path)
{
    return of(path) != Kind::None;
}

} // namespace AudioKind
