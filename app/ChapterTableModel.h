#pragma once

#include "ChapterRow.h"

#include <QAbstractTableModel>
#include <QList>

class DraftBook;

// The draft's chapters as the chapter list shows them: a title, a start in
// the book, a length, and the file it starts in. Starts that a search for
// silence proposes are shown among them until they are taken or dropped.
// Edits are not made here: the model asks for them, and they are made on
// the draft so that they can be undone.
class ChapterTableModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        TitleColumn,
        StartColumn,
        LengthColumn,
        FileColumn,
        ColumnCount
    };
    using Row = ChapterRow;

    explicit ChapterTableModel(const DraftBook& book, QObject* parent = nullptr);

    [[nodiscard]] const QList<Row>& rows() const { return mRows; }
    [[nodiscard]] int proposalCount() const;
    // The draft's chapters as they are now.
    void refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    void retitleAsked(int row, const QString& title);
    void moveAsked(int row, double start);

private:
    const DraftBook& mBook;
    QList<Row> mRows;
};
