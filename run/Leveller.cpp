#include "Leveller.h"

#include "EncoderCommand.h"
#include "Resources.h"
#include "RunSteps.h"
#include "ShellQuote.h"
#include "ToolProcess.h"

#include <QFile>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {
// A stretch this long holds enough speech to tell what the encoder takes.
constexpr double kStretchSeconds = 20;
// Closer than this to the target is near enough.
constexpr double kNearEnough = 0.2;
// A correction beyond this would be a fault, not a loss.
constexpr double kMostCorrection = 3;
// The book's true peak stays at or below -1.5 dBTP; this keeps a margin.
constexpr double kPeakLimit = -1.7;
} // namespace

void Leveller::start(RunWork& run, const QString& folder, const QString& input,
                     const WorkerReports& reports)
{
    mInput = input;
    mFolder = folder;
    mSampleRate = run.decodedRate();
    mChannels = run.request.mono ? 1 : 2;
    mOptions = RunSteps::encoderOptions(run, input);
    mMp3 = run.request.format == BookFormat::Mp3;
    mWholeBook = run.request.evenVolume == EvenVolume::WholeBook;
    mGains = run.gains;
    mSources = run.sourcePaths();
    for (const ItemRecordPtr& record : std::as_const(run.records)) {
        mDecoded << record->symbolicPath.value_or(record->pathColumn);
        mSeconds.push_back(record->exact ? record->exact->seconds() : 0);
    }
    mSlot.arm();
    reports.tell(0, 0, u"Checking the levelled audio.."_s);
    // Each end comes on the thread of the worker before it, which has done
    // all it does by then.
    const auto end = [this, reports](std::exception_ptr failure) {
        if (!failure && !mSlot.stopRequested()) {
            try {
                mEncoderGain = encoderGain();
            } catch (const std::exception&) {
                failure = std::current_exception();
            }
        }
        reports.end(mSlot.stopRequested() ? nullptr : failure);
    };
    mMeter.start(mDecoded, mSampleRate, mChannels,
                 {.progress = {}, .finished = [this, end, folder](const std::exception_ptr& failure) {
                     const std::vector<double> gains = failure ? std::vector<double>() : madeGood();
                     if (failure || gains.empty() || mSlot.stopRequested()) {
                         end(failure);
                         return;
                     }
                     mGains = gains;
                     mDecoder.setGains(gains);
                     mDecoder.start(mSources, folder + u"/Decoded"_s, mSampleRate, mChannels,
                                    {.progress = {}, .finished = end});
                 }});
}

std::vector<double> Leveller::madeGood() const
{
    const std::vector<double>& loudness = mMeter.loudness();
    const double whole = mMeter.wholeLoudness();
    std::vector<double> gains = mGains;
    bool anyShort = false;
    for (std::size_t i = 0; i < gains.size() && i < loudness.size(); ++i) {
        const double now = mWholeBook ? whole : loudness[i];
        if (!std::isfinite(now))
            continue;
        const double missing =
            std::clamp(RunRequest::kTargetLoudness - now, -kMostCorrection, kMostCorrection);
        anyShort = anyShort || std::abs(missing) > kNearEnough;
        gains[i] += missing;
    }
    return anyShort ? gains : std::vector<double>();
}

void Leveller::terminate()
{
    mSlot.terminateIfRunning();
    mMeter.terminate();
    mDecoder.terminate();
}

void Leveller::runTool(const QString& command) const
{
    auto process = std::make_shared<ToolProcess>(command);
    mSlot.hold(process);
    process->launch(ToolOutput::StdoutDiscarded);
    process->waitUntilExit();
    mSlot.release();
    mSlot.checkEnd(*process, "ffmpeg");
}

double Leveller::encoderGain() const
{
    // The loudest file as the limiter left it, whose peaks it held most.
    const std::vector<double>& loudness = mMeter.loudness();
    std::size_t loudest = 0;
    for (std::size_t i = 1; i < mSeconds.size() && i < loudness.size(); ++i) {
        if (mSeconds[i] > 0 && loudness[i] > loudness[loudest])
            loudest = i;
    }
    if (mDecoded.isEmpty() || mSeconds.empty() || mSeconds[loudest] <= 0)
        return 0;
    const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
    const QString stretch = mFolder + u"/level-stretch.wav"_s;
    const QString encoded = mFolder + (mMp3 ? u"/level-stretch.mp3"_s : u"/level-stretch.m4a"_s);
    const double from = std::max(0.0, mSeconds[loudest] / 2 - kStretchSeconds / 2);
    runTool(ShellQuote::single(tool) +
            u" -nostdin -v error -ss %1 -t %2 -i "_s.arg(from).arg(kStretchSeconds) +
            ShellQuote::single(mDecoded.at(static_cast<qsizetype>(loudest))) +
            u" -c:a pcm_s16le -y "_s + ShellQuote::single(stretch));
    runTool(
        EncoderCommand::whole(tool, {.path = stretch, .isList = false}, mOptions, encoded, mMp3));
    const LoudnessMeter::Reading before = LoudnessMeter::readingOf(stretch, mSampleRate, mChannels);
    const LoudnessMeter::Reading after = LoudnessMeter::readingOf(encoded, mSampleRate, mChannels);
    QFile::remove(stretch);
    QFile::remove(encoded);
    if (!std::isfinite(before.loudness) || !std::isfinite(after.loudness))
        return 0;
    double gain = std::clamp(before.loudness - after.loudness, -kMostCorrection, kMostCorrection);
    // A peak past the limit counts for more than a fraction of a decibel of loudness.
    if (std::isfinite(after.truePeak) && after.truePeak + gain > kPeakLimit)
        gain = kPeakLimit - after.truePeak;
    return std::clamp(gain, -kMostCorrection, kMostCorrection);
}

void Leveller::settle(RunWork& run) const
{
    run.gains = mGains;
    run.encoderGain = std::abs(mEncoderGain) > 0.05 ? mEncoderGain : 0;
}
