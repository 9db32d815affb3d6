#include "JoinStep.h"

using namespace Qt::Literals::StringLiterals;

QString JoinStep::during() const
{
    return u"While joining the files"_s;
}

void JoinStep::startWorker(RunWork& run, const QString& folder, const QString&, Reports reports)
{
    mFolder = folder;
    mJoiner.setJoinFiles(run.records);
    mJoiner.setOutputFolder(folder);
    mJoiner.setOutputFile(u"mp3"_s);
    reports.tell(0, static_cast<double>(run.records.size()));
    mJoiner.startJoin(std::move(reports));
}

QString JoinStep::settle(RunWork&)
{
    mJoiner.recordLengths();
    return {};
}
