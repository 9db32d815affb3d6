#pragma once

#include "RunStep.h"
#include "SourceDecoder.h"

// Every source decoded to WAV of one rate and channel count, for the encoder.
class DecodeStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Decoding; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mDecoder.terminate(); }
    // Each record takes the length that its decoded audio has, and the
    // encoder reads that audio; a source that decodes short fails the run.
    [[nodiscard]] QString settle(RunWork& run) override;
    [[nodiscard]] QString output() const override { return mFolder + QStringLiteral("/mp3.mp3"); }

private:
    QString mFolder;
    SourceDecoder mDecoder;
};
