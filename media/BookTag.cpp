#include "BookTag.h"

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

namespace {

TagLib::String text(const QString& value)
{
    return TagLib::String(value.toStdWString());
}

TagLib::ByteVector bytes(const QByteArray& value)
{
    return TagLib::ByteVector(value.constData(), static_cast<unsigned int>(value.size()));
}

void addText(TagLib::ID3v2::Tag& tag, const char* id, const QString& value)
{
    if (value.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(text(value));
    tag.addFrame(frame);
}

void addUserText(TagLib::ID3v2::Tag& tag, const char* description, const QString& value)
{
    if (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description))
        tag.removeFrame(old);
    if (!value.isEmpty())
        tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(
            description, TagLib::StringList(text(value)), TagLib::String::UTF8));
}

} // namespace

namespace {

// Puts the book's tags and chapters in the tag, in place of its own.
void fill(const BookTag& book, TagLib::ID3v2::Tag& tag)
{
    // Frames that the book sets, or that would contradict it.
    for (const char* id : {"TIT2", "TPE1", "TALB", "TPE2", "TCOM", "TDRC", "TYER", "TDAT", "TCON",
                           "TIT1", "COMM", "APIC", "CHAP", "CTOC", "TRCK"}) {
        tag.removeFrames(id);
    }
    if (book.track > 0)
        addText(tag, "TRCK",
                book.tracks > 0 ? QStringLiteral("%1/%2").arg(book.track).arg(book.tracks)
                                : QString::number(book.track));
    addText(tag, "TIT2", book.title);
    addText(tag, "TPE1", book.artist);
    addText(tag, "TALB", book.album);
    addText(tag, "TPE2", book.albumArtist);
    addText(tag, "TCOM", book.narrator);
    addText(tag, "TDRC", book.year);
    addText(tag, "TCON", QStringLiteral("Audiobook"));
    // Audiobook servers read the series from these; the grouping holds it
    // as "Series #N", as the AAC books' does.
    addUserText(tag, "SERIES", book.series);
    addUserText(tag, "SERIES-PART", book.seriesNumber);
    addText(tag, "TIT1",
            book.series.isEmpty() || book.seriesNumber.isEmpty()
                ? book.series
                : book.series + QStringLiteral(" #") + book.seriesNumber);
    addUserText(tag, "DESCRIPTION", book.description);
    if (!book.comment.isEmpty()) {
        auto* frame = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        frame->setLanguage("eng");
        frame->setText(text(book.comment));
        tag.addFrame(frame);
    }
    if (!book.cover.isEmpty()) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setMimeType(text(book.coverMimeType));
        frame->setPicture(bytes(book.cover));
        tag.addFrame(frame);
    }
    TagLib::ByteVectorList children;
    for (qsizetype i = 0; i < book.chapters.size(); ++i) {
        const QByteArray id = "chp" + QByteArray::number(i);
        children.append(bytes(id));
        auto* name = new TagLib::ID3v2::TextIdentificationFrame("TIT2", TagLib::String::UTF8);
        name->setText(text(book.chapters.at(i).title));
        TagLib::ID3v2::FrameList embedded;
        embedded.append(name);
        // Byte offsets are not given: players go by the times.
        tag.addFrame(new TagLib::ID3v2::ChapterFrame(bytes(id), book.chapters.at(i).startMs,
                                                     book.chapters.at(i).endMs, 0xFFFFFFFF, 0xFFFFFFFF,
                                                     embedded));
    }
    if (!book.chapters.isEmpty()) {
        auto* contents = new TagLib::ID3v2::TableOfContentsFrame("toc", children);
        contents->setIsTopLevel(true);
        contents->setIsOrdered(true);
        tag.addFrame(contents);
    }
}

QByteArray renderedTag(const TagLib::ID3v2::Tag& tag)
{
    const TagLib::ByteVector rendered = tag.render(TagLib::ID3v2::v4);
    return QByteArray(rendered.data(), static_cast<qsizetype>(rendered.size()));
}

TagLib::StringList textList(const QString& value)
{
    return TagLib::StringList(text(value));
}

} // namespace

QByteArray BookTag::rendered() const
{
    TagLib::ID3v2::Tag tag;
    fill(*this, tag);
    return renderedTag(tag);
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
    return renderedTag(*tag);
}

void BookTag::writeMp4(const QString& path) const
{
    const QByteArray name = QFile::encodeName(path);
    TagLib::MP4::File file(name.constData(), false);
    TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (!tag)
        throw std::runtime_error("its tags cannot be read");
    const auto set = [tag](const char* key, const QString& value) {
        if (value.isEmpty())
            tag->removeItem(key);
        else
            tag->setItem(key, textList(value));
    };
    // As iTunes and AtomicParsley keep them.
    set("\251nam", title);
    set("\251ART", artist);
    set("\251alb", album);
    set("aART", albumArtist);
    set("\251cmt", comment);
    set("\251wrt", narrator);
    set("\251day", year);
    set("\251gen", QStringLiteral("Audiobook"));
    constexpr qsizetype kShortDescription = 255;
    set("desc", description.left(kShortDescription));
    set("ldes", description.size() > kShortDescription ? description : QString());
    set("\251grp", series.isEmpty() || seriesNumber.isEmpty()
                       ? series
                       : series + QStringLiteral(" #") + seriesNumber);
    if (track > 0)
        tag->setItem("trkn", TagLib::MP4::Item(track, tracks));
    if (cover.isEmpty()) {
        tag->removeItem("covr");
    } else {
        const auto format = coverMimeType == QStringLiteral("image/png")
                                ? TagLib::MP4::CoverArt::PNG
                                : TagLib::MP4::CoverArt::JPEG;
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(format, bytes(cover)));
        tag->setItem("covr", TagLib::MP4::Item(covers));
    }
    if (!file.save())
        throw std::runtime_error("its tags cannot be written");
}
