#pragma once

#include "AppServices.h"
#include "BookRun.h"
#include "ChapterTableModel.h"
#include "ListState.h"
#include "FileMover.h"
#include "ItemRecord.h"
#include "RunRequest.h"
#include "RunState.h"
#include "SilenceSearch.h"
#include "TableColumn.h"
#include "TableDataSource.h"
#include "UpdateChecker.h"
#include "autoUpdateDelegate.h"

#include <QFuture>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class ArtworkWell;
class QAction;
class ChapterPanel;
class ShiftSheet;
class SilenceSheet;
class QUndoStack;
class DesktopNotifier;
class AudiobookTableView;
class ItemTableModel;
class QComboBox;
class QMimeData;
class QThreadPool;
class QTimer;
class QDialog;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolBar;
class SheetDialog;
namespace Ui {
class MainWindow;
class OutputWindow;
class TagWindow;
class JoinProgressWindow;
class UpdateWindow;
} // namespace Ui

// The one controller: the main window, the item list, the production run and
// the update notice.
class AppController final : public QObject, public autoUpdateDelegate, public TableDataSource
{
    Q_OBJECT
public:
    explicit AppController(AppServices services = AppServices::desktop(),
                           QObject* parent = nullptr);
    ~AppController() override;

    // Start-up; run once after the interface is loaded.
    void awakeFromNib();
    [[nodiscard]] bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // Item list.
    void createItem(const QString& path);
    void addRow(QObject* sender = nullptr);
    void openPanelDidEnd(int returnCode, const QStringList& filenames);
    void applicationOpenFiles(const QStringList& filenames);
    void deleteRow(QObject* sender = nullptr);
    void clearAllItems(QObject* sender = nullptr);
    void autoSort(QObject* sender = nullptr);
    // The selected file one place up or down, from the keyboard.
    void moveRowUp(QObject* sender = nullptr);
    void moveRowDown(QObject* sender = nullptr);

    // Tagged collections: folders of files, and titles, order and chapters
    // from the files' own tags.
    void addFolder(QObject* sender = nullptr);
    void titlesFromTags(QObject* sender = nullptr);
    void titlesFromFileNames(QObject* sender = nullptr);
    // Disc, then track, then the path in natural order; always ascending.
    void sortByTrack(QObject* sender = nullptr);
    // The selected files continue the chapter above them, or no longer do.
    void joinWithPreviousChapter(QObject* sender = nullptr);
    // The chapter list: titles, starts moved or nudged by seconds, chapters
    // added at the preview's place, removed, played, and proposed starts
    // taken or dropped.
    void retitleChapter(int row, const QString& text);
    void moveChapter(int row, double start);
    void nudgeChapter(double seconds);
    void removeChapter();
    void addChapterHere();
    void playChapter();
    void acceptProposal();
    void settleProposals(bool take);
    void oneChapterPerFile();
    void chaptersFromFiles();
    void findChaptersBySilence();
    void splitLongChapters();
    // Replaces the chapters with a chapter file's, placed across the files
    // by their times in the book; a file that cannot be the book's changes nothing.
    void importChapters();
    void importChapterFile(const QString& path);
    // Saves the chapters as the book will have them, in the form that the
    // name chosen ends in: ".cue", ".ffmetadata" or ".meta", else chapters.txt.
    void exportChapters();
    // Moves every chapter, or those after the selected one, by seconds;
    // refused in the sheet when a chapter would pass another or the end.
    void shiftChapters();
    [[nodiscard]] QString shiftChaptersBy(double seconds, bool afterSelected);
    // A finished book (.m4b, .m4a, .mp3, from any tool) opened again: it is
    // the list's one file, its chapters the chapter list's, its tags and
    // cover the tag sheet's. Save writes them into it without an encode.
    void openBook();
    void openBookFile(const QString& path);
    [[nodiscard]] bool bookIsOpen() const;
    void saveBook();
    void saveBookAs();
    // One file per chapter, without an encode, in a folder beside the book
    // named after it.
    // Encoded: .mp3 files from an MP4 book, .m4a files from an MP3 book.
    void splitIntoChapters(bool encoded = false);
    // Why a chapter file was not imported or exported, in an alert.
    void showChapterFileAlert(const QString& heading, const QString& message, const QString& detail);
    // Fills the tag sheet's empty fields, and the cover if it has none, from the files.
    void fillFromFiles(QObject* sender = nullptr);
    [[nodiscard]] bool sortAscending() const { return mSortAscending; }
    void setSortAscending(bool ascending) { mSortAscending = ascending; }
    [[nodiscard]] bool atLeastOneAdded() const;
    [[nodiscard]] bool atLeastOneSelected() const;

    // TableDataSource
    [[nodiscard]] int numberOfRowsInTableView(const AudiobookTableView* tableView) const override;
    [[nodiscard]] QVariant tableViewObjectValueForTableColumn(const AudiobookTableView* tableView,
                                                              const TableColumn& column,
                                                              int row) const override;
    void tableViewSetObjectValue(AudiobookTableView* tableView, const QVariant& value,
                                 const TableColumn& column, int row) override;
    bool tableViewWriteRows(AudiobookTableView* tableView, const QList<int>& rows,
                            QMimeData* pasteboard) override;
    int tableViewValidateDrop(AudiobookTableView* tableView, const DraggingInfo& info,
                              int proposedRow, int proposedDropOperation) override;
    bool tableViewAcceptDrop(AudiobookTableView* tableView, const DraggingInfo& info, int row,
                             int dropOperation) override;

    // Audio preview.
    void tableViewSelectionDidChange();
    void playPreview(QObject* sender = nullptr);
    void rewindPreview(QObject* sender = nullptr);
    void fastForwardPreview(QObject* sender = nullptr);
    void changePlaybackPosition(QObject* sender = nullptr);
    void checkPlaybackStatus(QObject* timer = nullptr);
    [[nodiscard]] bool isPlaying(const Movie* movie) const;
    void validatePlaybackButtons();
    [[nodiscard]] Movie* audioPreviewObject() const { return mAudioPreviewObject.get(); }
    void setAudioPreviewObject(std::unique_ptr<Movie> movie);
    [[nodiscard]] QTimer* previewTimer() const { return mPreviewTimer.get(); }
    void setPreviewTimer(std::unique_ptr<QTimer> timer);
    [[nodiscard]] const std::optional<QString>& currentPreviewPath() const
    {
        return mCurrentPreviewPath;
    }
    void setCurrentPreviewPath(const std::optional<QString>& path);
    [[nodiscard]] QPushButton* playPauseButton() const { return ppButton; }
    [[nodiscard]] QPushButton* rewindButton() const { return rwButton; }
    [[nodiscard]] QPushButton* fastForwardButton() const { return ffButton; }
    [[nodiscard]] QSlider* slider() const { return playbackSlider; }

    // Production run: the window asks for it and shows it; a BookRun makes the book.
    void joinAll(QObject* sender = nullptr);
    void startJoin(QObject* sender = nullptr);
    void closeJoinStart(QObject* sender = nullptr);
    void closeJoin(QObject* sender = nullptr);
    void stopJoin(QObject* sender = nullptr);
    void startTagging(QObject* sender = nullptr);
    void stopTagging(QObject* sender = nullptr);
    void startMaking();
    // How many encoders a run starts at once; 0 is one per core.
    void setEncoders(int encoders) { mEncoders = encoders; }

    // Update notice.
    void checkForUpdate(QObject* sender = nullptr);
    void autoUpdateDidFinish(UpdateChecker* checker,
                             const std::optional<UpdateError>& updateException) override;
    void closeUpdateWindow(QObject* sender = nullptr);
    void showReleaseNote(QObject* sender = nullptr);
    void launchBrowser(QObject* sender = nullptr);
    [[nodiscard]] QDialog* updateSheet() const;
    [[nodiscard]] QLabel* updateText() const { return updateMessage; }

    // The application ends: a run going is stopped, and its partial files go.
    void applicationWillTerminate();
    // Quit, as for a signal to end: also from inside another window's own loop.
    void quitApplication();

    // Ending a run.
    bool moveFile(const QString& source, const QString& toPath);
    void FileExistAlertDidEnd(int returnCode);
    void processDidEndBadly(const std::exception_ptr& exception);

    [[nodiscard]] const ItemList& tableData() const { return TableData; }
    // The step of the run under way, and the temporary folder of the last run.
    [[nodiscard]] RunState state() const;
    [[nodiscard]] std::optional<QString> tempFolderPath() const;
    [[nodiscard]] QMainWindow* window() const { return mainWindow; }
    [[nodiscard]] AudiobookTableView* table() const { return mainTable; }
    [[nodiscard]] ItemTableModel* tableModel() const { return mTableModel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectActions();
    void connectListActions();
    void connectRunActions();
    void connectUpdateActions();
    void connectPreviewActions();
    void connectChapterActions();
    void setUpChapterPanel();
    // The next changes to the list are undone as one, under this name.
    void beginChange(const QString& text);
    // Records a change to the list for Undo, and shows the chapters anew.
    void noteListChange();
    void restoreList(const ListState& state);
    // A chapter or proposal to select once the chapter list is shown again.
    struct ChapterTarget
    {
        ItemRecordPtr record;
        double offset = 0;
        bool proposed = false;
    };
    void showChapters(std::optional<ChapterTarget> select = std::nullopt);
    [[nodiscard]] const ChapterTableModel::Row* chapterRow(int row) const;
    // The chapters that start in a record's file, with the book's first one.
    [[nodiscard]] QList<ChapterMark> startsIn(const ItemRecordPtr& record) const;
    static void setStartsIn(const ItemRecordPtr& record, QList<ChapterMark> starts);
    // Moves a chapter or proposal to a time in the book; false when nothing
    // can start there.
    bool placeChapter(const ChapterTableModel::Row& chapter, double start, const QString& change);
    // What the output sheet says of the chapters: more than players may show,
    // and proposals not taken.
    void showChapterNote();
    void setUpBookActions();
    void updateBookActions();
    // A single file opened with the application or dropped on an empty
    // list is opened as a book when it is one: an .m4b, or a file with chapters.
    [[nodiscard]] static bool looksLikeBook(const QString& path);
    void fillTagSheetFromBook(const ItemRecord& record);
    void writeBook(const QString& target);
    void runBookJob(Job* job, const QString& starting);
    void endBookJob();
    void bookWritten(const QString& target, const BookTag& tag, const QString& failure,
                     const QString& note);
    // Chapter files named like the first file or its folder, offered once.
    void offerChapterFile();
    [[nodiscard]] BookTag sheetTags() const;
    [[nodiscard]] QList<BookTag::Chapter> bookChapters() const;
    [[nodiscard]] BookTag editedBookTags() const;
    void startSilenceSearch();
    void silenceSearchDidFinish(const QList<QList<SilenceFinder::Silence>>& silences);
    // Proposed starts after the silences found, for each file searched.
    void proposeFromSilences(const QList<QList<SilenceFinder::Silence>>& silences);
    // Cuts in every chapter longer than the sheet allows, at the silences found.
    void splitAtSilences(const QList<QList<SilenceFinder::Silence>>& silences);
    // A new record of a file, its details read off the GUI thread: its
    // bit rate and sample rate as mp3info gives them, whether it holds
    // audio, and its length. The list shows them when they come.
    [[nodiscard]] ItemRecordPtr newRecord(const QString& path);
    void readDetails(const QString& path);
    // Selects the row of a file that is listed already; false when it is not.
    bool selectListed(const QString& path);
    // Puts records at the end of the list, then sorts it as that many sorts
    // one after another would leave it: only the last one's direction counts.
    void appendAndSort(QList<ItemRecordPtr> records, int sorts);
    void sortList(bool ascending);
    // Lists files as createItem does, a few at a time; sortWhenAdded sorts
    // the list once after the last of them.
    void addFiles(const QStringList& paths, bool sortWhenAdded);
    // The MP3 files inside a folder and its subfolders, in natural order.
    [[nodiscard]] static QStringList mp3FilesIn(const QString& folder);
    // The tag sheet filled from the files' tags where its fields are empty.
    void fillTagSheet();
    // Whether the tag sheet holds nothing the user typed or chose.
    [[nodiscard]] bool tagSheetIsEmpty() const;
    void addQueuedFiles(bool atOnce);
    void showListSummary();
    void showProgressInTitle();
    void setUpTableColumns();
    void setUpSheets();
    void beginSheet(QDialog* sheet);
    void endSheet(QDialog* sheet);
    [[nodiscard]] QString encodingTitle() const;
    [[nodiscard]] EvenVolume evenVolume() const;
    // Moves the record at from to the drop position above row dropRow, as a
    // new record carrying what the drag carried.
    void moveRecord(int from, int dropRow, const ItemRecord& carried);
    void moveSelectedRow(int offset);
    void showFileCreationAlert(const QString& destination, const FileMover::Outcome& outcome);
    void chooseArtwork();
    // The run as the window asks for it now.
    [[nodiscard]] RunRequest requestFor(BookFormat format) const;
    void showRunProgress(const Job::Progress& progress);
    void setPlayPauseImage(const QString& name);
    void loadPreview(const ItemRecordPtr& record);
    void previewDidLoad(bool playable);
    void showUpdateWindowWhenFree();
    [[nodiscard]] bool anotherSheetIsUp() const;

    // The interface description and what the controller uses of the desktop.
    std::unique_ptr<QMainWindow> mWindowOwner;
    std::unique_ptr<Ui::MainWindow> mUi;
    std::unique_ptr<Ui::OutputWindow> mOutputUi;
    std::unique_ptr<Ui::TagWindow> mTagUi;
    std::unique_ptr<Ui::JoinProgressWindow> mProgressUi;
    std::unique_ptr<Ui::UpdateWindow> mUpdateUi;
    AppServices mServices;
    ItemTableModel* mTableModel = nullptr;
    ChapterPanel* mChapterPanel = nullptr;
    QUndoStack* mHistory = nullptr;
    // The list as the last change left it, and the name of the change under way.
    ListState mSettled;
    QString mChangeText;
    int mChangeBatch = 0;
    int mBatches = 0;
    // The change that files still being listed belong to.
    int mAddBatch = 0;
    bool mRestoring = false;
    // A chapter to play once its file has loaded in the preview.
    struct PendingPlay
    {
        ItemRecordPtr record;
        qint64 at = 0;
    };
    std::optional<PendingPlay> mPendingPlay;
    SilenceSheet* mSilenceSheet = nullptr;
    ShiftSheet* mShiftSheet = nullptr;
    // The book opened for editing: its tags and chapters as the sheet and
    // the chapter list showed them when it was read or last saved, so that
    // a save writes only what was edited since; and its cover's image, which
    // is not encoded again unless it is changed.
    struct OpenedBook
    {
        QString path;
        BookTag read;
        qint64 coverKey = 0;
        bool tagsRead = false;
        // "Saved …" under the list until the chapters change again.
        QString savedNote;
    };
    std::optional<OpenedBook> mBook;
    // The opened book's save or split under way.
    std::unique_ptr<Job> mBookJob;
    struct BookActions
    {
        QAction* open = nullptr;
        QAction* save = nullptr;
        QAction* saveAs = nullptr;
        QAction* split = nullptr;
        QAction* splitEncoded = nullptr;
    };
    BookActions mBookActions;
    // The chapter files already offered, by path.
    QSet<QString> mOfferedChapterFiles;
    // The search going, or the last one, and the records it searches.
    std::unique_ptr<SilenceSearch> mSilenceSearch;
    ItemList mSearchedRecords;

    std::unique_ptr<UpdateChecker> theUpdater;
    // The run under way, or the last one, whose book may still wait to be delivered.
    std::unique_ptr<BookRun> mBookRun;
    int mEncoders = 0;
    bool mEndedMidRun = false;
    std::optional<QString> dstPath;
    std::optional<QString> srcPath;
    std::unique_ptr<SoundPlayer> soundID;
    QMainWindow* mainWindow = nullptr;
    TableColumn iconColumn;
    TableColumn titleColumn;
    QPushButton* ffButton = nullptr;
    QPushButton* rwButton = nullptr;
    QPushButton* ppButton = nullptr;
    QToolBar* toolbar = nullptr;
    AudiobookTableView* mainTable = nullptr;
    ItemList TableData;
    quint32 dragStartRow = 0;
    std::unique_ptr<Movie> mAudioPreviewObject;
    std::unique_ptr<QTimer> mPreviewTimer;
    QSlider* playbackSlider = nullptr;
    std::optional<QString> mCurrentPreviewPath;
    // The record whose file is loaded or loading; a moved row is a new record.
    ItemRecordPtr mPreviewRecord;
    // The file that is opening, not yet the loaded one.
    std::unique_ptr<Movie> mLoadingMovie;
    SheetDialog* updateWindow = nullptr;
    QPushButton* updateOk = nullptr;
    QLabel* updateMessage = nullptr;
    QTimer* mUpdateWaiter = nullptr;
    QLabel* listSummary = nullptr;
    struct QueuedFile
    {
        QString path;
        bool sortAfter = false;
    };
    std::deque<QueuedFile> mFilesToAdd;
    bool mAddingScheduled = false;
    // The paths listed, for the duplicate test.
    QSet<QString> mListedPaths;
    // Where files' details are read: not Qt's global pool, from which the
    // window's painting takes its helpers.
    QThreadPool* mReaders = nullptr;
    bool mSummaryScheduled = false;
    DesktopNotifier* mNotifier = nullptr;
    SheetDialog* joinProgressWindow = nullptr;
    QLabel* joinProgressDescription = nullptr;
    QProgressBar* joinProgressIndicator = nullptr;
    QPushButton* stopConvertingButton = nullptr;
    bool mSortAscending = true;
    SheetDialog* outputWindow = nullptr;
    QLineEdit* outputName = nullptr;
    QComboBox* outputRate = nullptr;
    QComboBox* outputFrequency = nullptr;
    QComboBox* outputEncoding = nullptr;
    QComboBox* outputChannels = nullptr;
    SheetDialog* tagWindow = nullptr;
    QLineEdit* title = nullptr;
    QLineEdit* artist = nullptr;
    QLineEdit* album = nullptr;
    QLineEdit* albumArtist = nullptr;
    QLineEdit* comment = nullptr;
    QLineEdit* narrator = nullptr;
    QLineEdit* year = nullptr;
    QLineEdit* series = nullptr;
    QLineEdit* seriesNumber = nullptr;
    QPlainTextEdit* bookDescription = nullptr;
    ArtworkWell* artwork = nullptr;
};
