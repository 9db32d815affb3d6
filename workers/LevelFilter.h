#pragma once

#include <QString>
#include <cmath>

// The ffmpeg filters that give audio a gain and keep its peaks below the
// ceiling of a levelled book: its true peak stays at or below -1.5 dBTP
// after the encoder. The limiter acts only where a peak would pass the
// ceiling; it does not level by itself.
namespace LevelFilter {

// The highest sample peak of levelled audio, in dBFS.
constexpr double kCeiling = -3.0;

[[nodiscard]] inline QString filter(double gain)
{
    return QStringLiteral("volume=%1dB,alimiter=limit=%2:level=disabled:attack=5:release=50")
        .arg(gain, 0, 'f', 2)
        .arg(std::pow(10.0, kCeiling / 20), 0, 'f', 4);
}

} // namespace LevelFilter
