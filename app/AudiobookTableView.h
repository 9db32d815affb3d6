#pragma once

#include <QList>
#include <QTableView>

// The main table. Rows are selected and read by number, as the item list
// addresses them.
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

protected:
    void paintEvent(QPaintEvent* event) override;
};
