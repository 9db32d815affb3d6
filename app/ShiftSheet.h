#pragma once

#include "SheetDialog.h"

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Asks how far to move the chapters, later or earlier, and whether every
// chapter moves or only those after the selected one.
class ShiftSheet final : public SheetDialog
{
    Q_OBJECT
public:
    explicit ShiftSheet(QWidget* parent);

    // Opens the sheet; whether a chapter is selected decides the second choice.
    void ask(bool chapterSelected);
    // Seconds, later when positive; none while the field holds no time.
    [[nodiscard]] std::optional<double> seconds() const;
    [[nodiscard]] bool afterSelected() const;
    // Why the shift was not made; the sheet stays open.
    void showRefusal(const QString& text);

Q_SIGNALS:
    void shiftAsked();

private:
    QLineEdit* mBy;
    QRadioButton* mEvery;
    QRadioButton* mAfter;
    QLabel* mStatus;
    QPushButton* mShift;
};
