// The item list: adding, removing, sorting, retitling and moving the
// source files, files dropped on the list, and what the list tells of them.
#include "AppController.h"
#include "AudioKind.h"
#include "AudioPreview.h"
#include "AudiobookTableView.h"
#include "BookActions.h"
#include "BookFiles.h"
#include "DiskSpace.h"
#include "DraftBook.h"
#include "FileLister.h"
#include "ItemTableModel.h"
#include "ListEditor.h"
#include "OutputSheet.h"
#include "SheetDialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMimeData>
#include <QProgressBar>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kRowMoveType = u"NSGeneralPboardType"_s;
} // namespace

const ItemList& AppController::tableData() const
{
    return mDraft->files();
}

bool AppController::sortAscending() const
{
    return mLister->sortAscending();
}

void AppController::setSortAscending(bool ascending)
{
    mLister->setSortAscending(ascending);
}

void AppController::createItem(const QString& path)
{
    mLister->add({path}, false, u"Add File"_s);
}

void AppController::selectListed(const QString& path)
{
    const ItemList& files = mDraft->files();
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (files.at(i)->pathColumn == path) {
            mainTable->selectRowIndexes({static_cast<int>(i)}, false);
            return;
        }
    }
}

void AppController::addRow(QObject*)
{
    const OpenPanelSpec panel{.title = u"Add MP3 Files"_s,
                              .allowsMultipleSelection = true,
                              .canCreateDirectories = false,
                              .fileTypes = QStringList{u"mp3"_s} + AudioKind::otherExtensions(),
                              .choosesFolders = false};
    mServices.dialogs->beginOpenPanelSheet(mainWindow, panel,
                                           [this](int returnCode, const QStringList& filenames) {
                                               openPanelDidEnd(returnCode, filenames);
                                           });
}

void AppController::openPanelDidEnd(int returnCode, const QStringList& filenames)
{
    if (returnCode == 1)
        addFiles(filenames, false);
}

void AppController::applicationOpenFiles(const QStringList& filenames)
{
    if (filenames.size() == 1 && mDraft->files().isEmpty() && !mLister->isAdding() &&
        QFileInfo(filenames.first()).isFile() && BookActions::looksLikeBook(filenames.first())) {
        mBookActions->openBookFile(filenames.first());
        return;
    }
    QStringList files;
    for (const QString& path : filenames) {
        if (QFileInfo(path).isDir())
            files << BookFiles::audioFilesIn(path);
        else if (AudioKind::isListed(path))
            files << path;
    }
    addFiles(files, true);
}

void AppController::addFiles(const QStringList& paths, bool sortWhenAdded)
{
    mLister->add(paths, sortWhenAdded, paths.size() == 1 ? u"Add File"_s : u"Add Files"_s);
}

void AppController::deleteRow(QObject*)
{
    if (!atLeastOneSelected())
        return;
    const int row = mainTable->selectedRow();
    if (row < 0 || row >= mDraft->files().size())
        return;
    mPreview->stopIfLeaving(mDraft->files().at(row)->pathColumn);
    ListEditor(*mDraft).remove(row);
    mainTable->deselectAll();
    mPreview->validatePlaybackButtons();
}

void AppController::clearAllItems(QObject*)
{
    if (!atLeastOneAdded())
        return;
    mPreview->stop();
    ListEditor(*mDraft).clear();
    mPreview->validatePlaybackButtons();
}

void AppController::autoSort(QObject*)
{
    mLister->sortByPath();
}

bool AppController::atLeastOneAdded() const
{
    return !mDraft->files().isEmpty();
}

bool AppController::atLeastOneSelected() const
{
    return !mainTable->selectedRowIndexes().isEmpty();
}

int AppController::numberOfRowsInTableView(const AudiobookTableView*) const
{
    return static_cast<int>(mDraft->files().size());
}

QVariant AppController::tableViewObjectValueForTableColumn(const AudiobookTableView*,
                                                           const TableColumn& column, int row) const
{
    if (row < 0 || row >= mDraft->files().size())
        return {};
    return mDraft->files().at(row)->valueForKey(column.identifier);
}

void AppController::tableViewSetObjectValue(AudiobookTableView*, const QVariant& value,
                                            const TableColumn&, int row)
{
    ListEditor(*mDraft).retitle(row, value.toString());
}

bool AppController::tableViewWriteRows(AudiobookTableView*, const QList<int>& rows,
                                       QMimeData* pasteboard)
{
    if (rows.isEmpty())
        return false;
    const int row = rows.constLast();
    if (row < 0 || row >= mDraft->files().size())
        return false;
    dragStartRow = static_cast<quint32>(row);
    pasteboard->clear();
    pasteboard->setData(kRowMoveType, mDraft->files().at(row)->serialized());
    return true;
}

int AppController::tableViewValidateDrop(AudiobookTableView* tableView, const DraggingInfo& info,
                                         int proposedRow, int proposedDropOperation)
{
    const auto n = static_cast<unsigned>(mDraft->files().size());
    if (static_cast<unsigned>(proposedRow) > n)
        return DragOperation::None;
    if (!info.draggingSource) {
        tableView->setDropRow(static_cast<int>(n), DropOperation::Above);
        return DragOperation::Copy;
    }
    if (info.draggingSource != mainTable)
        return DragOperation::None;
    if (proposedDropOperation == DropOperation::On)
        tableView->setDropRow(proposedRow + 1, DropOperation::Above);
    return DragOperation::Move;
}

bool AppController::tableViewAcceptDrop(AudiobookTableView*, const DraggingInfo& info, int row, int)
{
    const QMimeData* pasteboard = info.draggingPasteboard;
    const auto n = static_cast<unsigned>(mDraft->files().size());
    if (static_cast<unsigned>(row) > n || !pasteboard)
        return false;
    if (info.draggingSource) {
        if (info.draggingSource != mainTable)
            return false;
        const auto moved = ItemRecord::deserialized(pasteboard->data(kRowMoveType));
        if (!moved || dragStartRow >= n)
            return false;
        ListEditor(*mDraft).move(static_cast<int>(dragStartRow), row, *moved);
        return true;
    }
    QStringList dropped;
    for (const QUrl& url : pasteboard->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isDir())
            dropped << BookFiles::audioFilesIn(path);
        else if (AudioKind::isListed(path))
            dropped << path;
    }
    if (dropped.size() == 1 && mDraft->files().isEmpty() && !mLister->isAdding() &&
        BookActions::looksLikeBook(dropped.first()))
        mBookActions->openBookFile(dropped.first());
    else
        addFiles(dropped, false);
    return true;
}

// The row moves as a drag would move it, and the selection goes with it, so
// that the next press moves it on.
void AppController::moveSelectedRow(int offset)
{
    if (!atLeastOneSelected())
        return;
    const int row = mainTable->selectedRow();
    const int target = row + offset;
    if (row < 0 || target < 0 || target >= mDraft->files().size())
        return;
    ListEditor(*mDraft).move(row, offset > 0 ? target + 1 : target, *mDraft->files().at(row));
    mainTable->selectRowIndexes({target}, false);
    mainTable->scrollTo(mTableModel->index(target, titleColumn.index));
}

void AppController::showListSummary()
{
    const ItemList& files = mDraft->files();
    const bool reading = mLister->isAdding() || !mDraft->allRead();
    const qsizetype count = files.size();
    if (mBookActions->isBusy())
        return;
    if (count == 0) {
        listSummary->setText(u"No files"_s);
        return;
    }
    const double seconds = mDraft->length();
    QString text = (count == 1 ? u"1 file"_s : u"%1 files"_s.arg(count)) + u" \u00b7 "_s +
                   ItemRecord::formatLength(seconds);
    if (reading) {
        text += u" so far, reading lengths\u2026"_s;
    } else {
        // ffmpeg's bit rate is the whole stream's, whatever the channels.
        const std::optional<int> chosen = mOutputSheet->kbps();
        const int kbps = chosen ? *chosen : files.first()->bitrateColumn.toInt();
        if (kbps > 0 && seconds > 0)
            text += u" \u00b7 about %1 as AAC"_s.arg(DiskSpace::roundedSize(seconds * kbps * 1000 / 8));
    }
    const bool book = mDraft->bookIsOpen();
    if (book && !mBookActions->note().isEmpty())
        text = mBookActions->note() + u" \u00b7 "_s + text;
    else if (book && !reading)
        text += u" \u00b7 opened as a book: Save Book (Ctrl+S) writes its chapters and tags "
                "into it"_s;
    listSummary->setText(text);
}

// While a run goes, the window title shows its progress.
void AppController::showProgressInTitle()
{
    const int span = joinProgressIndicator->maximum() - joinProgressIndicator->minimum();
    if (!joinProgressWindow->isVisible() || span <= 0) {
        const auto& opened = mDraft->openedBook();
        mainWindow->setWindowTitle(mDraft->bookIsOpen() ? QFileInfo(opened->path).fileName() +
                                                              u" \u2014 Fablewick"_s
                                                        : u"Fablewick"_s);
        return;
    }
    const int percent =
        (joinProgressIndicator->value() - joinProgressIndicator->minimum()) * 100 / span;
    mainWindow->setWindowTitle(u"Fablewick \u2014 %1 %"_s.arg(percent));
}
