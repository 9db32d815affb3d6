#pragma once

#include "Mp3Frames.h"

// How decoders count an MP3 file's samples. With LAME's tag a decoder drops
// the encoder's delay and its own 529 samples at the start, and, knowing the
// frame count, the padding less those 529 at the end.
namespace DecodedLength {

// What ffmpeg gives of the file decoded on its own.
[[nodiscard]] qint64 alone(const Mp3Frames::Measure& file);
// Where the file's own audio starts among those samples: nothing when the
// decoder dropped the encoder's delay, else LAME's usual delay and the decoder's.
[[nodiscard]] qint64 leadIn(const Mp3Frames::Measure& file);

// What a player gives of the file in an MP3 book, which holds the files'
// frames without their tags and, after the first, their Info frames: the
// first file without its delay, every later one whole.
[[nodiscard]] qint64 joined(const Mp3Frames::Measure& file, bool first);
// Where a later file's own audio starts among those samples: after its
// encoder's and the decoder's delay.
[[nodiscard]] qint64 joinedLeadIn(const Mp3Frames::Measure& file);

} // namespace DecodedLength
