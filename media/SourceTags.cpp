#include "SourceTags.h"

#include "AudioKind.h"
#include "Mp4Box.h"

#include <QFile>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

namespace {

QString text(const TagLib::String& value)
{
    return QString::fromStdWString(value.toWString()).trimmed();
}

// The first of the values under the first of the keys that has one.
QString first(const TagLib::PropertyMap& properties, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        const auto found = properties.find(key);
        if (found != properties.end() && !found->second.isEmpty())
            return text(found->second.front());
    }
    return {};
}

// "3/16" is 3.
std::optional<int> number(const QString& value)
{
    bool ok = false;
    const int n = value.section(u'/', 0, 0).trimmed().toInt(&ok);
    return ok && n >= 0 ? std::optional(n) : std::nullopt;
}

} // namespace

SourceTags SourceTags::read(const QString& path)
{
    // An MP3 file is read as one whatever its extension; other audio by the
    // kind TagLib finds: MP4 atoms, Vorbis comments, ASF.
    const QByteArray name = QFile::encodeName(path);
    if (AudioKind::isOther(path)) {
        // TagLib opens MP4 boxes by recursion, and a crafted file nests
        // them by the hundred thousand: such a file has no tags for us.
        if (!Mp4Box::fileNestsWithin(path, Mp4Box::kDeepest))
            return {};
        const TagLib::FileRef file(name.constData(), false);
        return file.isNull() ? SourceTags{} : fromProperties(file.file()->properties());
    }
    TagLib::MPEG::File file(name.constData(), false);
    if (!file.isValid())
        return {};
    SourceTags tags = fromProperties(file.properties());
    if (TagLib::ID3v2::Tag* id3 = file.ID3v2Tag())
        tags.hasCover = !id3->frameList("APIC").isEmpty();
    return tags;
}

SourceTags SourceTags::fromProperties(const TagLib::PropertyMap& properties)
{
    SourceTags tags;
    tags.title = first(properties, {"TITLE"});
    tags.artist = first(properties, {"ARTIST"});
    tags.album = first(properties, {"ALBUM"});
    tags.albumArtist = first(properties, {"ALBUMARTIST"});
    tags.composer = first(properties, {"COMPOSER"});
    const QString date = first(properties, {"DATE", "ORIGINALDATE"});
    tags.year = date.left(4).toInt() > 0 ? date.left(4) : QString();
    tags.comment = first(properties, {"COMMENT"});
    tags.description = first(properties, {"DESCRIPTION"});
    tags.series = first(properties, {"SERIES", "MOVEMENTNAME"});
    tags.seriesPart = first(properties, {"SERIES-PART", "MOVEMENTNUMBER"});
    tags.track = number(first(properties, {"TRACKNUMBER"}));
    tags.disc = number(first(properties, {"DISCNUMBER"}));
    return tags;
}

SourceTags::Picture SourceTags::cover(const QString& path)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    TagLib::ID3v2::Tag* id3 = file.isValid() ? file.ID3v2Tag() : nullptr;
    if (!id3)
        return {};
    const TagLib::ID3v2::AttachedPictureFrame* chosen = nullptr;
    for (TagLib::ID3v2::Frame* frame : id3->frameList("APIC")) {
        const auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (!picture)
            continue;
        if (!chosen || picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
            chosen = picture;
        if (picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
            break;
    }
    if (!chosen)
        return {};
    const TagLib::ByteVector data = chosen->picture();
    return {.data = QByteArray(data.data(), static_cast<qsizetype>(data.size())),
            .mimeType = text(chosen->mimeType())};
}
