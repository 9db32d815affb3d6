#pragma once

#include "SlotPool.h"
#include "WorkerReports.h"
#include "WorkerThread.h"

#include <QStringList>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

// Measures the integrated loudness of audio files by EBU R128, each decoded
// by ffmpeg to the rate and channels that the book will have, several at
// once. The files' gated blocks are kept, so that the loudness of all of
// them played one after another is known too, gated as one programme.
class LoudnessMeter
{
public:

    LoudnessMeter();
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Returns at once; the reports come from worker threads, a file at a time.
    void start(const QStringList& sources, int sampleRate, int channels, WorkerReports reports);
    void terminate();
    // Once finished: each file's loudness in LUFS, -infinity for silence.
    [[nodiscard]] const std::vector<double>& loudness() const { return mLoudness; }
    // All files as one, -infinity for silence.
    [[nodiscard]] double wholeLoudness() const;

    [[nodiscard]] static QString command(const QString& source, int sampleRate, int channels);
    // One file's loudness and true peak (dBTP), measured on the caller's
    // thread; throws when ffmpeg cannot read it.
    struct Reading
    {
        double loudness = 0;
        double truePeak = 0;
    };
    [[nodiscard]] static Reading readingOf(const QString& path, int sampleRate, int channels);

private:
    // One file's measure, gated blocks and all.
    struct Gauge;
    void measure(qsizetype index, ProcessSlot& slot);
    // The file's gauge, or none when it was stopped.
    [[nodiscard]] static std::unique_ptr<Gauge>
    gauge(const QString& path, int sampleRate, int channels, ProcessSlot& slot, bool peaks = false);
    [[nodiscard]] static double loudnessOf(const Gauge& gauge);

    QStringList mSources;
    int mSampleRate = 0;
    int mChannels = 0;
    std::vector<std::unique_ptr<Gauge>> mGauges;
    std::vector<double> mLoudness;
    SlotPool mPool;
    WorkerThread mThread;
};
