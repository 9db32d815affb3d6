#pragma once

#include <QtGlobal>
#include <array>
#include <optional>

// What every AAC-LC stream has in common, whatever holds it: ADTS or MP4.
namespace Aac {

// The samples that one frame decodes to.
inline constexpr qint64 kFrameSamples = 1024;

// The sample rate that a configuration's or an ADTS header's rate index stands for.
[[nodiscard]] constexpr std::optional<int> sampleRate(int index)
{
    constexpr std::array<int, 13> rates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                        22050, 16000, 12000, 11025, 8000,  7350};
    if (index < 0 || index >= static_cast<int>(rates.size()))
        return std::nullopt;
    return rates.at(static_cast<std::size_t>(index));
}

} // namespace Aac
