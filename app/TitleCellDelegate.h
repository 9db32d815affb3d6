#pragma once

#include <QFont>
#include <QStyledItemDelegate>

// The title column's cell: plain text in the list's own font.
class TitleCellDelegate final : public QStyledItemDelegate
{
public:
    TitleCellDelegate(const QFont& font, QObject* parent);
    [[nodiscard]] const QFont& font() const { return mFont; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QFont mFont;
};
