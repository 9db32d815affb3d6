#include "TitleCellDelegate.h"

#include "ItemTableModel.h"

using namespace Qt::Literals::StringLiterals;

TitleCellDelegate::TitleCellDelegate(const QFont& font, QObject* parent)
    : QStyledItemDelegate(parent), mFont(font)
{
}

void TitleCellDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->font = mFont;
    // A file that continues the chapter above stands under it, marked.
    if (index.data(ItemTableModel::ContinuesChapterRole).toBool())
        option->text = u"    \u21b3 "_s + option->text;
}
