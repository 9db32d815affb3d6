#pragma once

#include "SlotPool.h"
#include "WorkerReports.h"
#include "WorkerThread.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Decodes the sources of a book that is not all MP3 with ffmpeg into WAV
// files of one sample rate and channel count, several at once, and counts
// the samples that each one gives. The encoder then reads one kind of audio,
// and every chapter starts where its file's audio does.
class SourceDecoder
{
public:

    SourceDecoder() = default;
    ~SourceDecoder();
    SourceDecoder(const SourceDecoder&) = delete;
    SourceDecoder& operator=(const SourceDecoder&) = delete;

    // Returns at once; the reports come from worker threads, a file at a
    // time. Decoded file i is outputs()[i]; samples()[i] is what it holds,
    // once finished.
    void start(const QStringList& sources, const QString& folder, int sampleRate, int channels,
               WorkerReports reports);
    // Gains in dB, one for each source, applied as it is decoded, with a
    // limiter that keeps its peaks below the book's ceiling. None: as it is.
    void setGains(std::vector<double> gains) { mGains = std::move(gains); }
    void terminate();
    [[nodiscard]] const QStringList& outputs() const { return mOutputs; }
    [[nodiscard]] const std::vector<qint64>& samples() const { return mSamples; }

    [[nodiscard]] static QString command(const QString& source, int sampleRate, int channels,
                                         const QString& output,
                                         std::optional<double> gain = std::nullopt);

    // The sample frames in a WAV file's data; none when it is no WAV file.
    [[nodiscard]] static std::optional<qint64> wavFrames(const QString& path);

private:
    void decode(qsizetype index, ProcessSlot& slot);

    QStringList mSources;
    QStringList mOutputs;
    std::vector<qint64> mSamples;
    std::vector<double> mGains;
    int mSampleRate = 0;
    int mChannels = 0;
    SlotPool mPool;
    WorkerThread mThread;
};
