#include "AudiobookTableView.h"

#include "DraggingInfo.h"
#include "TableDataSource.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

AudiobookTableView::AudiobookTableView(QWidget* parent) : QTableView(parent)
{
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(38);
    horizontalHeader()->setHighlightSections(false);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
}

void AudiobookTableView::registerForDraggedTypes(const QStringList& types)
{
    mDraggedTypes = types;
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

void AudiobookTableView::setDropRow(int row, int dropOperation)
{
    mDropRow = row;
    mDropOperation = dropOperation;
    viewport()->update();
}

void AudiobookTableView::clearDropRow()
{
    setDropRow(-1, DropOperation::Above);
}

void AudiobookTableView::startDrag(Qt::DropActions)
{
    const QList<int> rows = selectedRowIndexes();
    if (rows.isEmpty() || !mDataSource)
        return;
    auto mime = std::make_unique<QMimeData>();
    if (!mDataSource->tableViewWriteRows(this, rows, mime.get()))
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(mime.release());
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
}

// The position under the pointer: above a row near its edges, on it in its middle.
bool AudiobookTableView::validate(QDropEvent* event)
{
    if (!mDataSource)
        return false;
    const QMimeData* mime = event->mimeData();
    const bool carriesOurType =
        std::any_of(mDraggedTypes.begin(), mDraggedTypes.end(),
                    [mime](const QString& t) { return mime->hasFormat(t); });
    if (!carriesOurType)
        return false;
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    int row = model() ? model()->rowCount() : 0;
    int operation = DropOperation::Above;
    if (index.isValid()) {
        const QRect rect = visualRect(index);
        row = index.row();
        if (pos.y() > rect.bottom() - rect.height() / 4)
            row += 1;
        else if (pos.y() >= rect.top() + rect.height() / 4)
            operation = DropOperation::On;
    }
    setDropRow(row, operation);
    const DraggingInfo info{.draggingSource = event->source(), .draggingPasteboard = mime};
    const int answer = mDataSource->tableViewValidateDrop(this, info, row, operation);
    if (answer == DragOperation::None) {
        clearDropRow();
        return false;
    }
    event->setDropAction(answer == DragOperation::Move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
    return true;
}

void AudiobookTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!validate(event))
        event->ignore();
}

void AudiobookTableView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!validate(event))
        event->ignore();
}

void AudiobookTableView::dragLeaveEvent(QDragLeaveEvent* event)
{
    clearDropRow();
    event->accept();
}

void AudiobookTableView::dropEvent(QDropEvent* event)
{
    const int row = mDropRow;
    const int operation = mDropOperation;
    clearDropRow();
    if (!mDataSource || row < 0)
        return;
    const DraggingInfo info{.draggingSource = event->source(),
                            .draggingPasteboard = event->mimeData()};
    if (mDataSource->tableViewAcceptDrop(this, info, row, operation)) {
        event->setDropAction(event->source() == this ? Qt::MoveAction : Qt::CopyAction);
        event->accept();
    }
}

int AudiobookTableView::selectedRow() const
{
    const QItemSelectionModel* selection = selectionModel();
    if (!selection)
        return -1;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), {}))
        return current.row();
    const QList<int> rows = selectedRowIndexes();
    return rows.isEmpty() ? -1 : rows.constLast();
}

QList<int> AudiobookTableView::selectedRowIndexes() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void AudiobookTableView::selectRowIndexes(const QList<int>& rows, bool byExtendingSelection)
{
    QItemSelectionModel* selection = selectionModel();
    if (!selection || !model())
        return;
    QItemSelection wanted;
    for (int row : rows) {
        if (row >= 0 && row < model()->rowCount())
            wanted.select(model()->index(row, 0), model()->index(row, model()->columnCount() - 1));
    }
    const auto flags =
        (byExtendingSelection ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
        QItemSelectionModel::Rows;
    selection->select(wanted, flags);
    if (!rows.isEmpty() && rows.constLast() >= 0 && rows.constLast() < model()->rowCount())
        selection->setCurrentIndex(model()->index(rows.constLast(), 0),
                                   QItemSelectionModel::NoUpdate);
}

void AudiobookTableView::deselectAll()
{
    if (selectionModel())
        selectionModel()->clearSelection();
}

void AudiobookTableView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (mDropRow >= 0) {
        // Where the drop will land: a line between two rows.
        QPainter painter(viewport());
        const int rows = model() ? model()->rowCount() : 0;
        int y = 0;
        if (mDropRow < rows)
            y = visualRect(model()->index(mDropRow, 0)).top();
        else if (rows > 0)
            y = visualRect(model()->index(rows - 1, 0)).bottom();
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawLine(0, y, viewport()->width(), y);
    }
    if (model() && model()->rowCount() > 0)
        return;
    // An empty list tells the user how to fill it.
    QPainter painter(viewport());
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 1.15);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(24, 24, -24, -24),
                     Qt::AlignCenter | Qt::TextWordWrap,
                     u"No files yet.\nAdd MP3 files with “Add Files…”, or drop them here."_s);
}
