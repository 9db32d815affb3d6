#pragma once

#include <QStyledItemDelegate>

// Draws a row's icon centred in its cell, shrunk to fit with its proportions
// kept, and never enlarged.
class IconCellDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
