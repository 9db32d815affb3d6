#pragma once

#include "Mp3Frames.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The Xing or Info frame at the start of an MP3 stream tells players how
// many frames follow, how many bytes they take and where each tenth of the
// stream lies; players show the length and seek by it. A stream joined from
// several files begins with the first file's, which tells of that file alone.
namespace Mp3InfoFrame {

// The first file's Info frame told again for the joined stream's frames:
// their count, their bytes and the table of contents, and LAME's tag with
// its CRC. The padding that LAME's tag gives was the first file's, and is
// dropped. None when the frame is no Xing or Info frame, or when it tells
// of as many frames already.
[[nodiscard]] std::optional<QByteArray> retold(QByteArray frame, const Mp3Frames::Joined& joined);

// LAME's CRC-16 of the Info frame's first bytes, and of the audio.
[[nodiscard]] quint16 crc16(const uchar* bytes, qint64 size);

} // namespace Mp3InfoFrame
