#pragma once

#include "ItemRecord.h"
#include "WorkerException.h"
#include "WorkerReports.h"
#include "WorkerThread.h"

#include <QStringList>
#include <atomic>
#include <exception>
#include <functional>
#include <vector>

// Makes a book of MP4 files whose AAC audio is all encoded alike by copying
// their frames into one track, not encoding them again: the book is their
// audio as it was, made in the time it takes to copy it. Each later file's
// priming frames stay in, before its chapter starts, because decoders carry
// their state from frame to frame and an edit in mid-track is honoured by
// few players.
class AacCopier
{
public:

    AacCopier() = default;
    ~AacCopier();
    AacCopier(const AacCopier&) = delete;
    AacCopier& operator=(const AacCopier&) = delete;

    // What the run fails with, before anything is written, when a source is
    // not AAC of the configuration expected: it may have changed since it
    // was listed, and must be decoded instead.
    class NotAlike : public WorkerException
    {
    public:
        using WorkerException::WorkerException;
    };

    // Returns at once; the reports come from a worker thread, a file at a
    // time. Every source must have the AudioSpecificConfig given.
    void start(const QStringList& sources, const QByteArray& audioConfig, const QString& output,
               WorkerReports reports);
    void terminate() { mStopped = true; }
    // Where each source lies in the book, once finished: the samples its
    // frames play and where its own audio starts among them.
    [[nodiscard]] const std::vector<ItemRecord::Exact>& placements() const { return mPlacements; }

private:
    void copy(const WorkerReports& reports);

    QStringList mSources;
    QByteArray mAudioConfig;
    QString mOutput;
    std::vector<ItemRecord::Exact> mPlacements;
    std::atomic<bool> mStopped = false;
    WorkerThread mThread;
};
