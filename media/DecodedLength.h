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

// What a player gives of the file in a stream of files joined byte for byte,
// as mpg123, which VLC plays MP3 with, decodes it: the first file as it plays
// alone, every later one whole, its Info frame as a frame of silence; tags
// are passed over. (ffmpeg loses a frame or two after a tag, by where its
// bytes fall.)
[[nodiscard]] qint64 joined(const Mp3Frames::Measure& file, bool first);
// Where a later file's own audio starts among those samples: after its Info
// frame and its encoder's and decoder's delay.
[[nodiscard]] qint64 joinedLeadIn(const Mp3Frames::Measure& file);

} // namespace DecodedLength
