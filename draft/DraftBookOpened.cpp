// The draft's tags, filled from its files, and the finished book opened in
// it, whose tags and chapters a save is measured against.
#include "DraftBook.h"

#include "SourceTags.h"

#include <QFileInfo>
#include <QImage>

using namespace Qt::Literals::StringLiterals;

void DraftBook::fillTagsFromFiles(bool asEdit)
{
    BookTag tags = mTags;
    const BookTag files = BookFiles::agreedTags(mFiles);
    for (QString BookTag::*field :
         {&BookTag::title, &BookTag::album, &BookTag::artist, &BookTag::albumArtist,
          &BookTag::narrator, &BookTag::year, &BookTag::series, &BookTag::seriesNumber,
          &BookTag::description}) {
        if ((tags.*field).isEmpty())
            tags.*field = files.*field;
    }
    if (tags.cover.isEmpty()) {
        const QImage cover = BookFiles::agreedCover(mFiles);
        if (!cover.isNull()) {
            tags.cover = BookFiles::coverJpeg(cover);
            tags.coverMimeType = u"image/jpeg"_s;
        }
    }
    if (asEdit)
        edit(u"Fill from Files"_s, [&tags](Edit& edit) { edit.setTags(tags); });
    else if (tags.differencesFrom(mTags) & ~BookTag::Fields(BookTag::Field::Chapters))
        replaceTags(tags);
}

// The opened book ---------------------------------------------------------

void DraftBook::openBook(const ItemRecordPtr& record)
{
    edit(u"Open Book"_s, [&record](Edit& edit) {
        edit.remove(0, static_cast<int>(edit.book().files().size()));
        edit.setTags({});
        edit.insert(0, {record});
    });
    mBook = OpenedBook{.path = record->pathColumn, .read = {}, .tagsRead = false};
    if (record->lengthRead)
        takeBookTags();
}

bool DraftBook::bookIsOpen() const
{
    return mBook && mFiles.size() == 1 && mFiles.first()->pathColumn == mBook->path;
}

// The book's own tags, as the sheet shows them, become the draft's: what a
// save is measured against.
void DraftBook::takeBookTags()
{
    const ItemRecord& record = *mFiles.first();
    const SourceTags& own = record.tags;
    BookTag tags;
    tags.title = own.title.isEmpty() ? own.album : own.title;
    tags.artist = own.artist;
    tags.album = own.album;
    tags.albumArtist = own.albumArtist;
    tags.narrator = own.composer;
    tags.year = own.year;
    tags.comment = own.comment;
    tags.series = own.series;
    tags.seriesNumber = own.seriesPart;
    tags.description = own.description;
    if (own.hasCover) {
        const SourceTags::Picture picture = SourceTags::cover(record.pathColumn);
        // A cover that does not decode is not shown, and kept as it is.
        if (!QImage::fromData(picture.data).isNull()) {
            tags.cover = picture.data;
            tags.coverMimeType = picture.mimeType;
        }
    }
    replaceTags(tags);
    mBook->read = tags;
    mBook->read.chapters = bookChapters();
    mBook->tagsRead = true;
}

BookTag DraftBook::bookEdits() const
{
    BookTag tag = mTags;
    tag.chapters = bookChapters();
    tag.written = mBook ? tag.differencesFrom(mBook->read) : BookTag::kEveryField;
    return tag;
}

void DraftBook::bookSaved(const QString& path, const BookTag& saved)
{
    if (!bookIsOpen())
        return;
    const ItemRecordPtr& record = mFiles.first();
    mPaths.remove(record->pathColumn);
    record->pathColumn = QFileInfo(path).absoluteFilePath();
    mPaths.insert(record->pathColumn);
    mBook->path = record->pathColumn;
    mBook->read = saved;
    mBook->read.written = BookTag::kEveryField;
    forgetDetails(0);
}

