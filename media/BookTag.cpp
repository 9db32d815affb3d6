#include "BookTag.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
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
    if (!value.isEmpty())
        tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(
            description, TagLib::StringList(text(value)), TagLib::String::UTF8));
}

} // namespace

QByteArray BookTag::rendered() const
{
    TagLib::ID3v2::Tag tag;
    addText(tag, "TIT2", title);
    addText(tag, "TPE1", artist);
    addText(tag, "TALB", album);
    addText(tag, "TPE2", albumArtist);
    addText(tag, "TCOM", narrator);
    addText(tag, "TDRC", year);
    addText(tag, "TCON", QStringLiteral("Audiobook"));
    // Audiobook servers read the series from these; the grouping holds it
    // as "Series #N", as the AAC books' does.
    addUserText(tag, "SERIES", series);
    addUserText(tag, "SERIES-PART", seriesNumber);
    addText(tag, "TIT1",
            series.isEmpty() || seriesNumber.isEmpty()
                ? series
                : series + QStringLiteral(" #") + seriesNumber);
    addUserText(tag, "DESCRIPTION", description);
    if (!comment.isEmpty()) {
        auto* frame = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        frame->setLanguage("eng");
        frame->setText(text(comment));
        tag.addFrame(frame);
    }
    if (!cover.isEmpty()) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setMimeType(text(coverMimeType));
        frame->setPicture(bytes(cover));
        tag.addFrame(frame);
    }
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
    if (!chapters.isEmpty()) {
        auto* contents = new TagLib::ID3v2::TableOfContentsFrame("toc", children);
        contents->setIsTopLevel(true);
        contents->setIsOrdered(true);
        tag.addFrame(contents);
    }
    const TagLib::ByteVector rendered = tag.render(TagLib::ID3v2::v4);
    return QByteArray(rendered.data(), static_cast<qsizetype>(rendered.size()));
}
