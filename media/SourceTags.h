#pragma once

#include "ChapterMark.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace TagLib {
class PropertyMap;
namespace ID3v2 {
class Tag;
}
} // namespace TagLib

// What a file's own tags say of it, read with TagLib: an MP3's ID3v2.2, 2.3
// and 2.4 and ID3v1, in every text encoding, and other audio's tags.
struct SourceTags
{
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    // Audiobooks name the narrator as the composer.
    QString composer;
    QString year;
    QString comment;
    QString description;
    QString series;
    QString seriesPart;
    std::optional<int> track;
    std::optional<int> disc;
    bool hasCover = false;
    // An MP3's own chapter marks: ID3v2 chapter frames, in the order of its
    // table of contents, or else the MediaMarkers of library loans.
    ChapterMarks marks;

    [[nodiscard]] static SourceTags read(const QString& path);

    struct Picture
    {
        QByteArray data;
        QString mimeType;
    };
    // The file's front cover, or else its first picture; empty when it has none.
    [[nodiscard]] static Picture cover(const QString& path);

private:
    [[nodiscard]] static SourceTags fromProperties(const TagLib::PropertyMap& properties);
    [[nodiscard]] static ChapterMarks id3Marks(TagLib::ID3v2::Tag& id3);
    // The Markers XML that OverDrive keeps in a TXXX frame of each part:
    // <Marker><Name>…</Name><Time>h:mm:ss.sss</Time></Marker>, in order.
    [[nodiscard]] static ChapterMarks mediaMarkers(const QString& xml);

public:
    friend bool operator==(const SourceTags&, const SourceTags&) = default;
};
