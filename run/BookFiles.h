#pragma once

#include "BookTag.h"
#include "ChapterMark.h"
#include "ItemRecord.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <optional>

// What the window and the command line both do with a book's files: find
// them in folders, read their details, order them, agree on the book's tags
// from theirs, and place a chapter file's chapters across them.
namespace BookFiles {

// The audio files inside a folder and its subfolders, in natural order.
[[nodiscard]] QStringList audioFilesIn(const QString& folder);

// What a file's record learns when its details are read, off the GUI thread.
struct Details
{
    QString bitrate;
    QString frequency;
    QString problem;
    std::optional<double> length;
    SourceTags tags;
    QList<ItemRecord::InnerChapter> chapters;
    std::optional<ItemRecord::CopyableAac> aac;
    QString chapterNote;
};
// Reads them: mp3info runs once for an MP3, ffprobe once for other audio,
// and a long file without an Info frame is read through.
[[nodiscard]] Details readDetails(const QString& path);
void apply(const Details& details, ItemRecord& record);
// A new record of the file, its details read now.
[[nodiscard]] ItemRecordPtr recordOf(const QString& path);

// Disc, then track, then the path in natural order; files without numbers
// follow those with them.
[[nodiscard]] bool byTrack(const ItemRecordPtr& a, const ItemRecordPtr& b);

// The tags on which every file that has one agrees, as the tag sheet takes
// them: the album is the book's title too.
[[nodiscard]] BookTag agreedTags(const ItemList& records);
// The first file's cover that decodes, else a cover image beside the first file.
[[nodiscard]] QImage agreedCover(const ItemList& records);
// As JPEG, which has no transparency: transparent parts become white.
[[nodiscard]] QByteArray coverJpeg(const QImage& image);

// A chapter file's chapters, or why it cannot be the book's, in words:
// unreadable, past the book's end, out of order.
[[nodiscard]] ChapterMarks readChapterFile(const QString& path, const ItemList& records,
                                           QString& problem);
// The chapters that start in each record's file, each in the file that
// plays at its time in the book.
[[nodiscard]] QList<QList<ChapterMark>> placeChapters(const ItemList& records,
                                                      const ChapterMarks& chapters);

} // namespace BookFiles
