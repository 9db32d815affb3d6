#include "LoudnessMeter.h"

#include "Resources.h"
#include "ShellQuote.h"
#include "WorkerException.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ebur128.h>
#include <limits>

using namespace Qt::Literals::StringLiterals;

struct LoudnessMeter::Gauge
{
    Gauge(int channels, int sampleRate, bool peaks)
        : state(ebur128_init(
              static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
              EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | (peaks ? EBUR128_MODE_TRUE_PEAK : 0)))
    {
    }
    ~Gauge()
    {
        if (state)
            ebur128_destroy(&state);
    }
    Gauge(const Gauge&) = delete;
    Gauge& operator=(const Gauge&) = delete;
    ebur128_state* state;
};

LoudnessMeter::LoudnessMeter() = default;

LoudnessMeter::~LoudnessMeter()
{
    terminate();
    mThread.join();
}

QString LoudnessMeter::command(const QString& source, int sampleRate, int channels)
{
    const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
    return ShellQuote::single(tool) + u" -nostdin -v error -i "_s + ShellQuote::single(source) +
           u" -vn -ac %1 -ar %2 -f f32le -"_s.arg(channels).arg(sampleRate);
}

void LoudnessMeter::start(const QStringList& sources, int sampleRate, int channels,
                          WorkerReports reports)
{
    mThread.join();
    mSources = sources;
    mSampleRate = sampleRate;
    mChannels = channels;
    mGauges.clear();
    mGauges.resize(static_cast<std::size_t>(sources.size()));
    mLoudness.assign(static_cast<std::size_t>(sources.size()),
                     -std::numeric_limits<double>::infinity());
    mPool.prepare(sources.size());
    mThread.start([this, reports = std::move(reports)] {
        reports.end(mPool.run(
            mSources.size(), [this](qsizetype i, ProcessSlot& slot) { measure(i, slot); },
            [&reports](int done, int total) {
                reports.tell(done, total,
                             u"Measuring the loudness of file %1 of %2..."_s.arg(done).arg(total));
            }));
    });
}

std::unique_ptr<LoudnessMeter::Gauge> LoudnessMeter::gauge(const QString& source, int sampleRate,
                                                           int channels, ProcessSlot& slot,
                                                           bool peaks)
{
    // The histogram keeps a file of any length in a few kilobytes.
    auto gauge = std::make_unique<Gauge>(channels, sampleRate, peaks);
    if (!gauge->state)
        throw WorkerException("cannot measure the loudness at " + std::to_string(sampleRate) +
                              " Hz");
    auto process = std::make_shared<ToolProcess>(command(source, sampleRate, channels));
    slot.hold(process);
    process->launch(ToolOutput::StdoutStreamed);
    // Samples arrive in chunks of any size; a frame may be split between two.
    const auto frameBytes = static_cast<qsizetype>(sizeof(float)) * channels;
    QByteArray pending;
    std::vector<float> samples;
    for (QByteArray chunk = process->readChunk(); !chunk.isEmpty(); chunk = process->readChunk()) {
        pending += chunk;
        const qsizetype frames = pending.size() / frameBytes;
        samples.resize(static_cast<std::size_t>(frames * channels));
        std::memcpy(samples.data(), pending.constData(),
                    static_cast<std::size_t>(frames * frameBytes));
        ebur128_add_frames_float(gauge->state, samples.data(), static_cast<std::size_t>(frames));
        pending.remove(0, frames * frameBytes);
    }
    process->waitUntilExit();
    slot.release();
    if (slot.stopRequested())
        return nullptr;
    if (!process->exitedCleanly()) {
        std::string cause = "ffmpeg " + process->exitDescription() + " measuring " +
                            QFile::encodeName(source).toStdString();
        if (const std::string said = process->errorTail(); !said.empty())
            cause += ", saying: " + said;
        throw WorkerException(cause);
    }
    return gauge;
}

double LoudnessMeter::loudnessOf(const Gauge& gauge)
{
    double loudness = -HUGE_VAL;
    ebur128_loudness_global(gauge.state, &loudness);
    return std::isfinite(loudness) ? loudness : -std::numeric_limits<double>::infinity();
}

LoudnessMeter::Reading LoudnessMeter::readingOf(const QString& path, int sampleRate, int channels)
{
    ProcessSlot slot;
    const std::unique_ptr<Gauge> measured = gauge(path, sampleRate, channels, slot, true);
    double peak = 0;
    for (int channel = 0; channel < channels; ++channel) {
        double each = 0;
        if (ebur128_true_peak(measured->state, static_cast<unsigned>(channel), &each) ==
            EBUR128_SUCCESS)
            peak = std::max(peak, each);
    }
    return {.loudness = loudnessOf(*measured),
            .truePeak =
                peak > 0 ? 20 * std::log10(peak) : -std::numeric_limits<double>::infinity()};
}

void LoudnessMeter::measure(qsizetype index, ProcessSlot& slot)
{
    std::unique_ptr<Gauge> measured = gauge(mSources.at(index), mSampleRate, mChannels, slot);
    if (!measured)
        return;
    mLoudness[static_cast<std::size_t>(index)] = loudnessOf(*measured);
    mGauges[static_cast<std::size_t>(index)] = std::move(measured);
}

double LoudnessMeter::wholeLoudness() const
{
    std::vector<ebur128_state*> states;
    for (const auto& gauge : mGauges) {
        if (gauge)
            states.push_back(gauge->state);
    }
    double loudness = -HUGE_VAL;
    if (states.empty() ||
        ebur128_loudness_global_multiple(states.data(), states.size(), &loudness) !=
            EBUR128_SUCCESS ||
        !std::isfinite(loudness))
        return -std::numeric_limits<double>::infinity();
    return loudness;
}

void LoudnessMeter::terminate()
{
    mPool.terminate();
}
