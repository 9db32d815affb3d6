#pragma once

#include "BookTag.h"
#include "ItemRecord.h"

#include <QString>
#include <optional>
#include <vector>

// What a book is made as.
enum class BookFormat
{
    Mp3,
    AacStandard, // .m4a
    AacBookmark, // .m4b, with chapters
};

// Whether a book is levelled to one loudness, and how.
enum class EvenVolume
{
    Off,
    // One gain for the whole book.
    WholeBook,
    // Every file brought to the target.
    EachFile,
};

// One run, as it was asked for when Make was pressed. The steps read it, so
// what the user changes in the list or the sheets meanwhile waits for the
// next run.
struct RunRequest
{
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
    // How many encoders run at once; 0 is one per core.
    int encoders = 0;
    // Levelling measures every file and applies its gain as it is decoded,
    // so a levelled book is always decoded and encoded.
    EvenVolume evenVolume = EvenVolume::Off;
    // The gain of each file in dB, once measured.
    std::vector<double> gains;
    // What the encoder adds, in dB, for what the limiter and the encoder take.
    double encoderGain = 0;
    // The loudness a levelled book has, in LUFS: a common level for speech.
    static constexpr double kTargetLoudness = -18.0;

    // The sample rate asked for, else the first source's, else 44.1 kHz:
    // what every source is decoded to.
    [[nodiscard]] int decodedRate() const
    {
        if (sampleRate && sampleRate->toInt() > 0)
            return sampleRate->toInt();
        const int first = records.isEmpty() ? 0 : records.first()->sampleFrequencyColumn.toInt();
        return first > 0 ? first : 44100;
    }

    // Decides between joining, decoding and copying from the records and
    // the settings: any source that is not MP3 is decoded, unless every one
    // is AAC alike and kept as it is, when its frames are copied.
    void chooseMethod();

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
