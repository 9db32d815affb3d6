#include "CopyStep.h"

#include "RunChecks.h"

using namespace Qt::Literals::StringLiterals;

QString CopyStep::during() const
{
    return u"While copying the audio"_s;
}

void CopyStep::startWorker(RunWork& run, const QString& folder, const QString&, Reports reports)
{
    mFolder = folder;
    QStringList sources;
    for (const ItemRecordPtr& record : std::as_const(run.records))
        sources << record->pathColumn;
    reports.tell(0, static_cast<double>(sources.size()));
    mCopier.start(sources, run.records.first()->copyableAac->audioConfig, output(),
                  std::move(reports));
}

QString CopyStep::settle(RunWork& run)
{
    const std::vector<ItemRecord::Exact>& placements = mCopier.placements();
    for (qsizetype i = 0; i < run.records.size(); ++i)
        run.records.at(i)->exact = placements.at(static_cast<std::size_t>(i));
    return RunChecks::bookShortfall(run, output());
}
