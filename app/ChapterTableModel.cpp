#include "ChapterTableModel.h"

#include "ChapterFile.h"
#include "ChapterList.h"
#include "DraftBook.h"
#include "ItemRecord.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

ChapterTableModel::ChapterTableModel(const DraftBook& book, QObject* parent)
    : QAbstractTableModel(parent), mBook(book)
{
    refresh();
}

void ChapterTableModel::refresh()
{
    const QList<Row>& rows = mBook.chapters();
    if (rows == mRows)
        return;
    // As many rows as before are changed in place, so that a title being
    // edited keeps its editor while the files' details arrive.
    if (rows.size() == mRows.size()) {
        mRows = rows;
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
        return;
    }
    beginResetModel();
    mRows = rows;
    endResetModel();
}

int ChapterTableModel::proposalCount() const
{
    return static_cast<int>(
        std::count_if(mRows.begin(), mRows.end(), [](const Row& row) { return row.proposed; }));
}

int ChapterTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(mRows.size());
}

int ChapterTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ChapterTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= mRows.size())
        return {};
    const Row& row = mRows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        switch (index.column()) {
        case TitleColumn:
            return row.title;
        case StartColumn:
            return ChapterList::bookTime(row.start);
        case LengthColumn:
            return row.proposed ? QString() : ItemRecord::formatLength(row.length);
        case FileColumn:
            return row.offset == 0 ? row.record->titleColumn
                                   : u"%1 at %2"_s.arg(row.record->titleColumn,
                                                       ChapterList::bookTime(row.offset));
        default:
            return {};
        }
    }
    if (role == Qt::FontRole && row.proposed) {
        QFont font;
        font.setItalic(true);
        return font;
    }
    if (role == Qt::ForegroundRole && row.proposed)
        return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    if ((role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) && row.proposed)
        return u"A chapter start proposed where a silence ends: Ctrl+Return takes it, Delete "
               "drops it"_s;
    return {};
}

bool ChapterTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.row() >= mRows.size())
        return false;
    if (index.column() == TitleColumn) {
        const QString title = value.toString().trimmed();
        if (title.isEmpty())
            return false;
        // The change comes once the editor has closed: it redraws the whole list.
        QMetaObject::invokeMethod(
            this, [this, row = index.row(), title] { Q_EMIT retitleAsked(row, title); },
            Qt::QueuedConnection);
        return true;
    }
    if (index.column() == StartColumn) {
        const std::optional<double> start = ChapterFile::parsedTime(value.toString());
        if (!start)
            return false;
        QMetaObject::invokeMethod(
            this, [this, row = index.row(), at = *start] { Q_EMIT moveAsked(row, at); },
            Qt::QueuedConnection);
        return true;
    }
    return false;
}

QVariant ChapterTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TitleColumn:
        return u"Chapter"_s;
    case StartColumn:
        return u"Starts"_s;
    case LengthColumn:
        return u"Length"_s;
    case FileColumn:
        return u"In File"_s;
    default:
        return {};
    }
}

Qt::ItemFlags ChapterTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() < mRows.size() && !mRows.at(index.row()).proposed &&
        (index.column() == TitleColumn || index.column() == StartColumn))
        flags |= Qt::ItemIsEditable;
    return flags;
}
