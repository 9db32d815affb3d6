#pragma once

#include "BookFormat.h"
#include "BookTag.h"
#include "ItemRecord.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Whether a book is levelled to one loudness, and how.
enum class EvenVolume
{
    Off,
    // One gain for the whole book.
    WholeBook,
    // Every file brought to the target.
    EachFile,
};

// One run as it was asked for when Make was pressed: the files as they were
// then, as values, and the settings. Nothing changes it; what the run
// learns and decides on the way is its own (RunWork), and it tells the
// window what it learned of the files.
struct RunRequest
{
    QList<ItemRecord> files;
    BookFormat format = BookFormat::Mp3;
    // The bit rate ("64k") and sample rate ("44100"); none for the source's own.
    std::optional<QString> bitRate;
    std::optional<QString> sampleRate;
    bool mono = true;
    // The tags, with the cover as JPEG; the chapters come from the files.
    BookTag tags;
    QString outputName;
    // How many encoders run at once; 0 is one per core.
    int encoders = 0;
    // Levelling measures every file and applies its gain as it is decoded,
    // so a levelled book is always decoded and encoded.
    EvenVolume evenVolume = EvenVolume::Off;
    // The loudness a levelled book has, in LUFS: a common level for speech.
    static constexpr double kTargetLoudness = -18.0;

    // The sample rate asked for, else the first source's, else 44.1 kHz:
    // what every source is decoded to.
    [[nodiscard]] int decodedRate() const;
};

// What a run works with: its request, its own records of the files, which
// its steps fill in (links, exact lengths, problems, loudness), and what it
// decides on the way.
struct RunWork
{
    explicit RunWork(RunRequest asked);

    RunRequest request;
    ItemList records;
    // Some source is not an MP3: every one is decoded, and the book encoded
    // from what they decode to.
    bool decodes = false;
    // Every source is AAC encoded alike and the book keeps its bit rate,
    // sample rate and channels: the frames are copied into the book, and
    // nothing is decoded or encoded.
    bool copiesAac = false;
    // The gain of each file in dB, once measured.
    std::vector<double> gains;
    // What the encoder adds, in dB, for what the limiter and the encoder take.
    double encoderGain = 0;

    [[nodiscard]] int decodedRate() const { return request.decodedRate(); }
    [[nodiscard]] int channels() const { return request.mono ? 1 : 2; }
    // The source files' paths, in order.
    [[nodiscard]] QStringList sourcePaths() const;
    // The run's records as values, for the window to take what was learned.
    [[nodiscard]] QList<ItemRecord> learned() const;
};
