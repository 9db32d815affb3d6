#pragma once

#include "TableColumn.h"

#include <QAbstractTableModel>
#include <QList>
#include <functional>

class AudiobookTableView;
class TableDataSource;

// The main table's model: it holds no data and answers from the data source.
class ItemTableModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Whether a row continues the chapter of the row above.
    static constexpr int ContinuesChapterRole = Qt::UserRole + 1;

    ItemTableModel(QList<TableColumn> columns, AudiobookTableView* view, QObject* parent);

    void setDataSource(TableDataSource* dataSource);
    [[nodiscard]] const QList<TableColumn>& columns() const { return mColumns; }
    [[nodiscard]] TableColumn column(const QString& identifier) const;

    // Every change of the list goes through one of these, which make it and
    // tell the view what changed, so that the selection and the scroll
    // position survive it.
    void insertRecord(int row, const std::function<void()>& insert);
    void insertRecords(int row, int count, const std::function<void()>& insert);
    void removeRecord(int row, const std::function<void()>& remove);
    void removeAllRecords(const std::function<void()>& clear);
    // Another list altogether, as Undo puts back.
    void resetRecords(const std::function<void()>& replace);
    // The records' values changed, the list did not.
    void recordsChanged();
    void recordChanged(int row);
    // A new order of the same records. With newRowOf (where each old row now
    // stands) the selection follows its records; without it, the selection
    // keeps its row numbers, whatever records now stand there.
    void reorderRecords(const std::function<void()>& reorder,
                        const std::function<int(int oldRow)>& newRowOf = {});

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    [[nodiscard]] QString chapterNote(int row) const;
    QList<TableColumn> mColumns;
    AudiobookTableView* mView;
    TableDataSource* mDataSource = nullptr;
    int mShownRows = 0;
};
