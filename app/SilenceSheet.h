#pragma once

#include "SheetDialog.h"

class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;

// Asks how to find chapters by silence, then shows the search going, which
// Stop ends. To split long chapters it asks for their longest length
// instead of the shortest.
class SilenceSheet final : public SheetDialog
{
    Q_OBJECT
public:
    enum class Purpose
    {
        Find,
        SplitLong
    };
    explicit SilenceSheet(QWidget* parent);

    void ask(Purpose purpose);
    [[nodiscard]] Purpose purpose() const { return mPurpose; }
    [[nodiscard]] double shortestSilence() const;
    [[nodiscard]] double levelDb() const;
    // Minutes: the shortest chapter to propose, or the longest to keep whole.
    [[nodiscard]] double chapterMinutes() const;
    void showSearching(double searched, double total);
    // The search ended without a result to show: why, and the sheet stays.
    void showEnded(const QString& text);

Q_SIGNALS:
    void searchAsked();
    void stopAsked();

private:
    Purpose mPurpose = Purpose::Find;
    QDoubleSpinBox* mSilence;
    QDoubleSpinBox* mLevel;
    QDoubleSpinBox* mMinutes;
    QLabel* mMinutesLabel;
    QLabel* mStatus;
    QProgressBar* mProgress;
    QPushButton* mSearch;
    QPushButton* mCancel;
    bool mSearching = false;
};
