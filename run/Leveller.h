#pragma once

#include "EncoderOptions.h"
#include "LoudnessMeter.h"
#include "ProcessSlot.h"
#include "RunRequest.h"
#include "SourceDecoder.h"
#include "WorkerReports.h"

#include <QString>
#include <QStringList>
#include <vector>

// The levelled files measured again as the encoder will read them. The
// limiter takes loudness from a file with high peaks, so the files are
// decoded once more with their gains made good where they fall short; then
// a stretch of the longest is encoded and measured, and what the encoder
// takes is given back by the encode, so that the book plays at the target.
class Leveller final
{
public:
    Leveller() = default;
    ~Leveller() { terminate(); }
    Leveller(const Leveller&) = delete;
    Leveller& operator=(const Leveller&) = delete;

    void start(RunWork& run, const QString& folder, const QString& input,
               const WorkerReports& reports);
    void terminate();
    void settle(RunWork& run) const;

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
