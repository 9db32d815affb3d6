#pragma once

#include "EncoderOptions.h"
#include "Mp3Converter.h"
#include "RunStep.h"

// The book encoded by ffmpeg, as AAC into "m4a.m4a" (in parts on every
// core when it is long) or as MP3 into "mp3.mp3".
class EncodeStep final : public RunStep, private mp3ConverterDelegate
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Encoding; }
    [[nodiscard]] QString during() const override;
    void start(RunRequest& run, const QString& folder, const QString& input,
               Reports reports) override;
    void stop() override { mConverter.terminateConvert(); }
    // What was made is measured against its sources.
    [[nodiscard]] QString settle(RunRequest& run) override;
    [[nodiscard]] QString output() const override;

    // The encoder's options for the book whose joined MP3 is at path.
    [[nodiscard]] static EncoderOptions ffmpegFindOption(const RunRequest& run,
                                                         const QString& path);

private:
    void mp3ConverterProgress(double position, const QString& description) override;
    void mp3ConverterDidFinish(Mp3Converter* converter,
                               std::exception_ptr convertException) override;

    Reports mReports;
    QString mFolder;
    bool mMp3 = false;
    double mTotal = 0;
    Mp3Converter mConverter;
};
