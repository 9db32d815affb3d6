#include "IconCellDelegate.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>

void IconCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.icon = QIcon();
    background.features &= ~QStyleOptionViewItem::HasDecoration;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const auto icon = index.data(Qt::DecorationRole).value<QIcon>();
    if (icon.isNull())
        return;
    const QSize natural = icon.actualSize(QSize(32, 32));
    const QSize shown =
        natural.scaled(natural.boundedTo(option.rect.size() - QSize(4, 4)), Qt::KeepAspectRatio);
    QRect target(QPoint(), shown);
    target.moveCenter(option.rect.center());
    icon.paint(painter, target, Qt::AlignCenter);
}

QSize IconCellDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {40, 36};
}
