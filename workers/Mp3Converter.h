#pragma once

#include "EncodePlan.h"
#include "EncoderCommand.h"
#include "EncoderOptions.h"
#include "ToolRunner.h"
#include "WorkerReports.h"

#include <QList>
#include <QString>
#include <memory>

// Re-encodes the book as AAC with ffmpeg on a thread of its own, and reports
// the encoder's position from its standard error.
//
// ffmpeg reads the source files one after another through its concat
// demuxer, each as if it were played alone: their tags and Info frames are
// read past, and each one's encoder delay and padding dropped, so the book
// is as long as its files and every chapter starts where its file does. A
// long book is encoded in parts on every core (see EncodePlan).
class Mp3Converter
{
public:
    // One source file and what it decodes to.
    struct Source
    {
        QString path;
        qint64 samples = 0;
        int sampleRate = 0;
    };

    Mp3Converter();
    ~Mp3Converter();
    Mp3Converter(const Mp3Converter&) = delete;
    Mp3Converter& operator=(const Mp3Converter&) = delete;

    void setInputFile(const QString& path) { mInputFile = path; }
    void setOutputFolder(const QString& folder) { mOutputFolder = folder; }
    void setOutputFile(const QString& name) { mOutputFile = name; }
    void setFfmpegOptions(const EncoderOptions& options) { mFfmpegOptions = options; }
    // The files the joined input was made of, in order. Without them the
    // joined file is encoded as it stands.
    void setSourceFiles(const QList<Source>& sources) { mSources = sources; }
    // The book is encoded as MP3 with LAME, whole, into "<output file>.mp3".
    void setEncodesMp3(bool mp3) { mEncodesMp3 = mp3; }
    // How many encoders run at once, at most; 0 picks one per core, up to 8.
    void setParallelism(int parts) { mParallelism = parts; }
    [[nodiscard]] const EncoderOptions& ffmpegOptions() const { return mFfmpegOptions; }
    [[nodiscard]] qint32 ffmpegLength() const { return mFfmpegLength; }
    // The length of the sources' audio, in seconds; 0 without them.
    [[nodiscard]] double exactSeconds() const;

    // Returns at once; the reports come from worker threads: seconds encoded
    // of the whole, and the end.
    void startConvert(WorkerReports reports);
    void terminateConvert();

    // The encoder command that converts the whole book at once.
    [[nodiscard]] QString command() const;

private:
    struct Job;
    void checkProgressFromStdin(ToolProcess& process, const WorkerReports& reports);
    void startWhole(const WorkerReports& reports);
    void startParts(const EncodePlan& plan, WorkerReports reports);
    // What a part of a split encode reads: its list of files, or its one file.
    [[nodiscard]] EncoderCommand::Input partInput(const EncodePart& part, qsizetype index) const;
    [[nodiscard]] EncoderCommand::Input input(const QString& listName) const;
    // The sources from `from` to `to`, or all of them, for the concat demuxer.
    [[nodiscard]] QByteArray concatList(qsizetype from = 0, qsizetype to = -1) const;
    [[nodiscard]] QString inFolder(const QString& suffix) const;
    void partProgress(Job& job, qsizetype part, double position);
    void partFinished(Job& job, const std::exception_ptr& failure);
    // Puts the parts' kept frames into "m4a.m4a".
    void joinParts(Job& job);
    void removeWorkFiles(qsizetype parts) const;

    QString mInputFile;
    QString mOutputFolder;
    QString mOutputFile;
    EncoderOptions mFfmpegOptions;
    qint32 mFfmpegLength = 0;
    QList<Source> mSources;
    int mParallelism = 0;
    bool mEncodesMp3 = false;
    ToolRunner mRunner;
    // The parts of the conversion under way, or of the last one.
    std::unique_ptr<Job> mJob;
};
