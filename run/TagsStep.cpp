#include "TagsStep.h"

#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

QString TagsStep::during() const
{
    return u"While writing the tags"_s;
}

void TagsStep::startWorker(RunWork& run, const QString& folder, const QString& input, Reports reports)
{
    mBookmark = run.request.format == BookFormat::AacBookmark;
    mOutput = folder + (mBookmark ? u"/m4b-tagged.m4b"_s : u"/m4a-tagged.m4a"_s);
    const BookTag& tags = run.request.tags;
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
    reports.tell(0, 0, u"Creating iTunes tags.."_s);
    mTagger.startTagging(std::move(reports));
}
