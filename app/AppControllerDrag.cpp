// Row moves within the list and files dropped on it.
#include "AppController.h"
#include "AudioKind.h"
#include "AudiobookTableView.h"
#include "ItemTableModel.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kRowMoveType = u"NSGeneralPboardType"_s;
} // namespace

bool AppController::tableViewWriteRows(AudiobookTableView*, const QList<int>& rows,
                                       QMimeData* pasteboard)
{
    if (rows.isEmpty())
        return false;
    const int row = rows.constLast();
    if (row < 0 || row >= TableData.size())
        return false;
    dragStartRow = static_cast<quint32>(row);
    pasteboard->clear();
    pasteboard->setData(kRowMoveType, TableData.at(row)->serialized());
    return true;
}

int AppController::tableViewValidateDrop(AudiobookTableView* tableView, const DraggingInfo& info,
                                         int proposedRow, int proposedDropOperation)
{
    const auto n = static_cast<unsigned>(TableData.size());
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
    const auto n = static_cast<unsigned>(TableData.size());
    if (static_cast<unsigned>(row) > n || !pasteboard)
        return false;
    if (info.draggingSource) {
        if (info.draggingSource != mainTable)
            return false;
        const auto moved = ItemRecord::deserialized(pasteboard->data(kRowMoveType));
        if (!moved || dragStartRow >= n)
            return false;
        beginChange(u"Move File"_s);
        moveRecord(static_cast<int>(dragStartRow), row, *moved);
        return true;
    }
    QStringList dropped;
    for (const QUrl& url : pasteboard->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isDir())
            dropped << mp3FilesIn(path);
        else if (AudioKind::isListed(path))
            dropped << path;
    }
    if (dropped.size() == 1 && TableData.isEmpty() && mFilesToAdd.empty() &&
        looksLikeBook(dropped.first()))
        openBookFile(dropped.first());
    else
        addFiles(dropped, false);
    return true;
}

void AppController::moveRecord(int from, int dropRow, const ItemRecord& carried)
{
    auto moved = std::make_shared<ItemRecord>(carried);
    // The record lands between the rows that stood above and below the drop;
    // the selection keeps its row numbers.
    mTableModel->reorderRecords([&] {
        TableData.removeAt(from);
        TableData.insert(dropRow > from ? dropRow - 1 : dropRow, std::move(moved));
    });
}

void AppController::moveRowUp(QObject*)
{
    moveSelectedRow(-1);
}

void AppController::moveRowDown(QObject*)
{
    moveSelectedRow(1);
}

// The row moves as a drag would move it, and the selection goes with it, so
// that the next press moves it on.
void AppController::moveSelectedRow(int offset)
{
    if (!atLeastOneSelected())
        return;
    const int row = mainTable->selectedRow();
    const int target = row + offset;
    if (row < 0 || target < 0 || target >= TableData.size())
        return;
    beginChange(u"Move File"_s);
    // moveRecord copies the record before it removes it from the list.
    moveRecord(row, offset > 0 ? target + 1 : target, *TableData.at(row));
    mainTable->selectRowIndexes({target}, false);
    mainTable->scrollTo(mTableModel->index(target, titleColumn.index));
}
