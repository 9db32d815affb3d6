#pragma once

#include "EncoderOptions.h"
#include "ToolRunner.h"
#include "mp3ConverterDelegate.h"

#include <QString>

// Re-encodes the joined MP3 as AAC with ffmpeg on a thread of its own, and
// reports the encoder's position from its standard error.
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

private:
    void checkProgressFromStdin(ToolProcess& process);

    mp3ConverterDelegate* mDelegate = nullptr;
    QString mInputFile;
    QString mOutputFolder;
    QString mOutputFile;
    QString mOutputAuthor;
    QString mOutputTitle;
    EncoderOptions mFfmpegOptions;
    qint32 mFfmpegLength = 0;
    ToolRunner mRunner;
};
