#include "ChaptersStep.h"

using namespace Qt::Literals::StringLiterals;

QString ChaptersStep::during() const
{
    return u"While writing the chapters"_s;
}

void ChaptersStep::startWorker(RunWork& run, const QString& folder, const QString& input,
                         Reports reports)
{
    mFolder = folder;
    mWriter.setOutputFolder(folder);
    mWriter.setOutputFile(u"m4b"_s);
    mWriter.setAudioFilePath(input);
    // The chapters are those of the files in the run; files listed since wait for the next.
    mWriter.setViewFiles(run.records);
    reports.tell(0, 0, u"Writing Bookmarks.."_s);
    mWriter.startChapter(std::move(reports));
}
