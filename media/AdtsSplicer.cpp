#include "AdtsSplicer.h"

#include "Mp4Box.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr qint64 kFrameSamples = 1024;
// ffmpeg's chunks: frames laid side by side up to about a megabyte.
constexpr qint64 kChunkBytes = 1 << 20;
constexpr std::array<int, 13> kRates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};

[[noreturn]] void fail(const std::string& why)
{
    throw std::runtime_error(why);
}

// Reads ADTS frames from a file a megabyte at a time.
class AdtsReader
{
public:
    explicit AdtsReader(const QString& path) : mFile(path)
    {
        if (!mFile.open(QIODevice::ReadOnly))
            fail("cannot read " + path.toStdString() + ": " + mFile.errorString().toStdString());
    }

    // The next frame's header and payload; false at the end of the stream.
    bool next(QByteArrayView& header, QByteArrayView& payload)
    {
        if (!fill(7))
            return false;
        const auto byte = [&](qsizetype i) {
            return static_cast<unsigned char>(mBuffer.at(mAt + i));
        };
        if (byte(0) != 0xFF || (byte(1) & 0xF6) != 0xF0)
            fail("it is not an AAC stream");
        const qsizetype headerSize = (byte(1) & 1) ? 7 : 9;
        const qsizetype length = ((byte(3) & 0x03) << 11) | (byte(4) << 3) | (byte(5) >> 5);
        if (length <= headerSize || !fill(length))
            fail("it ends inside a frame");
        header = QByteArrayView(mBuffer).sliced(mAt, headerSize);
        payload = QByteArrayView(mBuffer).sliced(mAt + headerSize, length - headerSize);
        mAt += length;
        return true;
    }

private:
    bool fill(qsizetype wanted)
    {
        if (mBuffer.size() - mAt >= wanted)
            return true;
        mBuffer.remove(0, mAt);
        mAt = 0;
        const QByteArray more = mFile.read(std::max<qint64>(kChunkBytes, wanted));
        mBuffer += more;
        if (mBuffer.size() >= wanted)
            return true;
        if (!mBuffer.isEmpty())
            fail("it ends inside a frame");
        return false;
    }

    QFile mFile;
    QByteArray mBuffer;
    qsizetype mAt = 0;
};

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
    int sampleRate = 0;
    int channels = 0;
    QByteArray audioConfig;
    std::vector<quint32> sizes;
    std::vector<quint64> chunkOffsets;
    std::vector<quint32> chunkFrames;
    quint64 bytes = 0;
    quint64 peakSecondBytes = 0;
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

QByteArray movieHeader(const Track& track)
{
    const auto rate = static_cast<quint64>(track.sampleRate);
    const quint64 samples = track.sizes.size() * kFrameSamples;
    // What plays: all but the priming frame, in milliseconds.
    const quint64 playedMs = (samples - kFrameSamples) * 1000 / rate;
    const quint64 shownMs = ((samples - kFrameSamples) * 1000 + rate - 1) / rate;
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
    Mp4::append(elst, kFrameSamples, 4);
    Mp4::append(elst, 0x00010000, 4);

    QByteArray mdhd = Mp4::fullBox(wide ? 1 : 0, 0);
    Mp4::append(mdhd, 0, wide ? 16 : 8);
    Mp4::append(mdhd, rate, 4);
    Mp4::append(mdhd, samples, wide ? 8 : 4);
    Mp4::append(mdhd, 0x55C4, 2); // "und"
    Mp4::append(mdhd, 0, 2);


    const Mp4Box stbl = sampleTable(track);
    const Mp4Box minf = Mp4Box::holding(
        "minf", {Mp4Box::leaf("smhd", QByteArray(8, '\0')), Mp4::dataInformation(), stbl});
    const Mp4Box mdia = Mp4Box::holding(
        "mdia", {Mp4Box::leaf("mdhd", mdhd),
                 Mp4Box::leaf("hdlr", Mp4::handler("soun", "SoundHandler")), minf});
    const Mp4Box trak = Mp4Box::holding(
        "trak", {Mp4Box::leaf("tkhd", tkhd),
                 Mp4Box::holding("edts", {Mp4Box::leaf("elst", elst)}), mdia});
    return Mp4Box::holding("moov", {Mp4Box::leaf("mvhd", mvhd), trak}).serialized();
}

void write(QFile& file, QByteArrayView bytes)
{
    if (file.write(bytes.data(), bytes.size()) != bytes.size())
        fail("cannot write " + file.fileName().toStdString() + ": " +
             file.errorString().toStdString());
}

} // namespace

void AdtsSplicer::writeM4a(const QList<Part>& parts, const QString& output,
                           const std::function<bool()>& stopped)
{
    QFile out(output);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write " + output.toStdString() + ": " + out.errorString().toStdString());
    try {
        // ffmpeg's layout: the brand, then room for a 64-bit media header,
        // used only should the media data pass 4 GB.
        QByteArray start;
        Mp4::append(start, 28, 4);
        start += "ftypM4A ";
        Mp4::append(start, 0x200, 4);
        start += "M4A isomiso2";
        Mp4::append(start, 8, 4);
        start += "free";
        Mp4::append(start, 8, 4);
        start += "mdat";
        write(out, start);
        const auto mediaAt = static_cast<quint64>(start.size());

        Track track;
        quint64 at = mediaAt;
        quint64 chunkBytes = 0;
        std::deque<quint32> lastSecond;
        quint64 lastSecondBytes = 0;
        for (qsizetype k = 0; k < parts.size(); ++k) {
            const Part& part = parts.at(k);
            const std::string number = std::to_string(k + 1);
            AdtsReader in(part.path);
            QByteArrayView header;
            QByteArrayView payload;
            qint64 frame = 0;
            qint64 kept = 0;
            for (; (part.keptFrames < 0 || kept < part.keptFrames) && in.next(header, payload);
                 ++frame) {
                if (frame < part.droppedFrames)
                    continue;
                if (stopped && stopped())
                    fail("stopped");
                if (track.sampleRate == 0) {
                    const auto byte = [&](int i) { return static_cast<unsigned char>(header.at(i)); };
                    const int objectType = (byte(2) >> 6) + 1;
                    const int rateIndex = (byte(2) >> 2) & 0x0F;
                    const int channels = ((byte(2) & 1) << 2) | (byte(3) >> 6);
                    if (rateIndex >= static_cast<int>(kRates.size()))
                        fail("part " + number + " has no sample rate");
                    track.sampleRate = kRates.at(static_cast<std::size_t>(rateIndex));
                    track.channels = channels;
                    Mp4::append(track.audioConfig,
                                static_cast<quint64>((objectType << 11) | (rateIndex << 7) |
                                                     (channels << 3)),
                                2);
                }
                const auto size = static_cast<quint64>(payload.size());
                if (track.chunkOffsets.empty() || chunkBytes + size > kChunkBytes) {
                    track.chunkOffsets.push_back(at);
                    track.chunkFrames.push_back(0);
                    chunkBytes = 0;
                }
                write(out, payload);
                ++track.chunkFrames.back();
                chunkBytes += size;
                at += size;
                track.bytes += size;
                track.sizes.push_back(static_cast<quint32>(size));
                // The most bytes in a second of audio, for the stream's peak rate.
                lastSecond.push_back(static_cast<quint32>(size));
                lastSecondBytes += size;
                if (lastSecond.size() * kFrameSamples > static_cast<quint64>(track.sampleRate)) {
                    lastSecondBytes -= lastSecond.front();
                    lastSecond.pop_front();
                }
                track.peakSecondBytes = std::max(track.peakSecondBytes, lastSecondBytes);
                ++kept;
            }
            if (part.keptFrames >= 0 && kept < part.keptFrames)
                fail("part " + number + " is shorter than planned");
        }
        if (track.sizes.size() < 2)
            fail("the parts hold no audio");

        // The media header: 32 bits where the data fits, else the room before it.
        const quint64 media = at - mediaAt;
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
        write(out, movieHeader(track));
        if (!out.seek(static_cast<qint64>(mediaAt) - 16))
            fail("cannot write " + output.toStdString());
        write(out, mediaHeader);
        if (!out.flush())
            fail("cannot write " + output.toStdString() + ": " + out.errorString().toStdString());
    } catch (const std::exception&) {
        out.close();
        QFile::remove(output);
        throw;
    }
}
