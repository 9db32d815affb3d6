#include "TitleCellDelegate.h"

TitleCellDelegate::TitleCellDelegate(const QFont& font, QObject* parent)
    : QStyledItemDelegate(parent), mFont(font)
{
}

void TitleCellDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->font = mFont;
}
