#include "Mp3TagsStep.h"

#include "ChapterList.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

QString Mp3TagsStep::during() const
{
    return u"While writing the tags"_s;
}

void Mp3TagsStep::startWorker(RunWork& run, const QString& folder, const QString& input,
                        Reports reports)
{
    // With nothing joined there is nothing to tag; delivery says so.
    if (!QFileInfo::exists(input)) {
        mOutput = input;
        reports.end({});
        return;
    }
    mOutput = folder + u"/mp3-tagged.mp3"_s;
    BookTag tag = run.request.tags;
    tag.chapters = ChapterList::mp3Chapters(run.records);
    mTagger.setInputPath(input);
    mTagger.setOutputPath(mOutput);
    mTagger.setTag(tag);
    reports.tell(0, 0, u"Writing the tags and chapters.."_s);
    mTagger.startTagging(std::move(reports));
}
