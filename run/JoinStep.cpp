#include "JoinStep.h"

using namespace Qt::Literals::StringLiterals;

QString JoinStep::during() const
{
    return u"While joining the files"_s;
}

void JoinStep::start(RunRequest& run, const QString& folder, const QString&, Reports reports)
{
    mReports = std::move(reports);
    mFolder = folder;
    mJoiner.setJoinFiles(run.records);
    mJoiner.setOutputFolder(folder);
    mJoiner.setOutputFile(u"mp3"_s);
    mJoiner.setDelegate(this);
    mReports.progress(0, static_cast<double>(run.records.size()), QString());
    mJoiner.startJoin();
}

QString JoinStep::settle(RunRequest&)
{
    mJoiner.recordLengths();
    return {};
}

void JoinStep::mp3JoinProgress(int index, int totalFiles)
{
    mReports.progress(index + 1, totalFiles,
                      u"Joining file %1 of %2..."_s.arg(index + 1).arg(totalFiles));
}

void JoinStep::mp3JoinDidFinish(Mp3Joiner*, std::exception_ptr joinException)
{
    mReports.finished(joinException);
}
