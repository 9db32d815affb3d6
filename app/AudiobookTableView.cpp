#include "AudiobookTableView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

AudiobookTableView::AudiobookTableView(QWidget* parent) : QTableView(parent)
{
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(38);
    horizontalHeader()->setHighlightSections(false);
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
            wanted.select(model()->index(row, 0),
                          model()->index(row, model()->columnCount() - 1));
    }
    const auto flags = (byExtendingSelection ? QItemSelectionModel::Select
                                             : QItemSelectionModel::ClearAndSelect) |
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
