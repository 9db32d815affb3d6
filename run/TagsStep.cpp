#include "TagsStep.h"

#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

QString TagsStep::during() const
{
    return u"While writing the tags"_s;
}

void TagsStep::start(RunRequest& run, const QString& folder, const QString& input, Reports reports)
{
    mReports = std::move(reports);
    mBookmark = run.format == BookFormat::AacBookmark;
    mOutput = folder + (mBookmark ? u"/m4b-tagged.m4b"_s : u"/m4a-tagged.m4a"_s);
    const BookTag& tags = run.tags;
    mTagger.setArtist(tags.artist);
    mTagger.setTitle(tags.title);
    mTagger.setAlbum(tags.album);
    mTagger.setAlbumArtist(tags.albumArtist);
    mTagger.setComment(tags.comment);
    mTagger.setNarrator(tags.narrator);
    mTagger.setYear(tags.year);
    mTagger.setDescription(tags.description);
    mTagger.setSeries(tags.series, tags.seriesNumber);
    mTagger.setAudiobook(mBookmark);
    mTagger.setDelegate(this);
    QString art;
    if (!tags.cover.isEmpty()) {
        art = folder + u"/art1.jpg"_s;
        QSaveFile file(art);
        // A cover that cannot be written is left out rather than failing the book.
        if (!file.open(QIODevice::WriteOnly) || file.write(tags.cover) != tags.cover.size() ||
            !file.commit())
            art.clear();
    }
    mTagger.setArtwork(art);
    mTagger.setInputPath(input);
    mTagger.setOutputPath(mOutput);
    mReports.progress(0, 0, u"Creating iTunes tags.."_s);
    mTagger.startTagging();
}

void TagsStep::M4bTaggerProgress(double value, const QString& description)
{
    mReports.progress(value, 100, description);
}

void TagsStep::M4bTaggerDidFinish(M4bTagger*, std::exception_ptr convertException)
{
    mReports.finished(convertException);
}
