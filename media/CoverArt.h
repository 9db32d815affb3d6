#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace TagLib {
class File;
}

// The pictures that audio files carry in their tags, read with TagLib for
// every kind that we list: ID3v2 APIC frames (MP3, WAV, AIFF), MP4 covr
// images, FLAC PICTURE blocks, Vorbis and Opus METADATA_BLOCK_PICTURE
// comments and ASF WM/Picture attributes.
namespace CoverArt {

struct Picture
{
    QByteArray data;
    QString mimeType;
    // Marked as the front cover: ID3v2, FLAC, Xiph and ASF pictures say
    // so; MP4 images do not, and their first is taken as the front.
    bool front = false;
};

// The file's pictures in the order that it keeps them.
[[nodiscard]] std::vector<Picture> in(TagLib::File& file);
// Its front cover, else its first picture; empty when it has none.
[[nodiscard]] Picture frontOf(TagLib::File& file);

// The MIME type of an image by its first bytes; empty when it is no JPEG,
// PNG, GIF or BMP image.
[[nodiscard]] QString mimeTypeOf(const QByteArray& image);

} // namespace CoverArt
