// Tagged collections: folders of files, and titles, order, chapters and the
// book's tags taken from what the files' own tags say.
#include "AppController.h"
#include "AudioKind.h"
#include "ArtworkWell.h"
#include "AudiobookTableView.h"
#include "ItemTableModel.h"
#include "NaturalOrder.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <algorithm>
#include <functional>

using namespace Qt::Literals::StringLiterals;

QStringList AppController::mp3FilesIn(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().toLower().contains(u"mp3"_s) || AudioKind::hasOtherExtension(path))
            files << path;
    }
    std::sort(files.begin(), files.end(),
              [](const QString& a, const QString& b) { return NaturalOrder::less(a, b); });
    return files;
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
    // Files without numbers follow those with them.
    const auto key = [](const ItemRecord& r) {
        const bool numbered = r.tags.track || r.tags.disc;
        return std::tuple(numbered ? 0 : 1, r.tags.disc.value_or(0), r.tags.track.value_or(0));
    };
    const ItemList before = TableData;
    QHash<const ItemRecord*, int> rowOf;
    mTableModel->reorderRecords(
        [&] {
            std::stable_sort(TableData.begin(), TableData.end(),
                             [&](const ItemRecordPtr& a, const ItemRecordPtr& b) {
                                 const auto ka = key(*a);
                                 const auto kb = key(*b);
                                 if (ka != kb)
                                     return ka < kb;
                                 return NaturalOrder::less(a->pathColumn, b->pathColumn);
                             });
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

namespace {

// The value that every file which has one gives; empty when they differ.
QString agreed(const ItemList& records, const std::function<QString(const SourceTags&)>& field)
{
    QString value;
    for (const ItemRecordPtr& record : records) {
        const QString v = field(record->tags);
        if (v.isEmpty())
            continue;
        if (!value.isEmpty() && v != value)
            return {};
        value = v;
    }
    return value;
}

// A cover beside the file, by the names that rippers and shops give it.
QImage coverBeside(const QString& path)
{
    const QDir folder = QFileInfo(path).dir();
    const QStringList names = folder.entryList(QDir::Files);
    for (const char* wanted : {"cover.jpg", "cover.png", "folder.jpg", "front.jpg"}) {
        for (const QString& name : names) {
            if (name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0) {
                QImage image(folder.filePath(name));
                if (!image.isNull())
                    return image;
            }
        }
    }
    return {};
}

} // namespace

// Only the empty fields are filled, each only where the files agree: what
// the user typed or chose stays.
void AppController::fillTagSheet()
{
    const auto fill = [](QLineEdit* field, const QString& value) {
        if (field->text().isEmpty() && !value.isEmpty())
            field->setText(value);
    };
    const QString bookTitle = agreed(TableData, [](const SourceTags& t) { return t.album; });
    fill(title, bookTitle);
    fill(album, bookTitle);
    const QString author = agreed(TableData, [](const SourceTags& t) { return t.artist; });
    const QString bookArtist = agreed(TableData, [](const SourceTags& t) { return t.albumArtist; });
    fill(artist, author.isEmpty() ? bookArtist : author);
    fill(albumArtist, bookArtist);
    fill(narrator, agreed(TableData, [](const SourceTags& t) { return t.composer; }));
    fill(year, agreed(TableData, [](const SourceTags& t) { return t.year; }));
    fill(series, agreed(TableData, [](const SourceTags& t) { return t.series; }));
    fill(seriesNumber, agreed(TableData, [](const SourceTags& t) { return t.seriesPart; }));
    if (bookDescription->toPlainText().isEmpty())
        bookDescription->setPlainText(
            agreed(TableData, [](const SourceTags& t) { return t.description; }));
    if (!artwork->image().isNull() || TableData.isEmpty())
        return;
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        if (!record->tags.hasCover)
            continue;
        const SourceTags::Picture picture = SourceTags::cover(record->pathColumn);
        const QImage image = QImage::fromData(picture.data);
        if (!image.isNull()) {
            artwork->setImage(image);
            return;
        }
    }
    artwork->setImage(coverBeside(TableData.first()->pathColumn));
}
