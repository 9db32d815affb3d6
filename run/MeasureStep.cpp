#include "MeasureStep.h"

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr double kMostGain = 30.0;
constexpr double kLeastGain = -30.0;
} // namespace

QString MeasureStep::during() const
{
    return u"While measuring the loudness"_s;
}

double MeasureStep::gainFor(double loudness)
{
    if (!std::isfinite(loudness))
        return 0;
    return std::clamp(RunRequest::kTargetLoudness - loudness, kLeastGain, kMostGain);
}

void MeasureStep::startWorker(RunWork& run, const QString&, const QString& input, Reports reports)
{
    mInput = input;
    QStringList sources;
    for (const ItemRecordPtr& record : std::as_const(run.records))
        sources << record->pathColumn;
    reports.tell(0, static_cast<double>(sources.size()));
    mMeter.start(sources, run.decodedRate(), run.request.mono ? 1 : 2, std::move(reports));
}

QString MeasureStep::settle(RunWork& run)
{
    const std::vector<double>& loudness = mMeter.loudness();
    const double whole = gainFor(mMeter.wholeLoudness());
    run.gains.clear();
    for (qsizetype i = 0; i < run.records.size(); ++i) {
        const double own = loudness.at(static_cast<std::size_t>(i));
        run.records.at(i)->loudness = own;
        run.gains.push_back(run.request.evenVolume == EvenVolume::EachFile ? gainFor(own) : whole);
    }
    return {};
}
