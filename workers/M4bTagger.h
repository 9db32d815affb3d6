#pragma once

#include "WorkerReports.h"
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

    // Returns at once; the tool's progress (of 100) and the end are reported
    // from its thread, or at once when there is nothing to tag.
    void startTagging(const WorkerReports& reports);
    void terminateTagging();

    // True when no tag value is given.
    [[nodiscard]] bool nothingToTag() const;
    [[nodiscard]] QString command() const;

private:
    static void checkProgressFromStdin(ToolProcess& process, const WorkerReports& reports);

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
