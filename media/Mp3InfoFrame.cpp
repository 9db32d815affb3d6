#include "Mp3InfoFrame.h"

#include "Mp3Frames.h"

#include <algorithm>
#include <cstring>

namespace Mp3InfoFrame {

namespace {

quint32 bigEndian(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

void putBigEndian(uchar* p, quint32 value)
{
    p[0] = static_cast<uchar>(value >> 24);
    p[1] = static_cast<uchar>(value >> 16);
    p[2] = static_cast<uchar>(value >> 8);
    p[3] = static_cast<uchar>(value);
}

// The Xing tag's place after the frame's header and side information.
qint64 xingOffset(const uchar* header)
{
    const bool mpeg1 = ((header[1] >> 3) & 3) == 3;
    const bool mono = (header[3] >> 6) == 3;
    const bool protectedByCrc = (header[1] & 1) == 0;
    const int sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return 4 + (protectedByCrc ? 2 : 0) + sideInfo;
}

} // namespace

quint16 crc16(const uchar* bytes, qint64 size)
{
    // CRC-16/ARC, reflected: LAME's and ffmpeg's AV_CRC_16_ANSI_LE.
    quint16 crc = 0;
    for (qint64 i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001)
                            : static_cast<quint16>(crc >> 1);
    }
    return crc;
}

std::optional<QByteArray> retold(QByteArray frame, const Mp3Frames::Joined& joined)
{
    const qint64 length = frame.size();
    if (length < 24 || joined.starts.empty())
        return std::nullopt;
    auto* bytes = reinterpret_cast<uchar*>(frame.data());
    const qint64 at = xingOffset(bytes);
    if (at + 8 > length ||
        (std::memcmp(bytes + at, "Xing", 4) != 0 && std::memcmp(bytes + at, "Info", 4) != 0))
        return std::nullopt;
    const quint32 flags = bigEndian(bytes + at + 4);
    const auto count = static_cast<qint64>(joined.starts.size());
    const qint64 streamBytes = joined.bytes();
    if (!(flags & 1) || at + 12 > length || count > 0xFFFFFFFFLL || streamBytes > 0xFFFFFFFFLL)
        return std::nullopt;
    // The frame tells of these frames already: it is left as it was.
    if (bigEndian(bytes + at + 8) >= count)
        return std::nullopt;
    putBigEndian(bytes + at + 8, static_cast<quint32>(count));
    qint64 field = at + 12;
    if (flags & 2) {
        if (field + 4 > length)
            return std::nullopt;
        putBigEndian(bytes + field, static_cast<quint32>(streamBytes));
        field += 4;
    }
    if (flags & 4) {
        if (field + 100 > length)
            return std::nullopt;
        for (int i = 0; i < 100; ++i) {
            const qint64 start = joined.starts.at(static_cast<std::size_t>(i * count / 100));
            bytes[field + i] = static_cast<uchar>(std::min<qint64>(255, 256 * start / streamBytes));
        }
        field += 100;
    }
    if (flags & 8)
        field += 4;
    // LAME's tag: no padding to drop at the end, the music's length, and
    // the CRC of the frame's bytes before it, without which players pass
    // over the tag and play the encoder's delay.
    if (field + 36 <= length &&
        (std::memcmp(bytes + field, "LAME", 4) == 0 || std::memcmp(bytes + field, "Lavf", 4) == 0 ||
         std::memcmp(bytes + field, "Lavc", 4) == 0)) {
        uchar* lame = bytes + field;
        lame[22] = static_cast<uchar>(lame[22] & 0xF0);
        lame[23] = 0;
        putBigEndian(lame + 28, static_cast<quint32>(streamBytes));
        const quint16 crc = crc16(bytes, field + 34);
        lame[34] = static_cast<uchar>(crc >> 8);
        lame[35] = static_cast<uchar>(crc);
    }
    return frame;
}

} // namespace Mp3InfoFrame
