#pragma once

#include "TableColumn.h"

#include <QAbstractTableModel>
#include <QList>

class AudiobookTableView;
class TableDataSource;

// The main table's model: it holds no data and answers from the data source.
class ItemTableModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    ItemTableModel(QList<TableColumn> columns, AudiobookTableView* view, QObject* parent);

    void setDataSource(TableDataSource* dataSource);
    [[nodiscard]] const QList<TableColumn>& columns() const { return mColumns; }
    [[nodiscard]] TableColumn column(const QString& identifier) const;

    // Shows the data source's current rows. Row numbers keep their selection,
    // as a table reload does: only rows past the new end leave it.
    void reloadData();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<TableColumn> mColumns;
    AudiobookTableView* mView;
    TableDataSource* mDataSource = nullptr;
    int mShownRows = 0;
};
