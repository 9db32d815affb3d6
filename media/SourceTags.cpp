#include "SourceTags.h"

#include "AudioKind.h"
#include "Mp4Box.h"

#include <QFile>
#include <QXmlStreamReader>
#include <algorithm>
#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>
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
    if (TagLib::ID3v2::Tag* id3 = file.ID3v2Tag()) {
        tags.hasCover = !id3->frameList("APIC").isEmpty();
        tags.marks = id3Marks(*id3);
    }
    return tags;
}

ChapterMarks SourceTags::id3Marks(TagLib::ID3v2::Tag& id3)
{
    struct Chapter
    {
        TagLib::ByteVector id;
        ChapterMark mark;
    };
    std::vector<Chapter> chapters;
    for (TagLib::ID3v2::Frame* frame : id3.frameList("CHAP")) {
        const auto* chap = dynamic_cast<TagLib::ID3v2::ChapterFrame*>(frame);
        if (!chap)
            continue;
        QString title;
        const TagLib::ID3v2::FrameList& named = chap->embeddedFrameList("TIT2");
        if (!named.isEmpty())
            title = text(named.front()->toString());
        chapters.push_back({chap->elementID(), {.start = chap->startTime() / 1000.0, .title = title}});
    }
    // The top table of contents gives the order; without one, the times do.
    std::vector<Chapter> ordered;
    for (TagLib::ID3v2::Frame* frame : id3.frameList("CTOC")) {
        const auto* toc = dynamic_cast<TagLib::ID3v2::TableOfContentsFrame*>(frame);
        if (!toc || !toc->isTopLevel())
            continue;
        for (const TagLib::ByteVector& child : toc->childElements()) {
            for (const Chapter& chapter : chapters) {
                if (chapter.id == child)
                    ordered.push_back(chapter);
            }
        }
        break;
    }
    if (ordered.size() != chapters.size()) {
        ordered = chapters;
        std::stable_sort(ordered.begin(), ordered.end(), [](const Chapter& a, const Chapter& b) {
            return a.mark.start < b.mark.start;
        });
    }
    ChapterMarks marks;
    for (const Chapter& chapter : ordered)
        marks.append(chapter.mark);
    if (marks.isEmpty()) {
        if (auto* markers = TagLib::ID3v2::UserTextIdentificationFrame::find(&id3, "OverDrive MediaMarkers")) {
            const TagLib::StringList fields = markers->fieldList();
            if (fields.size() > 1)
                marks = mediaMarkers(text(fields[1]));
        }
    }
    return marks;
}

ChapterMarks SourceTags::mediaMarkers(const QString& xml)
{
    // "1:02:03.500", "62:03.5" or "3723.5" seconds; negative when it is none.
    const auto seconds = [](const QString& time) {
        double total = 0;
        for (const QString& part : time.trimmed().split(u':')) {
            bool ok = false;
            const double value = part.toDouble(&ok);
            if (!ok || !(value >= 0) || value > 1e7)
                return -1.0;
            total = total * 60 + value;
        }
        return total;
    };
    ChapterMarks marks;
    QXmlStreamReader reader(xml);
    QString name;
    double at = -1;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"Marker") {
            name.clear();
            at = -1;
        } else if (reader.isStartElement() && reader.name() == u"Name") {
            name = reader.readElementText().trimmed();
        } else if (reader.isStartElement() && reader.name() == u"Time") {
            at = seconds(reader.readElementText());
        } else if (reader.isEndElement() && reader.name() == u"Marker" && at >= 0) {
            marks.append({.start = at, .title = name});
        }
    }
    return marks;
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
