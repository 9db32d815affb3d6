#pragma once

#include "BookTag.h"
#include "ItemRecord.h"

#include <QString>
#include <optional>

// What a book is made as.
enum class BookFormat
{
    Mp3,
    AacStandard, // .m4a
    AacBookmark, // .m4b, with chapters
};

// One run, as it was asked for when Make was pressed. The steps read it, so
// what the user changes in the list or the sheets meanwhile waits for the
// next run.
struct RunRequest
{
    // Runs count from 1; 0 is none. A worker's report names its run.
    int number = 0;
    ItemList records;
    BookFormat format = BookFormat::Mp3;
    // The output sheet's bit rate ("64k") and sample rate ("44100"); none
    // for "Same as source".
    std::optional<QString> bitRate;
    std::optional<QString> sampleRate;
    bool mono = true;
    // The tag sheet's values, with the cover as JPEG; the chapters come later.
    BookTag tags;
    QString outputName;
    // Some source is not an MP3: every one is decoded, and the book encoded
    // from what they decode to.
    bool decodes = false;
    // Every source is AAC encoded alike and the sheet keeps its bit rate,
    // sample rate and channels: the frames are copied into the book, and
    // nothing is decoded or encoded.
    bool copiesAac = false;

    // An encoding without "AAC" joins the files as MP3; an AAC one is
    // Standard or Bookmark, and any other is none that we know.
    [[nodiscard]] static std::optional<BookFormat> formatFor(const QString& encodingTitle)
    {
        using namespace Qt::Literals::StringLiterals;
        if (!encodingTitle.contains(u"AAC"_s))
            return BookFormat::Mp3;
        if (encodingTitle.contains(u"Standard"_s))
            return BookFormat::AacStandard;
        if (encodingTitle.contains(u"Bookmark"_s))
            return BookFormat::AacBookmark;
        return std::nullopt;
    }
};
