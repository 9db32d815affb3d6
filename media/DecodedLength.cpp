#include "DecodedLength.h"

#include <algorithm>

namespace {
constexpr qint64 kDecoderDelay = 529;
constexpr qint64 kLameDelay = 576;
} // namespace

qint64 DecodedLength::alone(const Mp3Frames::Measure& file)
{
    if (!file.encoderInfo)
        return file.audioSamples;
    const qint64 dropped =
        file.encoderDelay + (file.countedByInfo ? file.encoderPadding : kDecoderDelay);
    return std::max<qint64>(0, file.audioSamples - dropped);
}

qint64 DecodedLength::leadIn(const Mp3Frames::Measure& file)
{
    return file.encoderInfo ? 0 : std::min(kLameDelay + kDecoderDelay, file.audioSamples);
}

qint64 DecodedLength::joined(const Mp3Frames::Measure& file, bool first)
{
    // The book's Info frame drops the first file's delay; nothing is
    // dropped after it until the book's end.
    if (first && file.encoderInfo)
        return std::max<qint64>(0, file.audioSamples - file.encoderDelay - kDecoderDelay);
    return file.audioSamples;
}

qint64 DecodedLength::joinedLeadIn(const Mp3Frames::Measure& file)
{
    return file.encoderInfo ? file.encoderDelay + kDecoderDelay : leadIn(file);
}
