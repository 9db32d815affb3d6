// Tagged collections: folders of files, and titles, order, chapters and the
// book's tags taken from what the files' own tags say.
#include "AppController.h"
#include "BookFiles.h"
#include "ArtworkWell.h"
#include "AudiobookTableView.h"
#include "ItemTableModel.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

QStringList AppController::mp3FilesIn(const QString& folder)
{
    return BookFiles::audioFilesIn(folder);
}

void AppController::addFolder(QObject*)
{
    const OpenPanelSpec panel{.title = u"Add a Folder of MP3 Files"_s,
                              .allowsMultipleSelection = false,
                              .canCreateDirectories = false,
                              .fileTypes = {},
                              .choosesFolders = true};
    mServices.dialogs->beginOpenPanelSheet(mainWindow, panel,
                                           [this](int returnCode, const QStringList& folders) {
                                               if (returnCode != 1)
                                                   return;
                                               QStringList files;
                                               for (const QString& folder : folders)
                                                   files << mp3FilesIn(folder);
                                               addFiles(files, false);
                                           });
}

void AppController::titlesFromTags(QObject*)
{
    beginChange(u"Titles from Tags"_s);
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        if (!record->tags.title.isEmpty())
            record->titleColumn = record->tags.title;
    }
    mTableModel->recordsChanged();
}

void AppController::titlesFromFileNames(QObject*)
{
    beginChange(u"Titles from File Names"_s);
    for (const ItemRecordPtr& record : std::as_const(TableData))
        record->titleColumn = ItemRecord::titleForPath(record->pathColumn);
    mTableModel->recordsChanged();
}

void AppController::sortByTrack(QObject*)
{
    beginChange(u"Sort by Track"_s);
    const ItemList before = TableData;
    QHash<const ItemRecord*, int> rowOf;
    mTableModel->reorderRecords(
        [&] {
            std::stable_sort(TableData.begin(), TableData.end(), BookFiles::byTrack);
            for (qsizetype i = 0; i < TableData.size(); ++i)
                rowOf.insert(TableData.at(i).get(), static_cast<int>(i));
        },
        [&](int oldRow) { return rowOf.value(before.at(oldRow).get(), oldRow); });
}

void AppController::joinWithPreviousChapter(QObject*)
{
    beginChange(u"Join with Previous Chapter"_s);
    QList<int> rows;
    for (const int row : mainTable->selectedRowIndexes()) {
        // The first file has no chapter above it to continue.
        if (row > 0 && row < TableData.size())
            rows << row;
    }
    if (rows.isEmpty())
        return;
    const bool allJoined = std::all_of(rows.begin(), rows.end(), [this](int row) {
        return TableData.at(row)->continuesChapter();
    });
    for (const int row : std::as_const(rows)) {
        ItemRecord& record = *TableData.at(row);
        QList<ChapterMark> starts = record.chapterStarts();
        if (allJoined)
            starts.prepend(ChapterMark{});
        else if (!record.continuesChapter())
            starts.removeFirst();
        record.editedChapters = starts;
    }
    mTableModel->recordsChanged();
}

bool AppController::tagSheetIsEmpty() const
{
    for (const QLineEdit* field :
         {title, artist, album, albumArtist, comment, narrator, year, series, seriesNumber}) {
        if (!field->text().isEmpty())
            return false;
    }
    return bookDescription->toPlainText().isEmpty() && artwork->image().isNull();
}

void AppController::fillFromFiles(QObject*)
{
    fillTagSheet();
}

// Only the empty fields are filled, each only where the files agree: what
// the user typed or chose stays.
void AppController::fillTagSheet()
{
    const auto fill = [](QLineEdit* field, const QString& value) {
        if (field->text().isEmpty() && !value.isEmpty())
            field->setText(value);
    };
    const BookTag files = BookFiles::agreedTags(TableData);
    fill(title, files.title);
    fill(album, files.album);
    fill(artist, files.artist);
    fill(albumArtist, files.albumArtist);
    fill(narrator, files.narrator);
    fill(year, files.year);
    fill(series, files.series);
    fill(seriesNumber, files.seriesNumber);
    if (bookDescription->toPlainText().isEmpty())
        bookDescription->setPlainText(files.description);
    if (artwork->image().isNull())
        artwork->setImage(BookFiles::agreedCover(TableData));
}
