#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <optional>

// How loud a file is over time: the peak of each fiftieth of a second, as a
// level from 0 (60 dB below full scale, or quieter) to 255 (full scale).
// A 30-hour book takes 5.4 MB; the loudest of each block of spans is kept
// too, so that a view of the whole book does not read every span.
class PeakSummary
{
public:
    static constexpr int kSpansPerSecond = 50;
    static constexpr qsizetype kBlock = 64;
    // Below this the level is 0.
    static constexpr double kFloorDb = -60;

    PeakSummary() = default;
    explicit PeakSummary(QByteArray levels);

    [[nodiscard]] qsizetype spans() const { return mLevels.size(); }
    [[nodiscard]] double seconds() const { return static_cast<double>(spans()) / kSpansPerSecond; }
    [[nodiscard]] quint8 level(qsizetype span) const;
    // The loudest level of the spans from `from` to `to` seconds; 0 outside the file.
    [[nodiscard]] quint8 loudest(double from, double to) const;
    // The middle of the quietest span from `from` to `to` seconds, the one
    // nearest `near` among equals; none outside the file.
    [[nodiscard]] std::optional<double> quietest(double from, double to, double near) const;

    // The level of a peak of 16-bit samples (at most 32768).
    [[nodiscard]] static quint8 levelOf(int peak);

    // As the cache keeps it, and back: none when the bytes are not one, or
    // not whole.
    [[nodiscard]] QByteArray serialized() const;
    [[nodiscard]] static std::optional<PeakSummary> parse(QByteArrayView bytes);

private:
    QByteArray mLevels;
    QByteArray mBlocks;
};
