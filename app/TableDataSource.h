#pragma once

#include "DraggingInfo.h"
#include "TableColumn.h"

#include <QList>
#include <QVariant>

class AudiobookTableView;
class QMimeData;

// What the main table asks of the item list.
class TableDataSource
{
public:
    virtual ~TableDataSource() = default;
    [[nodiscard]] virtual int
    numberOfRowsInTableView(const AudiobookTableView* tableView) const = 0;
    [[nodiscard]] virtual QVariant
    tableViewObjectValueForTableColumn(const AudiobookTableView* tableView,
                                       const TableColumn& column, int row) const = 0;
    virtual void tableViewSetObjectValue(AudiobookTableView* tableView, const QVariant& value,
                                         const TableColumn& column, int row) = 0;

    // Row moves and file drops.
    virtual bool tableViewWriteRows(AudiobookTableView* tableView, const QList<int>& rows,
                                    QMimeData* pasteboard) = 0;
    virtual int tableViewValidateDrop(AudiobookTableView* tableView, const DraggingInfo& info,
                                      int proposedRow, int proposedDropOperation) = 0;
    virtual bool tableViewAcceptDrop(AudiobookTableView* tableView, const DraggingInfo& info,
                                     int row, int dropOperation) = 0;
};
