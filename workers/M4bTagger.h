#pragma once

#include "M4bTaggerDelegate.h"
#include "ToolRunner.h"

#include <QString>

// Writes the tags, the cover art and the genre "Audiobook" into an AAC file
// with AtomicParsley on a thread of its own. With nothing to write it copies
// the file and reports at once. The tags that audiobook players read beyond
// those (narrator, year, description, series, and the media kind) follow
// the others on the command line.
class M4bTagger
{
public:
    ~M4bTagger();

    void setDelegate(M4bTaggerDelegate* delegate) { mDelegate = delegate; }
    void setInputPath(const QString& path) { mInputPath = path; }
    void setOutputPath(const QString& path) { mOutputPath = path; }
    void setTitle(const QString& value) { mTitle = value; }
    void setArtist(const QString& value) { mArtist = value; }
    void setAlbum(const QString& value) { mAlbum = value; }
    void setAlbumArtist(const QString& value) { mAlbumArtist = value; }
    void setComment(const QString& value) { mComment = value; }
    void setArtwork(const QString& path) { mArtwork = path; }
    void setNarrator(const QString& value) { mNarrator = value; }
    void setYear(const QString& value) { mYear = value; }
    void setDescription(const QString& value) { mDescription = value; }
    void setSeries(const QString& name, const QString& number)
    {
        mSeries = name;
        mSeriesNumber = number;
    }
    // Marks the file as an audiobook, where players file it.
    void setAudiobook(bool audiobook) { mAudiobook = audiobook; }
    [[nodiscard]] const QString& artwork() const { return mArtwork; }

    void startTagging();
    void terminateTagging();

    // True when no tag value is given.
    [[nodiscard]] bool nothingToTag() const;
    [[nodiscard]] QString command() const;

private:
    void checkProgressFromStdin(ToolProcess& process, M4bTaggerDelegate* delegate);

    M4bTaggerDelegate* mDelegate = nullptr;
    QString mInputPath;
    QString mOutputPath;
    QString mTitle;
    QString mArtist;
    QString mAlbum;
    QString mAlbumArtist;
    QString mComment;
    QString mArtwork;
    QString mNarrator;
    QString mYear;
    QString mDescription;
    QString mSeries;
    QString mSeriesNumber;
    bool mAudiobook = false;
    ToolRunner mRunner;
};
