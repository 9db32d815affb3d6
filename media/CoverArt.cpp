#include "CoverArt.h"

#include <taglib/aifffile.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

using namespace Qt::Literals::StringLiterals;

namespace CoverArt {

namespace {

QByteArray bytesOf(const TagLib::ByteVector& data)
{
    return {data.data(), static_cast<qsizetype>(data.size())};
}

QString textOf(const TagLib::String& value)
{
    return QString::fromStdWString(value.toWString()).trimmed();
}

// A picture's own type, else what its bytes say.
Picture picture(const TagLib::ByteVector& data, const TagLib::String& mimeType, bool front)
{
    Picture picture{.data = bytesOf(data), .mimeType = textOf(mimeType), .front = front};
    if (!picture.mimeType.startsWith(u"image/"_s))
        picture.mimeType = mimeTypeOf(picture.data);
    return picture;
}

void fromId3(const TagLib::ID3v2::Tag* tag, std::vector<Picture>& pictures)
{
    if (!tag)
        return;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        if (const auto* apic = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame))
            pictures.push_back(
                picture(apic->picture(), apic->mimeType(),
                        apic->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover));
    }
}

void fromFlac(const TagLib::List<TagLib::FLAC::Picture*>& list, std::vector<Picture>& pictures)
{
    for (const TagLib::FLAC::Picture* flac : list)
        pictures.push_back(picture(flac->data(), flac->mimeType(),
                                   flac->type() == TagLib::FLAC::Picture::FrontCover));
}

void fromXiph(TagLib::Ogg::XiphComment* comment, std::vector<Picture>& pictures)
{
    if (comment)
        fromFlac(comment->pictureList(), pictures);
}

void fromMp4(TagLib::MP4::Tag* tag, std::vector<Picture>& pictures)
{
    if (!tag || !tag->contains("covr"))
        return;
    for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList()) {
        Picture each{.data = bytesOf(art.data()), .mimeType = {}, .front = false};
        switch (art.format()) {
        case TagLib::MP4::CoverArt::JPEG: each.mimeType = u"image/jpeg"_s; break;
        case TagLib::MP4::CoverArt::PNG: each.mimeType = u"image/png"_s; break;
        case TagLib::MP4::CoverArt::GIF: each.mimeType = u"image/gif"_s; break;
        case TagLib::MP4::CoverArt::BMP: each.mimeType = u"image/bmp"_s; break;
        default: each.mimeType = mimeTypeOf(each.data); break;
        }
        pictures.push_back(each);
    }
}

void fromAsf(TagLib::ASF::Tag* tag, std::vector<Picture>& pictures)
{
    if (!tag || !tag->contains("WM/Picture"))
        return;
    for (const TagLib::ASF::Attribute& attribute : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture asf = attribute.toPicture();
        if (asf.isValid())
            pictures.push_back(picture(asf.picture(), asf.mimeType(),
                                       asf.type() == TagLib::ASF::Picture::FrontCover));
    }
}

} // namespace

std::vector<Picture> in(TagLib::File& file)
{
    std::vector<Picture> pictures;
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file))
        fromId3(mpeg->ID3v2Tag(), pictures);
    else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(&file))
        fromMp4(mp4->tag(), pictures);
    else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(&file)) {
        fromFlac(flac->pictureList(), pictures);
        if (pictures.empty())
            fromXiph(flac->xiphComment(), pictures);
    } else if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(&file))
        fromXiph(vorbis->tag(), pictures);
    else if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(&file))
        fromXiph(opus->tag(), pictures);
    else if (auto* oggFlac = dynamic_cast<TagLib::Ogg::FLAC::File*>(&file))
        fromXiph(oggFlac->tag(), pictures);
    else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(&file))
        fromAsf(asf->tag(), pictures);
    else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(&file))
        fromId3(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr, pictures);
    else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(&file))
        fromId3(aiff->hasID3v2Tag() ? aiff->tag() : nullptr, pictures);
    std::erase_if(pictures, [](const Picture& p) { return p.data.isEmpty(); });
    return pictures;
}

Picture frontOf(TagLib::File& file)
{
    const std::vector<Picture> pictures = in(file);
    for (const Picture& each : pictures) {
        if (each.front)
            return each;
    }
    return pictures.empty() ? Picture{} : pictures.front();
}

QString mimeTypeOf(const QByteArray& image)
{
    if (image.startsWith("\xFF\xD8\xFF"))
        return u"image/jpeg"_s;
    if (image.startsWith("\x89PNG\r\n\x1A\n"))
        return u"image/png"_s;
    if (image.startsWith("GIF87a") || image.startsWith("GIF89a"))
        return u"image/gif"_s;
    if (image.startsWith("BM"))
        return u"image/bmp"_s;
    return {};
}

} // namespace CoverArt
