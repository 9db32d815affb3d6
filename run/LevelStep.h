#pragma once

#include "EncoderOptions.h"
#include "LoudnessMeter.h"
#include "ProcessSlot.h"
#include "RunStep.h"
#include "SourceDecoder.h"

#include <vector>

// The levelled files measured again as the encoder will read them. The
// limiter takes loudness from a file with high peaks, so the files are
// decoded once more with their gains made good where they fall short; then
// a stretch of the longest is encoded and measured, and what the encoder
// takes is given back by the encode, so that the book plays at the target.
class LevelStep final : public RunStep
{
public:
    LevelStep() = default;
    ~LevelStep() override { stop(); }
    LevelStep(const LevelStep&) = delete;
    LevelStep& operator=(const LevelStep&) = delete;

    [[nodiscard]] RunState state() const override { return RunState::Levelling; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override;
    [[nodiscard]] QString settle(RunWork& run) override;
    [[nodiscard]] QString output() const override { return mInput; }

private:
    // New gains where the decoded files fall short; none when all are near enough.
    [[nodiscard]] std::vector<double> madeGood() const;
    // What the encoder takes from a stretch of the loudest file, in LU, less
    // what would lift the stretch's true peak past the book's limit.
    [[nodiscard]] double encoderGain() const;
    void runTool(const QString& command) const;

    QString mInput;
    QString mFolder;
    QStringList mSources;
    QStringList mDecoded;
    std::vector<double> mSeconds;
    int mSampleRate = 0;
    int mChannels = 0;
    EncoderOptions mOptions;
    bool mMp3 = false;
    bool mWholeBook = false;
    std::vector<double> mGains;
    double mEncoderGain = 0;
    // In this order: the meter's end may start the decoder, and the
    // decoder's end uses the slot, so each goes before what it uses.
    mutable ProcessSlot mSlot;
    SourceDecoder mDecoder;
    LoudnessMeter mMeter;
};
