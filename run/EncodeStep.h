#pragma once

#include "EncoderOptions.h"
#include "Mp3Converter.h"
#include "RunStep.h"

// The book encoded by ffmpeg, as AAC into "m4a.m4a" (in parts on every
// core when it is long) or as MP3 into "mp3.mp3".
class EncodeStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Encoding; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mConverter.terminateConvert(); }
    // What was made is measured against its sources.
    [[nodiscard]] QString settle(RunWork& run) override;
    [[nodiscard]] QString output() const override;

    // The encoder's options for the book whose joined MP3 is at path.
    [[nodiscard]] static EncoderOptions ffmpegFindOption(const RunWork& run,
                                                         const QString& path);

private:
    QString mFolder;
    bool mMp3 = false;
    Mp3Converter mConverter;
};
