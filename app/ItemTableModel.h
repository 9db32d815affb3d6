#pragma once

#include "TableColumn.h"

#include <QAbstractTableModel>
#include <QList>

class AudiobookTableView;
class DraftBook;
class TableDataSource;

// The main table's model: it holds no data and answers from the data
// source, and tells the view what the draft says changed (files inserted,
// removed, rearranged, changed), so that the selection and the scroll
// position survive each change.
class ItemTableModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Whether a row continues the chapter of the row above.
    static constexpr int ContinuesChapterRole = Qt::UserRole + 1;

    ItemTableModel(QList<TableColumn> columns, AudiobookTableView* view, DraftBook& book,
                   QObject* parent);

    void setDataSource(TableDataSource* dataSource);
    [[nodiscard]] const QList<TableColumn>& columns() const { return mColumns; }
    [[nodiscard]] TableColumn column(const QString& identifier) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    [[nodiscard]] QString chapterNote(int row) const;
    [[nodiscard]] int shownByTheSource() const;
    QList<TableColumn> mColumns;
    AudiobookTableView* mView;
    TableDataSource* mDataSource = nullptr;
    int mShownRows = 0;
};
