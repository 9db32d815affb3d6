#include "BookFormat.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

QString BookFormats::extension(BookFormat format)
{
    switch (format) {
    case BookFormat::Mp3:
        return u"mp3"_s;
    case BookFormat::AacStandard:
        return u"m4a"_s;
    case BookFormat::AacBookmark:
        break;
    }
    return u"m4b"_s;
}

std::optional<BookFormat> BookFormats::ofPath(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const BookFormat format : {BookFormat::Mp3, BookFormat::AacStandard, BookFormat::AacBookmark}) {
        if (suffix == extension(format))
            return format;
    }
    return std::nullopt;
}

QString BookFormats::name(BookFormat format)
{
    switch (format) {
    case BookFormat::Mp3:
        return u"MP3"_s;
    case BookFormat::AacStandard:
        return u"AAC Standard (.m4a)"_s;
    case BookFormat::AacBookmark:
        break;
    }
    return u"AAC Bookmark (.m4b)"_s;
}
