#include "ItemTableModel.h"

#include "DraftBook.h"
#include "TableDataSource.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

using namespace Qt::Literals::StringLiterals;

ItemTableModel::ItemTableModel(QList<TableColumn> columns, AudiobookTableView* view,
                               DraftBook& book, QObject* parent)
    : QAbstractTableModel(parent), mColumns(std::move(columns)), mView(view)
{
    for (int i = 0; i < mColumns.size(); ++i)
        mColumns[i].index = i;
    connect(&book, &DraftBook::filesAboutToBeInserted, this,
            [this](int first, int last) { beginInsertRows({}, first, last); });
    connect(&book, &DraftBook::filesInserted, this, [this] {
        mShownRows = shownByTheSource();
        endInsertRows();
    });
    connect(&book, &DraftBook::filesAboutToBeRemoved, this,
            [this](int first, int last) { beginRemoveRows({}, first, last); });
    connect(&book, &DraftBook::filesRemoved, this, [this] {
        mShownRows = shownByTheSource();
        endRemoveRows();
    });
    connect(&book, &DraftBook::filesAboutToBeRearranged, this,
            [this] { Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint); });
    connect(&book, &DraftBook::filesRearranged, this, [this](const QList<int>& newRowOf) {
        mShownRows = shownByTheSource();
        // The selection follows its records; without newRowOf it keeps its
        // row numbers, whatever records now stand there.
        if (!newRowOf.isEmpty()) {
            const QModelIndexList from = persistentIndexList();
            QModelIndexList to;
            to.reserve(from.size());
            for (const QModelIndex& index : from)
                to.append(this->index(newRowOf.value(index.row(), index.row()), index.column()));
            changePersistentIndexList(from, to);
        }
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    });
    connect(&book, &DraftBook::filesChanged, this, [this](int first, int last) {
        if (first <= last && last < mShownRows)
            Q_EMIT dataChanged(index(first, 0), index(last, columnCount() - 1));
    });
}

int ItemTableModel::shownByTheSource() const
{
    return mDataSource ? mDataSource->numberOfRowsInTableView(mView) : 0;
}

void ItemTableModel::setDataSource(TableDataSource* dataSource)
{
    beginResetModel();
    mDataSource = dataSource;
    mShownRows = shownByTheSource();
    endResetModel();
}

TableColumn ItemTableModel::column(const QString& identifier) const
{
    for (const TableColumn& c : mColumns) {
        if (c.identifier == identifier)
            return c;
    }
    return {};
}

int ItemTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : mShownRows;
}

int ItemTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(mColumns.size());
}

// What the list says of a file's own chapters; empty without marks.
QString ItemTableModel::chapterNote(int row) const
{
    return mDataSource->tableViewObjectValueForTableColumn(mView, {u"chapterNote"_s}, row).toString();
}

QVariant ItemTableModel::data(const QModelIndex& index, int role) const
{
    if (!mDataSource || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const TableColumn& column = mColumns.at(index.column());
    const QVariant value =
        mDataSource->tableViewObjectValueForTableColumn(mView, column, index.row());
    const bool isImage = value.typeId() == QMetaType::QIcon;
    // Only the roles that show a file's problem ask for it: data() runs for every
    // role of every painted cell.
    const bool showsProblem = (role == Qt::DecorationRole && isImage) || role == Qt::ToolTipRole ||
                              role == Qt::AccessibleDescriptionRole;
    const QString problem =
        showsProblem
            ? mDataSource->tableViewObjectValueForTableColumn(mView, {u"problem"_s}, index.row())
                  .toString()
            : QString();
    if (!problem.isEmpty()) {
        // A file that cannot be joined says so where it stands.
        if (role == Qt::DecorationRole && isImage)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole)
            return u"This file cannot be joined: it %1."_s.arg(problem);
    }
    const auto continues = [&] {
        return mDataSource
            ->tableViewObjectValueForTableColumn(mView, {u"continuesChapter"_s}, index.row())
            .toBool();
    };
    switch (role) {
    case ContinuesChapterRole:
        return continues();
    case Qt::AccessibleDescriptionRole:
        if (column.identifier == u"titleColumn"_s && continues())
            return u"Continues the chapter above"_s;
        if (column.identifier == u"titleColumn"_s)
            return chapterNote(index.row());
        return {};
    case Qt::DecorationRole:
        return isImage ? value : QVariant();
    case Qt::DisplayRole:
    case Qt::EditRole:
        return isImage ? QVariant() : value;
    case Qt::ToolTipRole:
        if (column.identifier == u"titleColumn"_s || column.identifier == u"pathColumn"_s) {
            const QString path = mDataSource
                                     ->tableViewObjectValueForTableColumn(
                                         mView, this->column(u"pathColumn"_s), index.row())
                                     .toString();
            const QString note = chapterNote(index.row());
            return note.isEmpty() ? path : path + u'\n' + note;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column.identifier == u"bitrateColumn"_s ||
            column.identifier == u"sampleFrequencyColumn"_s ||
            column.identifier == u"lengthColumn"_s || column.identifier == u"loudnessColumn"_s)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

bool ItemTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!mDataSource || role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    // The draft tells of the change it makes.
    mDataSource->tableViewSetObjectValue(mView, value, mColumns.at(index.column()), index.row());
    return true;
}

QVariant ItemTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= mColumns.size())
        return {};
    const QString& id = mColumns.at(section).identifier;
    if (id == u"titleColumn"_s)
        return u"Title"_s;
    if (id == u"bitrateColumn"_s)
        return u"Bit Rate (kbit/s)"_s;
    if (id == u"sampleFrequencyColumn"_s)
        return u"Sample Rate (Hz)"_s;
    if (id == u"lengthColumn"_s)
        return u"Length"_s;
    if (id == u"loudnessColumn"_s)
        return u"Loudness"_s;
    if (id == u"pathColumn"_s)
        return u"File"_s;
    return QString();
}

Qt::ItemFlags ItemTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    // Rows are dragged; only the space between them takes a drop, so no row
    // is ever dropped into another.
    if (!index.isValid())
        return f | Qt::ItemIsDropEnabled;
    f |= Qt::ItemIsDragEnabled;
    if (mColumns.at(index.column()).identifier == u"titleColumn"_s)
        f |= Qt::ItemIsEditable;
    return f;
}
