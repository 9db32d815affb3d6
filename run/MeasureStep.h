#pragma once

#include "LoudnessMeter.h"
#include "RunStep.h"

// Every file's loudness measured, on every core, at the book's rate and
// channels, and from it the gain that each file is decoded with.
class MeasureStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Measuring; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mMeter.terminate(); }
    // The records show their loudness, and the run takes the gains.
    [[nodiscard]] QString settle(RunWork& run) override;
    [[nodiscard]] QString output() const override { return mInput; }

    // The gain that brings a loudness to the target, in dB: none for silence,
    // and at most so much that a near-silent file is not made a roar of noise.
    [[nodiscard]] static double gainFor(double loudness);

private:
    QString mInput;
    LoudnessMeter mMeter;
};
