#include "Mp3Frames.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

// How far past the tags the list looks for the first frames: a few frames
// are a few kilobytes.
constexpr qint64 kReadLimit = 64 << 10;
// A walk through every frame reads this much at a time.
constexpr qint64 kWalkBlock = 1 << 20;
// An Info frame and LAME's tag after it lie within this much of the frame's start.
constexpr qint64 kInfoBytes = 512;
// Consecutive frames that must follow one another before the data counts as audio.
constexpr int kFramesToTrust = 3;

struct Header
{
    int sampleRate = 0;
    int channels = 0;
    int length = 0; // of the whole frame, in bytes
    int version = 0;
    int layer = 0;
    bool crc = false;

    [[nodiscard]] int samplesPerFrame() const
    {
        if (layer == 1)
            return 384;
        return layer == 3 && version != 3 ? 576 : 1152;
    }
};

std::optional<Header> readHeader(const uchar* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layerBits = (p[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3)
        return std::nullopt;
    static constexpr std::array<std::array<int, 15>, 5> kBitrates{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // V2 L2, L3
    }};
    static constexpr std::array<int, 3> kRates{44100, 48000, 32000};
    const bool v1 = versionBits == 3;
    const int layer = 4 - layerBits;
    const std::size_t table = v1 ? static_cast<std::size_t>(layer - 1) : (layer == 1 ? 3 : 4);
    const int bitrate = kBitrates.at(table).at(static_cast<std::size_t>(bitrateIndex)) * 1000;
    const int divisor = versionBits == 3 ? 1 : (versionBits == 2 ? 2 : 4);
    const int sampleRate = kRates.at(static_cast<std::size_t>(rateIndex)) / divisor;
    const int padding = (p[2] >> 1) & 1;
    int length = 0;
    if (layer == 1)
        length = (12 * bitrate / sampleRate + padding) * 4;
    else if (layer == 3 && !v1)
        length = 72 * bitrate / sampleRate + padding;
    else
        length = 144 * bitrate / sampleRate + padding;
    return Header{.sampleRate = sampleRate,
                  .channels = ((p[3] >> 6) & 3) == 3 ? 1 : 2,
                  .length = length,
                  .version = versionBits,
                  .layer = layer,
                  .crc = (p[1] & 1) == 0};
}

// A file read a block at a time, never mapped: a file cut short while it
// is read (a download still running, a disk pulled out) ends early instead
// of raising SIGBUS. At most one block is held.
class Window
{
public:
    // Reads of at least `block` bytes: a look at a file's start needs few.
    Window(QFile& file, qint64 block) : mFile(file), mSize(file.size()), mBlock(block) {}
    [[nodiscard]] qint64 size() const { return mSize; }
    // The n bytes from `at`, or none where the file ends before them.
    const uchar* get(qint64 at, qint64 n)
    {
        if (at < 0 || n > mSize - at)
            return nullptr;
        if (at < mBase || at + n > mBase + mBytes.size()) {
            mBase = at;
            mBytes = mFile.seek(at) ? mFile.read(std::max(n, std::min(mBlock, mSize - at)))
                                    : QByteArray();
            if (mBytes.size() < n) {
                // The file is shorter now than when it was opened.
                mSize = at + mBytes.size();
                return nullptr;
            }
        }
        return reinterpret_cast<const uchar*>(mBytes.constData()) + (at - mBase);
    }

private:
    QFile& mFile;
    qint64 mSize;
    qint64 mBlock;
    QByteArray mBytes;
    qint64 mBase = 0;
};

// Where the audio starts: after any ID3v2 tags from `at`, each skipped by its size.
qint64 audioStart(Window& bytes, qint64 at = 0)
{
    while (const uchar* p = bytes.get(at, 10)) {
        if (std::memcmp(p, "ID3", 3) != 0)
            break;
        const qint64 tag = (qint64(p[6] & 0x7F) << 21) | (qint64(p[7] & 0x7F) << 14) |
                           (qint64(p[8] & 0x7F) << 7) | qint64(p[9] & 0x7F);
        at += 10 + tag + ((p[5] & 0x10) ? 10 : 0);
    }
    return at;
}

struct FirstFrame
{
    qint64 at = 0;
    Header header;
};

std::optional<Header> headerAt(Window& bytes, qint64 at)
{
    const uchar* p = bytes.get(at, 4);
    return p ? readHeader(p) : std::nullopt;
}

// The first place before `limit` from which kFramesToTrust frames of one
// kind follow each other.
std::optional<FirstFrame> firstFrames(Window& bytes, qint64 from, qint64 limit)
{
    for (qint64 at = from; at < limit && at + 4 <= bytes.size(); ++at) {
        const auto first = headerAt(bytes, at);
        if (!first)
            continue;
        qint64 next = at;
        int found = 0;
        for (auto header = first; header && header->version == first->version &&
                                  header->layer == first->layer &&
                                  header->sampleRate == first->sampleRate;) {
            ++found;
            next += header->length;
            if (found == kFramesToTrust)
                return FirstFrame{.at = at, .header = *first};
            header = headerAt(bytes, next);
        }
        // A short file whose few frames reach exactly to its end is audio too.
        if (found > 0 && next == bytes.size())
            return FirstFrame{.at = at, .header = *first};
    }
    return std::nullopt;
}

quint32 bigEndian(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

// A Xing, Info or VBRI frame describes the stream and holds no audio. Its
// frame count is exact, and LAME's tag after it gives the encoder's delay.
struct InfoFrame
{
    std::optional<qint64> frames;
    int delay = 0;
    int padding = 0;
    std::optional<qint64> bytes;
    // Whether LAME's tag, or ffmpeg's like it, follows: only then does ffmpeg
    // drop the delay it gives, and trim the padding at the frames' end.
    bool encoderTag = false;
    bool vbri = false;
};

std::optional<InfoFrame> readInfoFrame(const uchar* frame, qint64 available, const Header& header)
{
    const bool mono = header.channels == 1;
    const int sideInfo = header.version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const qint64 at = 4 + (header.crc ? 2 : 0) + sideInfo;
    if (header.layer == 3 && at + 8 <= available &&
        (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0)) {
        const quint32 flags = bigEndian(frame + at + 4);
        qint64 field = at + 8;
        InfoFrame info;
        if ((flags & 1) && field + 4 <= available) {
            info.frames = bigEndian(frame + field);
            field += 4;
        }
        if ((flags & 2) && field + 4 <= available)
            info.bytes = bigEndian(frame + field);
        field += (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
        if (field + 24 <= available) {
            const uchar* lame = frame + field;
            info.delay = (lame[21] << 4) | (lame[22] >> 4);
            info.padding = ((lame[22] & 0x0F) << 8) | lame[23];
            info.encoderTag = std::memcmp(lame, "LAME", 4) == 0 ||
                              std::memcmp(lame, "Lavf", 4) == 0 ||
                              std::memcmp(lame, "Lavc", 4) == 0;
        }
        return info;
    }
    if (36 + 18 <= available && std::memcmp(frame + 36, "VBRI", 4) == 0)
        return InfoFrame{.frames = bigEndian(frame + 36 + 14),
                         .delay = 0,
                         .padding = 0,
                         .bytes = {},
                         .encoderTag = false,
                         .vbri = true};
    return std::nullopt;
}

// The Info frame that the first frame is, if it is one.
std::optional<InfoFrame> infoFrameAt(Window& bytes, const FirstFrame& first)
{
    const qint64 available = std::min<qint64>(bytes.size() - first.at, kInfoBytes);
    const uchar* frame = bytes.get(first.at, available);
    return frame ? readInfoFrame(frame, available, first.header) : std::nullopt;
}

Mp3Frames::Check noAudio(Mp3Frames::Check::Problem problem)
{
    return {.problem = problem, .sampleRate = 0, .channels = 0};
}

// Why the file cannot be read at all; None when it is open.
Mp3Frames::Check::Problem openingProblem(const QString& path, QFile& file)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Mp3Frames::Check::Problem::Gone;
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Mp3Frames::Check::Problem::Unreadable;
    return Mp3Frames::Check::Problem::None;
}

// What a walk of a file's frames from its first one finds; none when the
// file cannot be read or holds no frames.
template <typename Result, typename Walk>
std::optional<Result> fromFirstFrame(const QString& path, const Walk& walk)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Window bytes(file, kWalkBlock);
    const auto first = firstFrames(bytes, audioStart(bytes), bytes.size());
    if (!first)
        return std::nullopt;
    return walk(bytes, *first);
}

} // namespace

Mp3Frames::Check Mp3Frames::check(const QString& path)
{
    QFile file(path);
    if (const auto problem = openingProblem(path, file); problem != Check::Problem::None)
        return noAudio(problem);
    Window bytes(file, kReadLimit);
    // A few frames are a few kilobytes past the tags, however large those are.
    const qint64 start = audioStart(bytes);
    const auto first = firstFrames(bytes, start, start + kReadLimit);
    if (!first)
        return noAudio(Check::Problem::NotAudio);
    Check result{.problem = Check::Problem::None,
                 .sampleRate = first->header.sampleRate,
                 .channels = first->header.channels};
    // An Info frame gives the stream's bytes: a file with fewer was cut
    // short, and plays only as far as its bytes go.
    const qint64 available = bytes.size() - first->at;
    const auto info = infoFrameAt(bytes, *first);
    if (info && info->frames && info->bytes && *info->bytes > 0 &&
        available < *info->bytes - qint64{kFramesToTrust} * first->header.length) {
        const double promised = static_cast<double>(*info->frames) *
                                first->header.samplesPerFrame() / first->header.sampleRate;
        result.problem = Check::Problem::CutShort;
        result.promisedSeconds = promised;
        result.presentSeconds = promised * static_cast<double>(available) /
                                static_cast<double>(*info->bytes);
    }
    return result;
}

// The frames are walked one by one, a block at a time, unless the Info
// frame gives their count.
std::optional<Mp3Frames::Measure> Mp3Frames::measure(const QString& path)
{
    return fromFirstFrame<Measure>(path, [](Window& bytes, const FirstFrame& first) {
        Measure result;
        result.sampleRate = first.header.sampleRate;
        result.channels = first.header.channels;
        result.samplesPerFrame = first.header.samplesPerFrame();
        qint64 at = first.at;
        if (const auto info = infoFrameAt(bytes, first)) {
            result.infoFrame = true;
            result.encoderInfo = info->encoderTag;
            if (info->encoderTag) {
                result.encoderDelay = info->delay;
                result.encoderPadding = info->padding;
            }
            if (info->frames) {
                result.audioSamples = *info->frames * result.samplesPerFrame;
                result.countedByInfo = true;
                return result;
            }
            at += first.header.length;
        }
        qint64 frames = 0;
        for (auto header = headerAt(bytes, at); header && header->sampleRate == result.sampleRate;
             header = headerAt(bytes, at)) {
            ++frames;
            at += header->length;
        }
        result.audioSamples = frames * result.samplesPerFrame;
        return result;
    });
}

std::optional<Mp3Frames::Span> Mp3Frames::framesSpan(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    Window bytes(file, 10);
    Span span{.begin = audioStart(bytes), .end = size};
    const auto tail = [&](qint64 length) {
        return file.seek(span.end - length) ? file.read(length) : QByteArray();
    };
    if (span.end - span.begin >= 128 && tail(128).startsWith("TAG"))
        span.end -= 128;
    // An APE tag's footer gives its size, header excluded.
    if (const QByteArray footer = span.end - span.begin >= 32 ? tail(32) : QByteArray();
        footer.startsWith("APETAGEX")) {
        const auto* p = reinterpret_cast<const uchar*>(footer.constData()) + 12;
        const qint64 tagSize = qint64(p[0]) | (qint64(p[1]) << 8) | (qint64(p[2]) << 16) |
                               (qint64(p[3]) << 24);
        const bool hasHeader = (footer.at(23) & 0x80) != 0;
        span.end -= tagSize + (hasHeader ? 32 : 0);
    }
    if (span.end < span.begin)
        return std::nullopt;
    return span;
}

std::optional<Mp3Frames::Frames> Mp3Frames::frames(const QString& path)
{
    return fromFirstFrame<Frames>(path, [](Window& bytes, const FirstFrame& first) {
        Frames result{.sampleRate = first.header.sampleRate,
                      .samplesPerFrame = first.header.samplesPerFrame(),
                      .starts = {},
                      .end = 0,
                      .infoAt = infoFrameAt(bytes, first) ? first.at : -1};
        qint64 at = first.at + (result.infoAt >= 0 ? first.header.length : 0);
        // A frame is at least 24 bytes long: the table never outgrows the file.
        result.starts.reserve(static_cast<std::size_t>(std::max<qint64>(0, bytes.size() - at) / 400));
        for (auto header = headerAt(bytes, at); header && header->sampleRate == result.sampleRate &&
                                                at + header->length <= bytes.size();
             header = headerAt(bytes, at)) {
            result.starts.push_back(at);
            at += header->length;
        }
        result.end = at;
        return result;
    });
}

qint64 Mp3Frames::Joined::bytes() const
{
    qint64 sum = 0;
    for (const Span& run : runs)
        sum += run.end - run.begin;
    return sum;
}

std::optional<Mp3Frames::Joined> Mp3Frames::joined(const QString& path)
{
    return fromFirstFrame<Joined>(path, [](Window& bytes, const FirstFrame& first) {
        Joined result;
        const auto same = [&first](const Header& header) {
            return header.version == first.header.version && header.layer == first.header.layer &&
                   header.sampleRate == first.header.sampleRate;
        };
        const qint64 end = bytes.size();
        qint64 at = first.at;
        qint64 run = at;
        qint64 laid = 0;
        // The run so far ends where the walk is; once only.
        const auto close = [&] {
            if (at > run) {
                result.runs.push_back({run, at});
                laid += at - run;
            }
            run = at;
        };
        if (infoFrameAt(bytes, first) && at + first.header.length <= end) {
            result.infoLength = first.header.length;
            at += first.header.length;
        }
        while (at < end) {
            const auto header = headerAt(bytes, at);
            if (header && same(*header) && at + header->length <= end) {
                const uchar* frame = bytes.get(at, std::min<qint64>(end - at, kInfoBytes));
                if (frame &&
                    readInfoFrame(frame, std::min<qint64>(end - at, kInfoBytes), *header)) {
                    close();
                    at += header->length;
                    run = at;
                    continue;
                }
                result.starts.push_back(laid + at - run);
                at += header->length;
                continue;
            }
            close();
            const uchar* p = bytes.get(at, std::min<qint64>(end - at, 32));
            if (p && end - at >= 10 && std::memcmp(p, "ID3", 3) == 0) {
                at = audioStart(bytes, at);
            } else if (p && end - at >= 128 && std::memcmp(p, "TAG", 3) == 0) {
                at += 128;
            } else if (p && end - at >= 32 && std::memcmp(p, "APETAGEX", 8) == 0) {
                // An APE tag's header or footer; the size counts its items and footer.
                const qint64 size = qint64(p[12]) | (qint64(p[13]) << 8) | (qint64(p[14]) << 16) |
                                    (qint64(p[15]) << 24);
                const bool isHeader = (p[23] & 0x20) != 0;
                at += isHeader ? 32 + size : 32;
            } else {
                const auto next = firstFrames(bytes, at + 1, end);
                if (!next || !same(next->header))
                    break;
                at = next->at;
            }
            run = at;
        }
        close();
        return result;
    });
}
