#pragma once

#include <QList>
#include <QStringList>
#include <QTableView>

class TableDataSource;

// The main table. Rows are selected and read by number, as the item list
// addresses them; drags and drops are handed to the data source, which
// decides where a drop lands and what it does.
class AudiobookTableView : public QTableView
{
    Q_OBJECT
public:
    explicit AudiobookTableView(QWidget* parent = nullptr);

    // The row selected last, or -1 when none is selected.
    [[nodiscard]] int selectedRow() const;
    [[nodiscard]] QList<int> selectedRowIndexes() const;
    void selectRowIndexes(const QList<int>& rows, bool byExtendingSelection);
    void deselectAll();

    void setDataSource(TableDataSource* dataSource) { mDataSource = dataSource; }
    void registerForDraggedTypes(const QStringList& types);
    // Where the drag under way will land.
    void setDropRow(int row, int dropOperation);
    [[nodiscard]] int dropRow() const { return mDropRow; }
    [[nodiscard]] int dropOperation() const { return mDropOperation; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool validate(QDropEvent* event);
    void clearDropRow();

    TableDataSource* mDataSource = nullptr;
    QStringList mDraggedTypes;
    int mDropRow = -1;
    int mDropOperation = 1;
};
