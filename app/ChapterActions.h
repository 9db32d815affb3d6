#pragma once

#include "ChapterEditor.h"
#include "ChapterRow.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>

class AudioPreview;
class ChapterPanel;
class DialogService;
class DraftBook;
class PeakReader;
class QMainWindow;
class ShiftSheet;
class SilenceSearch;
class SilenceSheet;

// What the chapter list's commands do: each asks the draft's chapter editor
// for its edit, with the preview for the place to add a chapter and to
// play one, the sheets that ask how to search for silence and how far to
// shift, and the panels and alerts of chapter files. The chapter list keeps
// its selection on the chapter it was on as the chapters change.
class ChapterActions final : public QObject
{
    Q_OBJECT
public:
    // The waveform's summaries are kept in peaksFolder; empty, none are made.
    ChapterActions(QMainWindow* window, DraftBook& book, AudioPreview& preview,
                   DialogService& dialogs, const QString& peaksFolder, QObject* parent = nullptr);
    ~ChapterActions() override;

    [[nodiscard]] ChapterPanel* panel() const { return mPanel; }
    // Chapter files named like the first file or its folder, offered once.
    void offerChapterFile();
    void importChapterFile(const QString& path);
    // Why a chapter file was not imported or exported, or a book not saved.
    void showAlert(const QString& heading, const QString& message, const QString& detail);

private:
    void connectActions();
    // The chapter list as the draft's chapters are now, the selection kept.
    void showChapters(std::optional<ChapterPlace> select = std::nullopt);
    [[nodiscard]] const ChapterRow* chapterRow(int row) const;
    [[nodiscard]] const ChapterRow* selected() const;
    void nudge(double seconds);
    void remove();
    void addHere();
    void play();
    void importChapters();
    void exportChapters();
    void startSilenceSearch();
    void silenceSearchDidFinish();
    void connectWaveform();

    DraftBook& mBook;
    ChapterEditor mEditor;
    AudioPreview& mPreview;
    DialogService& mDialogs;
    QMainWindow* mWindow;
    // The waveform's summaries, made as it is drawn.
    PeakReader* mPeaks;
    ChapterPanel* mPanel;
    SilenceSheet* mSilenceSheet;
    ShiftSheet* mShiftSheet;
    // The search going, or the last one, and the files it searches.
    std::unique_ptr<SilenceSearch> mSearch;
    ItemList mSearched;
    // The chapter files already offered, by path.
    QSet<QString> mOffered;
};
