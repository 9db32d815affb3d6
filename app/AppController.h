#pragma once

#include "AppServices.h"
#include "BookRun.h"
#include "FileMover.h"
#include "ItemRecord.h"
#include "RunState.h"
#include "TableColumn.h"
#include "TableDataSource.h"

#include <QObject>
#include <QStringList>
#include <exception>
#include <memory>
#include <optional>

class AudioPreview;
class AudiobookTableView;
class BookActions;
class ChapterActions;
class DesktopNotifier;
class DraftBook;
class FileLister;
class ItemTableModel;
class OutputSheet;
class QDialog;
class QLabel;
class QMainWindow;
class QProgressBar;
class QPushButton;
class SheetDialog;
class TagSheet;
class UpdateNotice;
namespace Ui {
class MainWindow;
class JoinProgressWindow;
} // namespace Ui

// The one controller of the main window: its item list, table and sheets,
// and the production run as the window asks for it and shows it. The book
// itself is a draft of its own; the preview, the chapter list, the opened
// book and the update notice are parts of the window with their own classes.
class AppController final : public QObject, public TableDataSource
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
    [[nodiscard]] bool sortAscending() const;
    void setSortAscending(bool ascending);
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

    // The application ends: a run going is stopped, and its partial files go.
    void applicationWillTerminate();
    // Quit, as for a signal to end: also from inside another window's own loop.
    void quitApplication();

    // Ending a run.
    bool moveFile(const QString& source, const QString& toPath);
    void FileExistAlertDidEnd(int returnCode);
    void processDidEndBadly(const std::exception_ptr& exception);

    [[nodiscard]] const ItemList& tableData() const;
    // The step of the run under way, and the temporary folder of the last run.
    [[nodiscard]] RunState state() const;
    [[nodiscard]] std::optional<QString> tempFolderPath() const;
    [[nodiscard]] QMainWindow* window() const { return mainWindow; }
    [[nodiscard]] AudiobookTableView* table() const { return mainTable; }
    [[nodiscard]] ItemTableModel* tableModel() const { return mTableModel; }
    [[nodiscard]] DraftBook& draft() const { return *mDraft; }
    [[nodiscard]] AudioPreview& preview() const { return *mPreview; }
    [[nodiscard]] UpdateNotice& updateNotice() const { return *mUpdateNotice; }
    [[nodiscard]] BookActions& bookActions() const { return *mBookActions; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpWindow();
    void connectActions();
    // Lists files as createItem does, a few at a time; sortWhenAdded sorts
    // the list once after the last of them.
    void addFiles(const QStringList& paths, bool sortWhenAdded);
    // Selects the row of a file that is listed already.
    void selectListed(const QString& path);
    // The row moves as a drag would move it, and the selection goes with it.
    void moveSelectedRow(int offset);
    // What the list tells before a run: each file's length, the book's total and size.
    void showListSummary();
    void showProgressInTitle();
    void showRunProgress(const Job::Progress& progress);
    void showFileCreationAlert(const QString& destination, const FileMover::Outcome& outcome);
    void beginSheet(QDialog* sheet);
    void endSheet(QDialog* sheet);

    // The interface description and what the controller uses of the desktop.
    std::unique_ptr<QMainWindow> mWindowOwner;
    std::unique_ptr<Ui::MainWindow> mUi;
    std::unique_ptr<Ui::JoinProgressWindow> mProgressUi;
    AppServices mServices;
    // The book: its draft, and what lists files in it.
    std::unique_ptr<DraftBook> mDraft;
    std::unique_ptr<FileLister> mLister;
    ItemTableModel* mTableModel = nullptr;
    AudioPreview* mPreview = nullptr;
    TagSheet* mTagSheet = nullptr;
    OutputSheet* mOutputSheet = nullptr;
    ChapterActions* mChapters = nullptr;
    BookActions* mBookActions = nullptr;
    UpdateNotice* mUpdateNotice = nullptr;
    // The run under way, or the last one, whose book may still wait to be delivered.
    std::unique_ptr<BookRun> mBookRun;
    int mEncoders = 0;
    bool mEndedMidRun = false;
    bool mSummaryScheduled = false;
    std::optional<QString> dstPath;
    std::optional<QString> srcPath;
    std::unique_ptr<SoundPlayer> soundID;
    QMainWindow* mainWindow = nullptr;
    TableColumn iconColumn;
    TableColumn titleColumn;
    AudiobookTableView* mainTable = nullptr;
    quint32 dragStartRow = 0;
    QLabel* listSummary = nullptr;
    DesktopNotifier* mNotifier = nullptr;
    SheetDialog* joinProgressWindow = nullptr;
    QLabel* joinProgressDescription = nullptr;
    QProgressBar* joinProgressIndicator = nullptr;
    QPushButton* stopConvertingButton = nullptr;
};
