#pragma once

#include "EncoderOptions.h"
#include "Mp3Frames.h"
#include "ToolRunner.h"
#include "WorkerThread.h"
#include "mp3ConverterDelegate.h"

#include <QList>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// Re-encodes the joined MP3 as AAC with ffmpeg on a thread of its own, and
// reports the encoder's position from its standard error.
//
// ffmpeg's AAC encoder uses one core. A long book is split near file
// boundaries into parts of about equal length, one ffmpeg each, and their
// AAC frames are put together without a re-encode. Each part after the
// first starts encoding a little earlier and drops those frames, so the
// encoder has settled by the join, and joins fall on the frame grid of the
// whole book, so every sample keeps its place. A part reads the MP3 from a
// frame a little before its run-in, where the joined stream can be counted
// frame by frame; otherwise it decodes everything before it.
class Mp3Converter
{
public:
    ~Mp3Converter();

    void setDelegate(mp3ConverterDelegate* delegate) { mDelegate = delegate; }
    void setInputFile(const QString& path) { mInputFile = path; }
    void setOutputFolder(const QString& folder) { mOutputFolder = folder; }
    void setOutputFile(const QString& name) { mOutputFile = name; }
    void setOutputAuthor(const QString& author) { mOutputAuthor = author; }
    void setOutputTitle(const QString& title) { mOutputTitle = title; }
    void setFfmpegOptions(const EncoderOptions& options) { mFfmpegOptions = options; }
    // Where each file starts in the input, in seconds, and the whole length:
    // where a long book may be split.
    void setFileStarts(const QList<double>& starts, double length)
    {
        mFileStarts = starts;
        mLength = length;
    }
    // How many encoders run at once, at most; 0 picks one per core, up to 8.
    void setParallelism(int parts) { mParallelism = parts; }
    [[nodiscard]] mp3ConverterDelegate* delegate() const { return mDelegate; }
    [[nodiscard]] const QString& inputFile() const { return mInputFile; }
    [[nodiscard]] const QString& outputFolder() const { return mOutputFolder; }
    [[nodiscard]] const QString& outputFile() const { return mOutputFile; }
    [[nodiscard]] const QString& outputAuthor() const { return mOutputAuthor; }
    [[nodiscard]] const QString& outputTitle() const { return mOutputTitle; }
    [[nodiscard]] const EncoderOptions& ffmpegOptions() const { return mFfmpegOptions; }
    [[nodiscard]] qint32 ffmpegLength() const { return mFfmpegLength; }

    // Returns at once; the delegate hears of the end from the worker thread.
    void startConvert();
    void terminateConvert();

    // The encoder command for the current properties.
    [[nodiscard]] QString command() const;

    // Where parts join, in samples at the output rate: on the frame grid,
    // near the file starts nearest to equal shares of the work. A part that
    // decodes everything before it gets less to encode. Empty when the book
    // is encoded whole (one part, one file, or under a minute).
    [[nodiscard]] static QList<qint64> partJoins(const QList<double>& fileStarts, double length,
                                                 int sampleRate, int parts,
                                                 bool decodesBefore = true);

private:
    struct Part
    {
        ToolRunner runner;
        double position = 0;
    };
    void checkProgressFromStdin(ToolProcess& process);
    void startWhole();
    // streamStarts: where each part after the first reads from; empty: the start.
    void startParts(const QList<qint64>& joins, const QList<Mp3Frames::StreamStart>& streamStarts);
    [[nodiscard]] QString partCommand(qint64 from, qint64 to, qsizetype part,
                                      const std::optional<Mp3Frames::StreamStart>& start) const;
    [[nodiscard]] QString partPath(qsizetype part) const;
    [[nodiscard]] QString joinedPartsPath() const;
    [[nodiscard]] QString tagsPath() const;
    void partProgress(std::size_t part, double position);
    void partFinished(const std::exception_ptr& failure);
    // Puts the parts' kept frames into one stream and wraps it as "m4a.m4a".
    void joinParts();
    void removePartFiles() const;
    void report(const std::exception_ptr& failure);

    mp3ConverterDelegate* mDelegate = nullptr;
    QString mInputFile;
    QString mOutputFolder;
    QString mOutputFile;
    QString mOutputAuthor;
    QString mOutputTitle;
    EncoderOptions mFfmpegOptions;
    qint32 mFfmpegLength = 0;
    QList<double> mFileStarts;
    double mLength = 0;
    int mParallelism = 0;
    QList<qint64> mJoins;
    int mSampleRate = 44100;
    // The joined stream's runner outlives the parts', whose threads start it.
    ToolRunner mJoinRunner;
    ToolRunner mRunner;
    std::mutex mPartsMutex;
    std::vector<std::unique_ptr<Part>> mParts;
    std::size_t mPartsRunning = 0;
    std::exception_ptr mPartFailure;
    std::atomic<bool> mStopped = false;
    // Plans the parts and starts them; it ends first, as it uses all the above.
    WorkerThread mPlanner;
};
