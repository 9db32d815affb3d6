#include "PeakSummary.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr char kMagic[] = "FWPK";
constexpr quint32 kVersion = 1;
constexpr qsizetype kHeader = 16;
// Past any book: 200 hours.
constexpr qsizetype kMostSpans = qsizetype{200} * 3600 * PeakSummary::kSpansPerSecond;

// A level for each peak, made once: a thousand files' samples pass through it.
const std::array<quint8, 32769>& levels()
{
    static const std::array<quint8, 32769> table = [] {
        std::array<quint8, 32769> made{};
        for (int peak = 1; peak <= 32768; ++peak) {
            const double db = 20 * std::log10(peak / 32768.0);
            made[static_cast<std::size_t>(peak)] = static_cast<quint8>(
                std::clamp(std::lround((db - PeakSummary::kFloorDb) / -PeakSummary::kFloorDb * 255),
                           0L, 255L));
        }
        return made;
    }();
    return table;
}

// The spans a range of seconds covers: a time on a span's edge, give or
// take the rounding of its sum, is that edge.
constexpr double kEdge = 1e-6;
qsizetype firstSpan(double from)
{
    return std::max<qsizetype>(
        0, static_cast<qsizetype>(std::floor(from * PeakSummary::kSpansPerSecond + kEdge)));
}
qsizetype endSpan(double to)
{
    return static_cast<qsizetype>(std::ceil(to * PeakSummary::kSpansPerSecond - kEdge));
}

} // namespace

PeakSummary::PeakSummary(QByteArray levels) : mLevels(std::move(levels))
{
    const qsizetype blocks = (mLevels.size() + kBlock - 1) / kBlock;
    mBlocks = QByteArray(blocks, '\0');
    const auto* bytes = reinterpret_cast<const quint8*>(mLevels.constData());
    for (qsizetype b = 0; b < blocks; ++b) {
        const qsizetype end = std::min(mLevels.size(), (b + 1) * kBlock);
        mBlocks[b] = static_cast<char>(*std::max_element(bytes + b * kBlock, bytes + end));
    }
}

quint8 PeakSummary::level(qsizetype span) const
{
    return span >= 0 && span < mLevels.size() ? static_cast<quint8>(mLevels.at(span)) : 0;
}

quint8 PeakSummary::loudest(double from, double to) const
{
    qsizetype first = firstSpan(from);
    const qsizetype end = std::min(mLevels.size(), endSpan(to));
    if (first >= end)
        return first < mLevels.size() && first == end ? level(first) : 0;
    const auto* spans = reinterpret_cast<const quint8*>(mLevels.constData());
    const auto* blocks = reinterpret_cast<const quint8*>(mBlocks.constData());
    quint8 most = 0;
    while (first < end && first % kBlock != 0)
        most = std::max(most, spans[first++]);
    while (first + kBlock <= end) {
        most = std::max(most, blocks[first / kBlock]);
        first += kBlock;
    }
    while (first < end)
        most = std::max(most, spans[first++]);
    return most;
}

std::optional<double> PeakSummary::quietest(double from, double to, double near) const
{
    const qsizetype first = firstSpan(from);
    const qsizetype end = std::min(mLevels.size(), endSpan(to));
    std::optional<qsizetype> best;
    const auto middle = [](qsizetype span) {
        return (static_cast<double>(span) + 0.5) / kSpansPerSecond;
    };
    for (qsizetype span = first; span < end; ++span) {
        if (!best || level(span) < level(*best) ||
            (level(span) == level(*best) &&
             std::abs(middle(span) - near) < std::abs(middle(*best) - near)))
            best = span;
    }
    if (!best)
        return std::nullopt;
    return middle(*best);
}

quint8 PeakSummary::levelOf(int peak)
{
    return levels()[static_cast<std::size_t>(std::clamp(peak, 0, 32768))];
}

QByteArray PeakSummary::serialized() const
{
    QByteArray bytes(kHeader, '\0');
    std::copy_n(kMagic, 4, bytes.data());
    qToBigEndian<quint32>(kVersion, bytes.data() + 4);
    qToBigEndian<quint32>(kSpansPerSecond, bytes.data() + 8);
    qToBigEndian<quint32>(static_cast<quint32>(mLevels.size()), bytes.data() + 12);
    return bytes + mLevels;
}

std::optional<PeakSummary> PeakSummary::parse(QByteArrayView bytes)
{
    if (bytes.size() < kHeader || bytes.first(4) != QByteArrayView(kMagic, 4) ||
        qFromBigEndian<quint32>(bytes.data() + 4) != kVersion ||
        qFromBigEndian<quint32>(bytes.data() + 8) != kSpansPerSecond)
        return std::nullopt;
    const auto count = static_cast<qsizetype>(qFromBigEndian<quint32>(bytes.data() + 12));
    if (count > kMostSpans || bytes.size() - kHeader != count)
        return std::nullopt;
    return PeakSummary(bytes.sliced(kHeader).toByteArray());
}
