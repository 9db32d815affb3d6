#pragma once

#include "ItemRecord.h"

#include <QAbstractTableModel>
#include <QList>

// The book's chapters as the chapter list shows them, from the list's
// records: a title, a start in the book, a length, and the file it starts
// in. Starts that a search for silence proposes are shown among them until
// they are taken or dropped. Edits are not made here: the model asks for
// them, and the controller makes them so that they can be undone.
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
    struct Row
    {
        ItemRecordPtr record;
        qsizetype recordRow = 0;
        bool proposed = false;
        // Where it starts in its file and in the book, and how long it plays.
        double offset = 0;
        double start = 0;
        double length = 0;
        QString title;
        friend bool operator==(const Row&, const Row&) = default;
    };

    explicit ChapterTableModel(QObject* parent = nullptr);

    // The rows of a list: its chapters and proposals in the order they play,
    // placed by the lengths the list shows.
    [[nodiscard]] static QList<Row> rowsFor(const ItemList& records);
    void setRows(QList<Row> rows);
    [[nodiscard]] const QList<Row>& rows() const { return mRows; }
    [[nodiscard]] int proposalCount() const;

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
    QList<Row> mRows;
};
