#include "SourceTags.h"

#include "CoverArt.h"
#include "TagFile.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <algorithm>
#include <taglib/chapterframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>

using namespace Qt::Literals::StringLiterals;

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
    const TagLib::FileRef file = TagFile::open(path);
    if (file.isNull())
        return {};
    SourceTags tags = fromProperties(file.file()->properties());
    tags.hasCover = !CoverArt::in(*file.file()).empty();
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file.file()); mp4 && mp4->tag()) {
        // iTunes keeps a long description apart from the short one.
        for (const char* key : {"ldes", "desc"}) {
            if (tags.description.isEmpty() && mp4->tag()->contains(key))
                tags.description =
                    text(mp4->tag()->item(key).toStringList().toString("\n"));
        }
    }
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.file())) {
        if (TagLib::ID3v2::Tag* id3 = mpeg->ID3v2Tag())
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
    if (tags.series.isEmpty()) {
        // Audiobook taggers put the series in the grouping, as "Series #3".
        tags.series = first(properties, {"GROUPING"});
        static const QRegularExpression numbered(u"^(.+?)\\s+#\\s*(\\d+(?:\\.\\d+)?)$"_s);
        if (const auto match = numbered.match(tags.series); match.hasMatch()) {
            tags.series = match.captured(1);
            tags.seriesPart = match.captured(2);
        }
    }
    tags.track = number(first(properties, {"TRACKNUMBER"}));
    tags.disc = number(first(properties, {"DISCNUMBER"}));
    return tags;
}

SourceTags::Picture SourceTags::cover(const QString& path)
{
    const TagLib::FileRef file = TagFile::open(path);
    if (file.isNull())
        return {};
    const CoverArt::Picture front = CoverArt::frontOf(*file.file());
    return {.data = front.data, .mimeType = front.mimeType};
}
