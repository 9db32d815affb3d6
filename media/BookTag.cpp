#include "BookTag.h"

#include "CoverArt.h"
#include "TagFile.h"

#include <QFile>
#include <stdexcept>
#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>

using Field = BookTag::Field;

namespace {

TagLib::String text(const QString& value)
{
    return TagLib::String(value.toStdWString());
}

TagLib::ByteVector bytes(const QByteArray& value)
{
    return TagLib::ByteVector(value.constData(), static_cast<unsigned int>(value.size()));
}

// The fields that each kind of tag holds as one text, under its own name.
struct PlainField
{
    Field field;
    QString BookTag::*value;
    const char* id3;
    const char* mp4;
};
constexpr PlainField kPlainFields[] = {
    {Field::Title, &BookTag::title, "TIT2", "\251nam"},
    {Field::Artist, &BookTag::artist, "TPE1", "\251ART"},
    {Field::Album, &BookTag::album, "TALB", "\251alb"},
    {Field::AlbumArtist, &BookTag::albumArtist, "TPE2", "aART"},
    {Field::Narrator, &BookTag::narrator, "TCOM", "\251wrt"},
};

QString seriesText(const BookTag& book)
{
    return book.series.isEmpty() || book.seriesNumber.isEmpty()
               ? book.series
               : book.series + QStringLiteral(" #") + book.seriesNumber;
}

// ID3v2 -----------------------------------------------------------------

void setText(TagLib::ID3v2::Tag& tag, const char* id, const QString& value)
{
    tag.removeFrames(id);
    if (value.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(text(value));
    tag.addFrame(frame);
}

void setUserText(TagLib::ID3v2::Tag& tag, const char* description, const QString& value)
{
    while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description))
        tag.removeFrame(old);
    if (!value.isEmpty())
        tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(
            description, TagLib::StringList(text(value)), TagLib::String::UTF8));
}

void setComment(TagLib::ID3v2::Tag& tag, const QString& value)
{
    // Comments with a description of their own (a player's normalisation,
    // say) are not the comment.
    const TagLib::ID3v2::FrameList comments = tag.frameList("COMM");
    for (TagLib::ID3v2::Frame* frame : comments) {
        const auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
        if (comment && comment->description().isEmpty())
            tag.removeFrame(frame);
    }
    if (value.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
    frame->setLanguage("eng");
    frame->setText(text(value));
    tag.addFrame(frame);
}

void setCover(TagLib::ID3v2::Tag& tag, const BookTag& book)
{
    // The picture that stood as the cover goes; a back cover or an artist's
    // picture stays.
    TagLib::ID3v2::Frame* shown = nullptr;
    for (TagLib::ID3v2::Frame* frame : tag.frameList("APIC")) {
        const auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (!picture)
            continue;
        if (!shown)
            shown = frame;
        if (picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover) {
            shown = frame;
            break;
        }
    }
    if (shown)
        tag.removeFrame(shown);
    if (book.cover.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setMimeType(text(book.coverMimeType.isEmpty() ? CoverArt::mimeTypeOf(book.cover)
                                                         : book.coverMimeType));
    frame->setPicture(bytes(book.cover));
    tag.addFrame(frame);
}

void setChapters(TagLib::ID3v2::Tag& tag, const QList<BookTag::Chapter>& chapters)
{
    tag.removeFrames("CHAP");
    tag.removeFrames("CTOC");
    // A library loan's own list would contradict the new one.
    setUserText(tag, "OverDrive MediaMarkers", {});
    TagLib::ByteVectorList children;
    for (qsizetype i = 0; i < chapters.size(); ++i) {
        const QByteArray id = "chp" + QByteArray::number(i);
        children.append(bytes(id));
        auto* name = new TagLib::ID3v2::TextIdentificationFrame("TIT2", TagLib::String::UTF8);
        name->setText(text(chapters.at(i).title));
        TagLib::ID3v2::FrameList embedded;
        embedded.append(name);
        // Byte offsets are not given: players go by the times.
        tag.addFrame(new TagLib::ID3v2::ChapterFrame(bytes(id), chapters.at(i).startMs,
                                                     chapters.at(i).endMs, 0xFFFFFFFF, 0xFFFFFFFF,
                                                     embedded));
    }
    if (chapters.isEmpty())
        return;
    auto* contents = new TagLib::ID3v2::TableOfContentsFrame("toc", children);
    contents->setIsTopLevel(true);
    contents->setIsOrdered(true);
    tag.addFrame(contents);
}

// Puts the written fields into the tag, in place of its own of them.
void fill(const BookTag& book, TagLib::ID3v2::Tag& tag)
{
    const BookTag::Fields w = book.written;
    for (const PlainField& each : kPlainFields) {
        if (w & each.field)
            setText(tag, each.id3, book.*each.value);
    }
    if (w & Field::Year) {
        for (const char* id : {"TYER", "TDAT"})
            tag.removeFrames(id);
        setText(tag, "TDRC", book.year);
    }
    if (w & Field::Comment)
        setComment(tag, book.comment);
    if (w & Field::Description)
        setUserText(tag, "DESCRIPTION", book.description);
    if (w & Field::Series) {
        // Audiobook servers read the series from these; the grouping holds
        // it as "Series #N", as the AAC books' does.
        setUserText(tag, "SERIES", book.series);
        setUserText(tag, "SERIES-PART", book.seriesNumber);
        setText(tag, "TIT1", seriesText(book));
    }
    if (w & Field::Track)
        setText(tag, "TRCK",
                book.track <= 0 ? QString()
                : book.tracks > 0
                    ? QStringLiteral("%1/%2").arg(book.track).arg(book.tracks)
                    : QString::number(book.track));
    if (w & Field::Cover)
        setCover(tag, book);
    if (w & Field::Chapters)
        setChapters(tag, book.chapters);
}

QByteArray renderedTag(const TagLib::ID3v2::Tag& tag, TagLib::ID3v2::Version version)
{
    const TagLib::ByteVector rendered = tag.render(version);
    return QByteArray(rendered.data(), static_cast<qsizetype>(rendered.size()));
}

// A tag is written again in the version it came in; ID3v2.2 has no writer.
TagLib::ID3v2::Version versionOf(const TagLib::ID3v2::Tag& tag)
{
    return tag.header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
}

// MP4 -------------------------------------------------------------------

void setItem(TagLib::MP4::Tag& tag, const char* key, const QString& value)
{
    if (value.isEmpty())
        tag.removeItem(key);
    else
        tag.setItem(key, TagLib::StringList(text(value)));
}

void setCover(TagLib::MP4::Tag& tag, const BookTag& book)
{
    TagLib::MP4::CoverArtList covers =
        tag.contains("covr") ? tag.item("covr").toCoverArtList() : TagLib::MP4::CoverArtList();
    // The first image is the cover; any others stay after it.
    if (!covers.isEmpty())
        covers.erase(covers.begin());
    if (!book.cover.isEmpty()) {
        const QString mime =
            book.coverMimeType.isEmpty() ? CoverArt::mimeTypeOf(book.cover) : book.coverMimeType;
        const auto format = mime == QStringLiteral("image/png")   ? TagLib::MP4::CoverArt::PNG
                            : mime == QStringLiteral("image/gif") ? TagLib::MP4::CoverArt::GIF
                            : mime == QStringLiteral("image/bmp") ? TagLib::MP4::CoverArt::BMP
                                                                   : TagLib::MP4::CoverArt::JPEG;
        covers.prepend(TagLib::MP4::CoverArt(format, bytes(book.cover)));
    }
    if (covers.isEmpty())
        tag.removeItem("covr");
    else
        tag.setItem("covr", TagLib::MP4::Item(covers));
}

// As iTunes and AtomicParsley keep them.
void fill(const BookTag& book, TagLib::MP4::Tag& tag)
{
    const BookTag::Fields w = book.written;
    for (const PlainField& each : kPlainFields) {
        if (w & each.field)
            setItem(tag, each.mp4, book.*each.value);
    }
    if (w & Field::Comment)
        setItem(tag, "\251cmt", book.comment);
    if (w & Field::Year)
        setItem(tag, "\251day", book.year);
    if (w & Field::Description) {
        constexpr qsizetype kShortDescription = 255;
        setItem(tag, "desc", book.description.left(kShortDescription));
        setItem(tag, "ldes",
                book.description.size() > kShortDescription ? book.description : QString());
    }
    if (w & Field::Series)
        setItem(tag, "\251grp", seriesText(book));
    if (w & Field::Track) {
        if (book.track > 0)
            tag.setItem("trkn", TagLib::MP4::Item(book.track, book.tracks));
        else
            tag.removeItem("trkn");
    }
    if (w & Field::Cover)
        setCover(tag, book);
}

// Parts -----------------------------------------------------------------

// The book's tags that a part of it carries too, as TagLib maps them
// between kinds: not its title, number, length or encoder, nor a loan's
// chapter marks.
TagLib::PropertyMap carried(TagLib::PropertyMap properties)
{
    for (const char* key : {"TITLE", "TRACKNUMBER", "LENGTH", "ENCODEDBY", "ENCODING"})
        properties.erase(key);
    TagLib::StringList markers;
    for (const auto& [key, values] : properties) {
        if (key.find("MEDIAMARKERS") >= 0)
            markers.append(key);
    }
    for (const TagLib::String& key : markers)
        properties.erase(key);
    return properties;
}

// What TagLib's property map does not carry across kinds.
constexpr BookTag::Fields kNotCarried = BookTag::Fields(Field::Cover) | Field::Description |
                                        Field::Series | Field::Title | Field::Track;

} // namespace

BookTag::Fields BookTag::differencesFrom(const BookTag& other) const
{
    Fields fields;
    const auto differ = [&fields](bool different, Field field) {
        if (different)
            fields |= field;
    };
    differ(title != other.title, Field::Title);
    differ(artist != other.artist, Field::Artist);
    differ(album != other.album, Field::Album);
    differ(albumArtist != other.albumArtist, Field::AlbumArtist);
    differ(comment != other.comment, Field::Comment);
    differ(narrator != other.narrator, Field::Narrator);
    differ(year != other.year, Field::Year);
    differ(description != other.description, Field::Description);
    differ(series != other.series || seriesNumber != other.seriesNumber, Field::Series);
    differ(cover != other.cover, Field::Cover);
    differ(track != other.track || tracks != other.tracks, Field::Track);
    differ(!std::equal(chapters.begin(), chapters.end(), other.chapters.begin(),
                       other.chapters.end(),
                       [](const Chapter& a, const Chapter& b) {
                           return a.title == b.title && a.startMs == b.startMs;
                       }),
           Field::Chapters);
    return fields;
}

QByteArray BookTag::rendered() const
{
    TagLib::ID3v2::Tag tag;
    fill(*this, tag);
    setText(tag, "TCON", QStringLiteral("Audiobook"));
    return renderedTag(tag, TagLib::ID3v2::v4);
}

QByteArray BookTag::renderedOver(const QString& path) const
{
    const QByteArray name = QFile::encodeName(path);
    TagLib::MPEG::File file(name.constData(), false);
    if (!file.isValid())
        throw std::runtime_error("its tags cannot be read");
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(false);
    if (!tag)
        return rendered();
    // The file is never saved: only its tag, changed in memory, is rendered.
    fill(*this, *tag);
    return renderedTag(*tag, versionOf(*tag));
}

void BookTag::writeMp4(const QString& path) const
{
    if (!(written & ~Fields(Field::Chapters)))
        return;
    const QByteArray name = QFile::encodeName(path);
    TagLib::MP4::File file(name.constData(), false);
    TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (!tag)
        throw std::runtime_error("its tags cannot be read");
    fill(*this, *tag);
    if (!file.save())
        throw std::runtime_error("its tags cannot be written");
}

QByteArray BookTag::renderedPartOf(const QString& book) const
{
    BookTag part = *this;
    part.chapters.clear();
    part.written |= Field::Chapters;
    const TagLib::FileRef file = TagFile::open(book);
    auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.file());
    if (TagLib::ID3v2::Tag* tag = mpeg ? mpeg->ID3v2Tag(false) : nullptr) {
        // Changed in memory only; the book is never saved.
        tag->removeFrames("TLEN");
        fill(part, *tag);
        return renderedTag(*tag, versionOf(*tag));
    }
    TagLib::ID3v2::Tag tag;
    if (file.isNull())
        part.written = kEveryField;
    else {
        (void)tag.setProperties(carried(file.file()->properties()));
        part.written |= kNotCarried;
    }
    fill(part, tag);
    return renderedTag(tag, TagLib::ID3v2::v4);
}

void BookTag::writeMp4PartOf(const QString& book, const QString& part) const
{
    const QByteArray name = QFile::encodeName(part);
    TagLib::MP4::File file(name.constData(), false);
    TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (!tag)
        throw std::runtime_error("its tags cannot be read");
    BookTag over = *this;
    const TagLib::FileRef source = TagFile::open(book);
    auto* mp4 = dynamic_cast<TagLib::MP4::File*>(source.file());
    if (mp4 && mp4->tag()) {
        for (const auto& [key, item] : mp4->tag()->itemMap())
            tag->setItem(key, item);
    } else if (!source.isNull()) {
        (void)tag->setProperties(carried(source.file()->properties()));
        over.written |= kNotCarried;
    } else {
        over.written = kEveryField;
    }
    fill(over, *tag);
    if (!file.save())
        throw std::runtime_error("its tags cannot be written");
}
