#pragma once

#include "TableColumn.h"

#include <QVariant>

class AudiobookTableView;

// What the main table asks of the item list.
class TableDataSource
{
public:
    virtual ~TableDataSource() = default;
    [[nodiscard]] virtual int numberOfRowsInTableView(const AudiobookTableView* tableView) const = 0;
    [[nodiscard]] virtual QVariant tableViewObjectValueForTableColumn(
        const AudiobookTableView* tableView, const TableColumn& column, int row) const = 0;
    virtual void tableViewSetObjectValue(AudiobookTableView* tableView, const QVariant& value,
                                         const TableColumn& column, int row) = 0;
};
