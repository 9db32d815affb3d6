#include "SourceDecoder.h"

#include "LevelFilter.h"
#include "Resources.h"
#include "ShellQuote.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

SourceDecoder::~SourceDecoder()
{
    terminate();
    mThread.join();
}

QString SourceDecoder::command(const QString& source, int sampleRate, int channels,
                               const QString& output, std::optional<double> gain)
{
    const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
    const QString levelled = gain ? u" -af "_s + LevelFilter::filter(*gain) : QString();
    return ShellQuote::single(tool) + u" -nostdin -v error -i "_s + ShellQuote::single(source) +
           u" -vn -map_metadata -1 -bitexact"_s + levelled +
           u" -ac %1 -ar %2 -c:a pcm_s16le -f wav -rf64 auto -y "_s.arg(channels).arg(sampleRate) +
           ShellQuote::single(output);
}

// A WAV file's sizes are 32 bits. Past 4 GiB (6 h 45 min of stereo at
// 44.1 kHz) ffmpeg writes RF64 instead, whose ds64 chunk holds the sizes
// in 64 bits, and whose data chunk's own size is then 0xFFFFFFFF.
std::optional<qint64> SourceDecoder::wavFrames(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(12);
    const bool rf64 = head.startsWith("RF64");
    if (head.size() < 12 || !(head.startsWith("RIFF") || rf64) || head.mid(8, 4) != "WAVE")
        return std::nullopt;
    int blockAlign = 0;
    std::optional<quint64> dataSize64;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return std::nullopt;
        const auto size = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (chunk.startsWith("fmt ") || chunk.startsWith("ds64")) {
            if (size > 4096)
                return std::nullopt;
            const QByteArray body = file.read(size);
            if (body.size() != static_cast<qsizetype>(size))
                return std::nullopt;
            if (chunk.startsWith("fmt ") && size >= 16)
                blockAlign = qFromLittleEndian<quint16>(body.constData() + 12);
            if (chunk.startsWith("ds64") && rf64 && size >= 16)
                dataSize64 = qFromLittleEndian<quint64>(body.constData() + 8);
            if (size % 2 == 1)
                file.read(1);
        } else if (chunk.startsWith("data")) {
            const quint64 promised = size == 0xFFFFFFFFU && dataSize64 ? *dataSize64 : size;
            // What is really there counts, should the header promise more.
            const auto there = static_cast<quint64>(file.size() - file.pos());
            const auto bytes = static_cast<qint64>(std::min(promised, there));
            return blockAlign > 0 ? std::optional(bytes / blockAlign) : std::nullopt;
        } else if (!file.seek(file.pos() + size + size % 2)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void SourceDecoder::start(const QStringList& sources, const QString& folder, int sampleRate,
                          int channels, WorkerReports reports)
{
    mThread.join();
    mSources = sources;
    mSampleRate = sampleRate;
    mChannels = channels;
    mOutputs.clear();
    for (qsizetype i = 0; i < sources.size(); ++i)
        mOutputs << folder + u"/%1.wav"_s.arg(i);
    mSamples.assign(static_cast<std::size_t>(sources.size()), 0);
    mPool.prepare(sources.size());
    mThread.start([this, reports = std::move(reports)] {
        reports.end(mPool.run(
            mSources.size(), [this](qsizetype i, ProcessSlot& slot) { decode(i, slot); },
            [&reports](int done, int total) {
                reports.tell(done, total, u"Decoding file %1 of %2..."_s.arg(done).arg(total));
            }));
    });
}

void SourceDecoder::decode(qsizetype index, ProcessSlot& slot)
{
    const auto i = static_cast<std::size_t>(index);
    auto process = std::make_shared<ToolProcess>(
        command(mSources.at(index), mSampleRate, mChannels, mOutputs.at(index),
                i < mGains.size() ? std::optional(mGains[i]) : std::nullopt));
    // A stop that came first keeps the tool from starting at all.
    slot.hold(process);
    process->launch(ToolOutput::Inherited);
    process->waitUntilExit();
    slot.release();
    if (slot.stopRequested())
        return;
    if (!process->exitedCleanly()) {
        std::string cause = "ffmpeg " + process->exitDescription() + " decoding " +
                            QFile::encodeName(mSources.at(index)).toStdString();
        if (const std::string said = process->errorTail(); !said.empty())
            cause += ", saying: " + said;
        throw WorkerException(cause);
    }
    const std::optional<qint64> frames = wavFrames(mOutputs.at(index));
    if (!frames)
        throw WorkerException("ffmpeg wrote no audio for " +
                              QFile::encodeName(mSources.at(index)).toStdString());
    mSamples[static_cast<std::size_t>(index)] = *frames;
}

void SourceDecoder::terminate()
{
    mPool.terminate();
}
