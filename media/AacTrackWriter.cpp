#include "AacTrackWriter.h"

#include "AacFormat.h"
#include "Mp4Box.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

using Aac::kFrameSamples;
// ffmpeg's chunks: frames laid side by side up to about a megabyte.
constexpr quint64 kChunkBytes = 1 << 20;
// The brand, then room for a 64-bit media header, used only should the
// media data pass 4 GB.
constexpr qint64 kMediaAt = 44;

[[noreturn]] void fail(const std::string& why)
{
    throw std::runtime_error(why);
}

// An MPEG-4 descriptor with its length in the four-byte form that ffmpeg writes.
QByteArray descriptor(int tag, const QByteArray& body)
{
    QByteArray bytes;
    Mp4::append(bytes, static_cast<quint64>(tag), 1);
    const auto size = static_cast<quint64>(body.size());
    for (int shift = 21; shift > 0; shift -= 7)
        Mp4::append(bytes, ((size >> shift) & 0x7F) | 0x80, 1);
    Mp4::append(bytes, size & 0x7F, 1);
    return bytes + body;
}

struct Track
{
    const QByteArray& audioConfig;
    int sampleRate;
    int channels;
    const std::vector<quint32>& sizes;
    const std::vector<quint64>& chunkOffsets;
    const std::vector<quint32>& chunkFrames;
    quint64 bytes;
    quint64 peakSecondBytes;
};

QByteArray sampleDescription(const Track& track)
{
    const quint64 seconds = std::max<quint64>(1, track.sizes.size() * kFrameSamples /
                                                     static_cast<quint64>(track.sampleRate));
    QByteArray config;
    Mp4::append(config, 0x40, 1); // MPEG-4 audio
    Mp4::append(config, 0x15, 1); // an audio stream
    Mp4::append(config, 0, 3);
    Mp4::append(config, track.peakSecondBytes * 8, 4);
    Mp4::append(config, track.bytes * 8 / seconds, 4);
    QByteArray es;
    Mp4::append(es, 1, 2);
    Mp4::append(es, 0, 1);
    es += descriptor(4, config + descriptor(5, track.audioConfig));
    es += descriptor(6, QByteArray(1, '\x02'));
    QByteArray esds = Mp4::fullBox(0, 0) + descriptor(3, es);

    QByteArray entry;
    Mp4::append(entry, 0, 6);
    Mp4::append(entry, 1, 2); // data reference
    Mp4::append(entry, 0, 8);
    Mp4::append(entry, static_cast<quint64>(track.channels), 2);
    Mp4::append(entry, 16, 2);
    Mp4::append(entry, 0, 4);
    Mp4::append(entry, track.sampleRate <= 0xFFFF ? static_cast<quint64>(track.sampleRate) : 0, 2);
    Mp4::append(entry, 0, 2);
    entry += Mp4Box::leaf("esds", esds).serialized();
    QByteArray stsd = Mp4::fullBox(0, 0);
    Mp4::append(stsd, 1, 4);
    return stsd + Mp4Box::leaf("mp4a", entry).serialized();
}

// Where each frame lies and how long it plays: the sample table.
Mp4Box sampleTable(const Track& track)
{
    QByteArray stts = Mp4::fullBox(0, 0);
    Mp4::append(stts, 1, 4);
    Mp4::append(stts, track.sizes.size(), 4);
    Mp4::append(stts, kFrameSamples, 4);

    QByteArray stsc = Mp4::fullBox(0, 0);
    QByteArray runs;
    quint64 runCount = 0;
    for (std::size_t chunk = 0; chunk < track.chunkFrames.size(); ++chunk) {
        if (chunk > 0 && track.chunkFrames[chunk] == track.chunkFrames[chunk - 1])
            continue;
        Mp4::append(runs, chunk + 1, 4);
        Mp4::append(runs, track.chunkFrames[chunk], 4);
        Mp4::append(runs, 1, 4);
        ++runCount;
    }
    Mp4::append(stsc, runCount, 4);
    stsc += runs;

    QByteArray stsz = Mp4::fullBox(0, 0);
    Mp4::append(stsz, 0, 4);
    Mp4::append(stsz, track.sizes.size(), 4);
    stsz.reserve(stsz.size() + static_cast<qsizetype>(track.sizes.size()) * 4);
    for (const quint32 size : track.sizes)
        Mp4::append(stsz, size, 4);

    const bool far = !track.chunkOffsets.empty() && track.chunkOffsets.back() > 0xFFFFFFFFULL;
    QByteArray stco = Mp4::fullBox(0, 0);
    Mp4::append(stco, track.chunkOffsets.size(), 4);
    for (const quint64 offset : track.chunkOffsets)
        Mp4::append(stco, offset, far ? 8 : 4);

    // Every frame may be decoded only after the one before it, as ffmpeg says of AAC.
    QByteArray sgpd = Mp4::fullBox(1, 0) + "roll";
    Mp4::append(sgpd, 2, 4);
    Mp4::append(sgpd, 1, 4);
    Mp4::append(sgpd, 0xFFFF, 2);
    QByteArray sbgp = Mp4::fullBox(0, 0) + "roll";
    Mp4::append(sbgp, 1, 4);
    Mp4::append(sbgp, track.sizes.size(), 4);
    Mp4::append(sbgp, 1, 4);

    return Mp4Box::holding(
        "stbl", {Mp4Box::leaf("stsd", sampleDescription(track)), Mp4Box::leaf("stts", stts),
                 Mp4Box::leaf("stsc", stsc), Mp4Box::leaf("stsz", stsz),
                 Mp4Box::leaf(far ? "co64" : "stco", stco), Mp4Box::leaf("sgpd", sgpd),
                 Mp4Box::leaf("sbgp", sbgp)});
}

} // namespace

AacTrackWriter::AacTrackWriter(const QString& path) : mFile(path)
{
    if (!mFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write " + path.toStdString() + ": " + mFile.errorString().toStdString());
    QByteArray start;
    Mp4::append(start, 28, 4);
    start += "ftypM4A ";
    Mp4::append(start, 0x200, 4);
    start += "M4A isomiso2";
    Mp4::append(start, 8, 4);
    start += "free";
    Mp4::append(start, 8, 4);
    start += "mdat";
    write(start);
    mAt = kMediaAt;
}

AacTrackWriter::~AacTrackWriter()
{
    if (!mFinished) {
        mFile.close();
        QFile::remove(mFile.fileName());
    }
}

void AacTrackWriter::setFormat(const QByteArray& audioConfig, int sampleRate, int channels)
{
    mAudioConfig = audioConfig;
    mSampleRate = sampleRate;
    mChannels = channels;
}

void AacTrackWriter::append(QByteArrayView frame)
{
    const auto size = static_cast<quint32>(frame.size());
    append(frame, std::span(&size, 1));
}

void AacTrackWriter::append(QByteArrayView bytes, std::span<const quint32> sizes)
{
    write(bytes);
    for (const quint32 size : sizes) {
        if (mChunkOffsets.empty() || mChunkBytes + size > kChunkBytes) {
            mChunkOffsets.push_back(mAt);
            mChunkFrames.push_back(0);
            mChunkBytes = 0;
        }
        ++mChunkFrames.back();
        mChunkBytes += size;
        mAt += size;
        mBytes += size;
        mSizes.push_back(size);
        mLastSecond.push_back(size);
        mLastSecondBytes += size;
        if (mLastSecond.size() * kFrameSamples > static_cast<quint64>(mSampleRate)) {
            mLastSecondBytes -= mLastSecond.front();
            mLastSecond.pop_front();
        }
        mPeakSecondBytes = std::max(mPeakSecondBytes, mLastSecondBytes);
    }
}

void AacTrackWriter::write(QByteArrayView bytes)
{
    if (mFile.write(bytes.data(), bytes.size()) != bytes.size())
        fail("cannot write " + mFile.fileName().toStdString() + ": " +
             mFile.errorString().toStdString());
}

void AacTrackWriter::finish(qint64 priming, qint64 padding)
{
    if (!hasFormat() || mSizes.size() < 2)
        fail("there is no audio to write");
    // The media header: 32 bits where the data fits, else the room before it.
    const quint64 media = mAt - kMediaAt;
    QByteArray mediaHeader;
    if (media + 8 > 0xFFFFFFFFULL) {
        Mp4::append(mediaHeader, 1, 4);
        mediaHeader += "mdat";
        Mp4::append(mediaHeader, media + 16, 8);
    } else {
        Mp4::append(mediaHeader, 8, 4);
        mediaHeader += "free";
        Mp4::append(mediaHeader, media + 8, 4);
        mediaHeader += "mdat";
    }
    write(movieHeader(priming, padding));
    if (!mFile.seek(kMediaAt - 16))
        fail("cannot write " + mFile.fileName().toStdString());
    write(mediaHeader);
    if (!mFile.flush())
        fail("cannot write " + mFile.fileName().toStdString() + ": " +
             mFile.errorString().toStdString());
    mFinished = true;
}

QByteArray AacTrackWriter::movieHeader(qint64 priming, qint64 padding) const
{
    const auto rate = static_cast<quint64>(mSampleRate);
    const quint64 samples = mSizes.size() * kFrameSamples;
    const auto skipped = static_cast<quint64>(std::clamp<qint64>(priming, 0, static_cast<qint64>(samples)));
    const quint64 played = samples - skipped -
                           std::min(samples - skipped, static_cast<quint64>(std::max<qint64>(padding, 0)));
    // What plays, in milliseconds.
    const quint64 playedMs = played * 1000 / rate;
    const quint64 shownMs = (played * 1000 + rate - 1) / rate;
    const bool wide = samples > 0xFFFFFFFFULL;

    QByteArray mvhd = Mp4::fullBox(0, 0);
    Mp4::append(mvhd, 0, 8);
    Mp4::append(mvhd, 1000, 4);
    Mp4::append(mvhd, shownMs, 4);
    Mp4::append(mvhd, 0x00010000, 4);
    Mp4::append(mvhd, 0x0100, 2);
    Mp4::append(mvhd, 0, 10);
    mvhd += Mp4::identityMatrix();
    Mp4::append(mvhd, 0, 24);
    Mp4::append(mvhd, 2, 4); // the next track's number

    QByteArray tkhd = Mp4::fullBox(0, 3);
    Mp4::append(tkhd, 0, 8);
    Mp4::append(tkhd, 1, 4);
    Mp4::append(tkhd, 0, 4);
    Mp4::append(tkhd, shownMs, 4);
    Mp4::append(tkhd, 0, 8);
    Mp4::append(tkhd, 0, 2);
    Mp4::append(tkhd, 1, 2); // alternate group
    Mp4::append(tkhd, 0x0100, 2);
    Mp4::append(tkhd, 0, 2);
    tkhd += Mp4::identityMatrix();
    Mp4::append(tkhd, 0, 8);

    QByteArray elst = Mp4::fullBox(0, 0);
    Mp4::append(elst, 1, 4);
    Mp4::append(elst, playedMs, 4);
    Mp4::append(elst, skipped, 4);
    Mp4::append(elst, 0x00010000, 4);

    QByteArray mdhd = Mp4::fullBox(wide ? 1 : 0, 0);
    Mp4::append(mdhd, 0, wide ? 16 : 8);
    Mp4::append(mdhd, rate, 4);
    Mp4::append(mdhd, samples, wide ? 8 : 4);
    Mp4::append(mdhd, 0x55C4, 2); // "und"
    Mp4::append(mdhd, 0, 2);

    const Track track{mAudioConfig, mSampleRate, mChannels,      mSizes,
                      mChunkOffsets, mChunkFrames, mBytes, mPeakSecondBytes};
    const Mp4Box minf = Mp4Box::holding(
        "minf", {Mp4Box::leaf("smhd", QByteArray(8, '\0')), Mp4::dataInformation(),
                 sampleTable(track)});
    const Mp4Box mdia = Mp4Box::holding(
        "mdia", {Mp4Box::leaf("mdhd", mdhd),
                 Mp4Box::leaf("hdlr", Mp4::handler("soun", "SoundHandler")), minf});
    const Mp4Box trak = Mp4Box::holding(
        "trak", {Mp4Box::leaf("tkhd", tkhd),
                 Mp4Box::holding("edts", {Mp4Box::leaf("elst", elst)}), mdia});
    // An empty list of tags after the track, for a tag writer to fill: one
    // that it adds itself goes first in the movie, where ffmpeg and the
    // servers that read tags through it pass over freeform tags.
    QByteArray meta = Mp4::fullBox(0, 0);
    meta += Mp4Box::leaf("hdlr", Mp4::handler("mdir", {})).serialized();
    meta += Mp4Box::holding("ilst", {}).serialized();
    const Mp4Box udta = Mp4Box::holding("udta", {Mp4Box::leaf("meta", meta)});
    return Mp4Box::holding("moov", {Mp4Box::leaf("mvhd", mvhd), trak, udta}).serialized();
}
