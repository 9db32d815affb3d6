#include "Mp4AudioTrack.h"

#include "AacFormat.h"
#include "Mp4Box.h"
#include "Mp4File.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(const std::string& why)
{
    throw std::runtime_error(why);
}


// An MPEG-4 descriptor's tag and body, from `at`; `at` moves past it.
QByteArrayView descriptor(QByteArrayView bytes, qsizetype& at, int& tag)
{
    tag = static_cast<int>(Mp4::read(bytes, at++, 1));
    quint64 length = 0;
    for (int i = 0; i < 4; ++i) {
        const quint64 byte = Mp4::read(bytes, at++, 1);
        length = (length << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0)
            break;
    }
    if (at + static_cast<qsizetype>(length) > bytes.size())
        fail("its decoder description is cut short");
    const QByteArrayView body = bytes.sliced(at, static_cast<qsizetype>(length));
    at += static_cast<qsizetype>(length);
    return body;
}

// The AudioSpecificConfig in an esds box, and the average bit rate that
// its encoder noted (0 when it did not).
QByteArray audioConfig(QByteArrayView esds, qint64& averageBitRate)
{
    qsizetype at = 4;
    int tag = 0;
    const QByteArrayView es = descriptor(esds, at, tag);
    if (tag != 3)
        fail("it has no stream description");
    qsizetype in = 2;
    const quint64 flags = Mp4::read(es, in++, 1);
    if (flags & 0x80)
        in += 2;
    if (flags & 0x40)
        in += 1 + static_cast<qsizetype>(Mp4::read(es, in, 1));
    if (flags & 0x20)
        in += 2;
    const QByteArrayView config = descriptor(es, in, tag);
    if (tag != 4 || Mp4::read(config, 0, 1) != 0x40)
        fail("its audio is not MPEG-4 AAC");
    averageBitRate = static_cast<qint64>(Mp4::read(config, 9, 4));
    qsizetype inConfig = 13;
    const QByteArrayView specific = descriptor(config, inConfig, tag);
    if (tag != 5 || specific.size() < 2)
        fail("it does not say how its audio is encoded");
    return specific.toByteArray();
}

const Mp4Box& need(const Mp4Box* box, const char* what)
{
    if (!box)
        fail(std::string("it has no ") + what + " box");
    return *box;
}

const Mp4Box* soundTrack(const Mp4Box& moov)
{
    for (const Mp4Box& trak : moov.children) {
        if (trak.type != "trak")
            continue;
        const Mp4Box* mdia = trak.child("mdia");
        const Mp4Box* hdlr = mdia ? mdia->child("hdlr") : nullptr;
        if (hdlr && hdlr->payload.size() >= 12 && hdlr->payload.mid(8, 4) == "soun")
            return &trak;
    }
    return nullptr;
}

void readSampleEntry(Mp4AudioTrack& track, QByteArrayView stsd)
{
    if (Mp4::read(stsd, 4, 4) != 1)
        fail("its audio changes how it is encoded");
    const std::vector<Mp4Box> entries = Mp4Box::parse(stsd.sliced(8));
    // Apple's FairPlay, and encrypted audio of the common kind.
    if (!entries.empty() && (entries.front().type == "drms" || entries.front().type == "enca"))
        fail("its audio is locked by DRM, for the player it was bought for alone");
    if (entries.size() != 1 || entries.front().type != "mp4a")
        fail("its audio is not AAC");
    const QByteArrayView entry = entries.front().payload;
    // QuickTime's later sound descriptions carry more fields before the boxes.
    const quint64 version = Mp4::read(entry, 8, 2);
    const qsizetype boxesAt = version == 1 ? 44 : version == 2 ? 64 : 28;
    if (entry.size() < boxesAt)
        fail("its audio description is cut short");
    const std::vector<Mp4Box> inner = Mp4Box::parse(entry.sliced(boxesAt));
    const Mp4Box* esds = nullptr;
    for (const Mp4Box& box : inner)
        esds = box.type == "esds" ? &box : esds;
    track.audioConfig = audioConfig(need(esds, "esds").payload, track.averageBitRate);

    const quint64 bits = Mp4::read(track.audioConfig, 0, 2);
    const auto objectType = static_cast<int>(bits >> 11);
    const auto rateIndex = static_cast<int>((bits >> 7) & 0x0F);
    // HE-AAC's frames are twice as long, and its own state runs across them.
    if (objectType != 2)
        fail("its audio is not AAC-LC");
    const std::optional<int> rate = Aac::sampleRate(rateIndex);
    if (!rate)
        fail("its sample rate is not one of AAC's");
    track.sampleRate = *rate;
    track.channels = static_cast<int>((bits >> 3) & 0x0F);
    if (track.channels == 0)
        track.channels = static_cast<int>(Mp4::read(entry, 16, 2));
}

// The sizes and places of the frames, which must all be 1024 samples long.
// Every count is checked against the others and against the file before
// it is used, and no table is larger than the file can hold.
// Returns the samples that the last frame does not play.
qint64 readSampleTable(Mp4AudioTrack& track, const Mp4Box& stbl, quint64 fileSize,
                       Mp4AudioTrack::Times times)
{
    const QByteArrayView stsz = need(stbl.child("stsz"), "stsz").payload;
    const quint64 fixed = Mp4::read(stsz, 4, 4);
    const quint64 count = Mp4::read(stsz, 8, 4);
    if (count < 1 || (fixed == 0 && static_cast<quint64>(stsz.size()) < 12 + 4 * count))
        fail("its frame sizes are cut short");
    if (count > Mp4AudioTrack::kMostFrames)
        fail("it has more frames than any book");
    if (fixed > 0 && count > fileSize / fixed)
        fail("its frames lie past its end");
    track.sizes.resize(count);
    for (quint64 i = 0; i < count; ++i)
        track.sizes[i] = static_cast<quint32>(fixed ? fixed : Mp4::read(stsz, 12 + 4 * static_cast<qsizetype>(i), 4));

    const QByteArrayView stts = need(stbl.child("stts"), "stts").payload;
    quint64 timed = 0;
    qint64 shortEnd = 0;
    const quint64 runs = Mp4::read(stts, 4, 4);
    for (quint64 r = 0; r < runs && timed <= count; ++r) {
        const quint64 frames = Mp4::read(stts, 8 + 8 * static_cast<qsizetype>(r), 4);
        const auto delta = static_cast<qint64>(Mp4::read(stts, 12 + 8 * static_cast<qsizetype>(r), 4));
        timed += frames;
        // A muxer may shorten the last frame to say where the audio ends.
        const bool last = r + 1 == runs && frames == 1;
        if (times == Mp4AudioTrack::Times::AsWritten)
            continue;
        if (delta != Aac::kFrameSamples && !(last && delta < Aac::kFrameSamples))
            fail("its frames are not 1024 samples long");
        if (last)
            shortEnd = Aac::kFrameSamples - delta;
    }
    if (timed != count)
        fail("its frame times do not add up");

    const bool far = stbl.child("co64") != nullptr;
    const QByteArrayView stco = need(far ? stbl.child("co64") : stbl.child("stco"), "stco").payload;
    const quint64 chunks = Mp4::read(stco, 4, 4);
    // A chunk holds one frame at least.
    if (chunks < 1 || chunks > count)
        fail("its chunks do not add up");
    if (static_cast<quint64>(stco.size()) < 8 + (far ? 8 : 4) * chunks)
        fail("its chunk table is cut short");
    track.chunkOffsets.resize(chunks);
    for (quint64 c = 0; c < chunks; ++c)
        track.chunkOffsets[c] = Mp4::read(stco, 8 + (far ? 8 : 4) * static_cast<qsizetype>(c), far ? 8 : 4);

    const QByteArrayView stsc = need(stbl.child("stsc"), "stsc").payload;
    const quint64 entries = Mp4::read(stsc, 4, 4);
    track.chunkFrames.assign(chunks, 0);
    quint64 listed = 0;
    for (quint64 e = 0; e < entries; ++e) {
        const qsizetype at = 8 + 12 * static_cast<qsizetype>(e);
        const quint64 first = Mp4::read(stsc, at, 4);
        const quint64 perChunk = Mp4::read(stsc, at + 4, 4);
        const quint64 next = e + 1 < entries ? Mp4::read(stsc, at + 12, 4) : chunks + 1;
        if ((e == 0 && first != 1) || next <= first || next > chunks + 1 || perChunk < 1)
            fail("its chunks do not add up");
        // More frames in the chunks than the track has would be read from
        // past the end of its table of sizes.
        if (perChunk > count || (next - first) > (count - listed) / perChunk)
            fail("its chunks hold more frames than it has");
        listed += (next - first) * perChunk;
        for (quint64 c = first; c < next; ++c)
            track.chunkFrames[c - 1] = static_cast<quint32>(perChunk);
    }
    if (listed != count)
        fail("its chunks do not hold its frames");

    // The frames up to the first that is not wholly in the file play; a
    // download cut short ends there.
    quint64 frame = 0;
    std::optional<quint64> whole;
    for (quint64 c = 0; c < chunks; ++c) {
        // Added with care: a 64-bit offset near its limit would wrap.
        quint64 end = track.chunkOffsets[c];
        for (quint32 k = 0; k < track.chunkFrames[c]; ++k, ++frame) {
            const quint64 size = track.sizes[frame];
            if (end > fileSize || size > fileSize - end) {
                if (!whole)
                    whole = frame;
                continue;
            }
            end += size;
        }
    }
    if (whole)
        throw Mp4AudioTrack::CutShort(static_cast<qint64>(*whole) * Aac::kFrameSamples,
                                      static_cast<qint64>(count) * Aac::kFrameSamples,
                                      track.sampleRate);
    return shortEnd;
}

} // namespace

Mp4AudioTrack::CutShort::CutShort(qint64 present, qint64 promised, int rate)
    : std::runtime_error("its audio ends before its header says"),
      presentSamples(present),
      promisedSamples(promised),
      sampleRate(rate)
{
}

Mp4AudioTrack Mp4AudioTrack::read(const QString& path, Times times)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("it cannot be read: " + file.errorString().toStdString());
    return fromHeader(Mp4File::movieHeader(file.handle(), file.size()), file.size(), times);
}

Mp4AudioTrack Mp4AudioTrack::fromHeader(const QByteArray& moovBytes, qint64 fileSize, Times times)
{
    // A table that passes every check may still be more than this machine
    // can set aside; that too is a file that cannot be copied.
    try {
        return readTrack(moovBytes, fileSize, times);
    } catch (const std::bad_alloc&) {
        fail("its tables are too large to read");
    }
}

Mp4AudioTrack Mp4AudioTrack::readTrack(const QByteArray& moovBytes, qint64 fileSize, Times times)
{
    const Mp4Box moov = Mp4Box::holding("moov", Mp4Box::parse(moovBytes));
    const Mp4Box* trak = soundTrack(moov);
    if (!trak)
        fail("it has no audio track");
    const Mp4Box& mdia = need(trak->child("mdia"), "mdia");
    const Mp4Box& stbl = need(need(mdia.child("minf"), "minf").child("stbl"), "stbl");

    Mp4AudioTrack track;
    readSampleEntry(track, need(stbl.child("stsd"), "stsd").payload);
    const QByteArrayView mdhd = need(mdia.child("mdhd"), "mdhd").payload;
    const bool wide = Mp4::read(mdhd, 0, 1) == 1;
    if (Mp4::read(mdhd, wide ? 20 : 12, 4) != static_cast<quint64>(track.sampleRate))
        fail("its times are not counted in samples");
    const qint64 shortEnd = readSampleTable(track, stbl, static_cast<quint64>(fileSize), times);
    const auto samples = static_cast<qint64>(track.sizes.size()) * Aac::kFrameSamples;

    track.padding = shortEnd;
    const Mp4Box* edts = trak->child("edts");
    if (!edts)
        return track;
    const std::vector<Mp4Box> edits = Mp4Box::parse(edts->payload);
    if (edits.empty() || edits.front().type != "elst")
        return track;
    const QByteArrayView elst = edits.front().payload;
    const bool wideEdit = Mp4::read(elst, 0, 1) == 1;
    if (Mp4::read(elst, 4, 4) != 1)
        fail("it plays its audio in more than one piece");
    const int width = wideEdit ? 8 : 4;
    const quint64 duration = Mp4::read(elst, 8, width);
    const auto mediaTime = static_cast<qint64>(Mp4::read(elst, 8 + width, width));
    const quint64 rate = Mp4::read(elst, 8 + 2 * width, 4);
    if (mediaTime < 0 || mediaTime >= samples || rate != 0x00010000)
        fail("its edit does more than trim its audio");
    track.priming = mediaTime;
    // The edit's length counts in the movie's time scale, most often milliseconds.
    const QByteArrayView mvhd = need(moov.child("mvhd"), "mvhd").payload;
    const quint64 movieScale = Mp4::read(mvhd, Mp4::read(mvhd, 0, 1) == 1 ? 20 : 12, 4);
    if (duration > 0 && movieScale > 0) {
        // Bounded first: an absurd length is no number of samples.
        const auto played = static_cast<qint64>(std::llround(
            std::min(static_cast<double>(duration) * track.sampleRate / static_cast<double>(movieScale),
                     static_cast<double>(samples))));
        track.padding = std::clamp<qint64>(samples - track.priming - played, 0, samples - track.priming);
    }
    return track;
}

qint64 Mp4AudioTrack::playedSamples() const
{
    return static_cast<qint64>(sizes.size()) * Aac::kFrameSamples - priming - padding;
}
