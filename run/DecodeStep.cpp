#include "DecodeStep.h"

#include "RunChecks.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

QString DecodeStep::during() const
{
    return u"While decoding the files"_s;
}

void DecodeStep::startWorker(RunWork& run, const QString& folder, const QString&, Reports reports)
{
    mFolder = folder;
    const QString decoded = folder + u"/Decoded"_s;
    QDir().mkpath(decoded);
    QStringList sources;
    for (const ItemRecordPtr& record : std::as_const(run.records))
        sources << record->pathColumn;
    reports.tell(0, static_cast<double>(sources.size()));
    mDecoder.setGains(run.request.evenVolume == EvenVolume::Off ? std::vector<double>() : run.gains);
    mDecoder.start(sources, decoded, run.decodedRate(), run.request.mono ? 1 : 2, std::move(reports));
}

QString DecodeStep::settle(RunWork& run)
{
    if (QString cut = RunChecks::decodedCutShort(run, mDecoder.samples()); !cut.isEmpty())
        return cut;
    const int rate = run.decodedRate();
    for (qsizetype i = 0; i < run.records.size(); ++i) {
        ItemRecord& record = *run.records.at(i);
        const qint64 samples = mDecoder.samples().at(static_cast<std::size_t>(i));
        record.symbolicPath = mDecoder.outputs().at(i);
        record.exact = ItemRecord::Exact{.samples = samples,
                                         .leadIn = 0,
                                         .sampleRate = rate,
                                         .joinedSamples = samples,
                                         .joinedLeadIn = 0};
        const qint64 seconds = samples / rate;
        record.mins = QString::number(seconds / 60);
        record.secs = QString::number(seconds % 60);
    }
    return {};
}
