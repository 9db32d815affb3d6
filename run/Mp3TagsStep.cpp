#include "Mp3TagsStep.h"

#include "ChapterList.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

QString Mp3TagsStep::during() const
{
    return u"While writing the tags"_s;
}

void Mp3TagsStep::start(RunRequest& run, const QString& folder, const QString& input,
                        Reports reports)
{
    // With nothing joined there is nothing to tag; delivery says so.
    if (!QFileInfo::exists(input)) {
        mOutput = input;
        reports.finished({});
        return;
    }
    mOutput = folder + u"/mp3-tagged.mp3"_s;
    BookTag tag = run.tags;
    tag.chapters = ChapterList::mp3Chapters(run.records);
    mTagger.setInputPath(input);
    mTagger.setOutputPath(mOutput);
    mTagger.setTag(tag);
    reports.progress(0, 0, u"Writing the tags and chapters.."_s);
    mTagger.startTagging(
        [finished = std::move(reports.finished)](
            Mp3BookTagger*, const std::exception_ptr& failure) { finished(failure); });
}
