#pragma once

#include <QWidget>

class ChapterTableModel;
class DraftBook;
class PeakReader;
class WaveformStrip;
class QAction;
class QLabel;
class QMenu;
class QTableView;
class QPushButton;

// The chapter list under the files, with its commands. Each command is an
// action with a key, so the menu, the buttons and the keyboard do the same;
// the controller makes the changes.
class ChapterPanel final : public QWidget
{
    Q_OBJECT
public:
    struct Actions
    {
        QAction* addHere = nullptr;
        QAction* play = nullptr;
        QAction* remove = nullptr;
        QAction* earlierSecond = nullptr;
        QAction* earlierTenth = nullptr;
        QAction* laterTenth = nullptr;
        QAction* laterSecond = nullptr;
        QAction* accept = nullptr;
        QAction* acceptAll = nullptr;
        QAction* dropAll = nullptr;
        QAction* onePerFile = nullptr;
        QAction* fromFiles = nullptr;
        QAction* findSilence = nullptr;
        QAction* splitLong = nullptr;
        QAction* importFile = nullptr;
        QAction* exportFile = nullptr;
        QAction* shift = nullptr;
        QAction* zoomToChapter = nullptr;
        QAction* snapToSilence = nullptr;
    };

    ChapterPanel(const DraftBook& book, PeakReader& peaks, QWidget* parent = nullptr);

    [[nodiscard]] QTableView* table() const { return mTable; }
    [[nodiscard]] WaveformStrip* waveform() const { return mWaveform; }
    [[nodiscard]] ChapterTableModel* model() const { return mModel; }
    [[nodiscard]] const Actions& actions() const { return mActions; }
    // The Chapters menu, for the menu bar.
    [[nodiscard]] QMenu* menu() const { return mMenu; }
    // The selected chapter's row, or -1.
    [[nodiscard]] int currentRow() const;
    void selectRow(int row);
    // After the rows change: what the commands can do, and what the
    // proposals' line says.
    void refresh();

private:
    QAction* action(const QString& text, const QKeySequence& key, const QString& tip);
    QPushButton* button(QAction* action, const QString& text = {});

    ChapterTableModel* mModel;
    QTableView* mTable;
    WaveformStrip* mWaveform;
    QLabel* mProposals;
    QWidget* mProposalBar;
    QMenu* mMenu;
    Actions mActions;
};
