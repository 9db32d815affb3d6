#include "AppController.h"

#include "AudioPreview.h"
#include "AudiobookTableView.h"
#include "BookActions.h"
#include "BookFiles.h"
#include "CatalogueSearch.h"
#include "ChapterActions.h"
#include "ChapterEditor.h"
#include "ChapterPanel.h"
#include "DesktopNotifier.h"
#include "DetailsSheet.h"
#include "DraftBook.h"
#include "FileLister.h"
#include "IconCellDelegate.h"
#include "ItemTableModel.h"
#include "ListEditor.h"
#include "OutputSheet.h"
#include "Resources.h"
#include "SheetDialog.h"
#include "TagSheet.h"
#include "TitleCellDelegate.h"
#include "UpdateNotice.h"
#include "ui_JoinProgressWindow.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {
// A file's icon as the desktop draws its kind, made once for each kind.
QIcon fileIcon(const QString& path)
{
    static const QFileIconProvider provider;
    static QHash<QString, QIcon> kinds;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (const auto known = kinds.constFind(suffix); known != kinds.constEnd())
        return *known;
    QIcon icon = provider.icon(QFileInfo(path));
    // A file that cannot be read still gets a picture.
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return *kinds.insert(suffix, QIcon(icon.pixmap(QSize(32, 32))));
}
} // namespace

AppController::AppController(AppServices services, QObject* parent)
    : QObject(parent), mWindowOwner(std::make_unique<QMainWindow>()),
      mUi(std::make_unique<Ui::MainWindow>()),
      mProgressUi(std::make_unique<Ui::JoinProgressWindow>()), mServices(std::move(services)),
      mDraft(std::make_unique<DraftBook>()), mLister(std::make_unique<FileLister>(*mDraft))
{
    mUi->setupUi(mWindowOwner.get());
    mainWindow = mWindowOwner.get();
    mainTable = mUi->mainTable;
    listSummary = mUi->listSummary;
    mNotifier = new DesktopNotifier(this);
    mLister->setIcons(fileIcon);
    if (const auto play = Resources::pathForResource(u"play"_s, u"png"_s))
        mUi->ppButton->setIcon(QIcon(*play));
    if (const auto icon = Resources::pathForResource(u"fablewick"_s, u"png"_s))
        mainWindow->setWindowIcon(QIcon(*icon));
    setUpWindow();
    connectActions();
}

AppController::~AppController()
{
    mLister.reset();
    mBookRun.reset();
    // The window goes while the list lives: a title being edited is saved
    // into it as the window closes.
    mWindowOwner.reset();
}

void AppController::setUpWindow()
{
    mainTable->setTextElideMode(Qt::ElideMiddle);
    mTableModel = new ItemTableModel({{u"iconColumn"_s},
                                      {u"titleColumn"_s},
                                      {u"bitrateColumn"_s},
                                      {u"sampleFrequencyColumn"_s},
                                      {u"lengthColumn"_s},
                                      {u"loudnessColumn"_s},
                                      {u"pathColumn"_s}},
                                     mainTable, *mDraft, mainTable);
    mainTable->setModel(mTableModel);
    iconColumn = mTableModel->column(u"iconColumn"_s);
    titleColumn = mTableModel->column(u"titleColumn"_s);
    QHeaderView* header = mainTable->horizontalHeader();
    header->setSectionResizeMode(iconColumn.index, QHeaderView::Fixed);
    for (const auto& [column, width] :
         {std::pair{u"iconColumn"_s, 44}, {u"titleColumn"_s, 300}, {u"bitrateColumn"_s, 120},
          {u"sampleFrequencyColumn"_s, 130}, {u"lengthColumn"_s, 80}, {u"loudnessColumn"_s, 90}})
        header->resizeSection(mTableModel->column(column).index, width);
    header->setStretchLastSection(true);

    mPreview = new AudioPreview(*mDraft, *mUi, mServices.openMovie, this);
    mTagSheet = new TagSheet(mainWindow, *mDraft, this);
    mOutputSheet = new OutputSheet(mainWindow, *mDraft, this);
    // Book details from the catalogues, from the Audiobook menu and the tag sheet.
    auto* details =
        new DetailsSheet(mainWindow, *mDraft,
                         new CatalogueSearch(CatalogueSearch::Addresses::configured(),
                                             CatalogueSearch::defaultCacheFolder(), this));
    connect(mUi->actionFindBookDetails, &QAction::triggered, details,
            [this, details] { details->ask(mainWindow); });
    connect(mTagSheet->sheet()->findChild<QPushButton*>(u"findDetails"_s), &QPushButton::clicked,
            details, [this, details] { details->ask(mTagSheet->sheet()); });
    mChapters = new ChapterActions(mainWindow, *mDraft, *mPreview, *mServices.dialogs,
                                   mServices.peaksFolder, this);
    mBookActions = new BookActions(mainWindow, *mUi,
                                   {.book = *mDraft,
                                    .lister = *mLister,
                                    .preview = *mPreview,
                                    .dialogs = *mServices.dialogs,
                                    .chapters = *mChapters,
                                    .output = *mOutputSheet,
                                    .idle = [this] { return state() == RunState::Idle; }},
                                   this);
    mUpdateNotice = new UpdateNotice(mainWindow, mServices.updateFeedUrl, mServices.openUrl, this);

    // The files and their summary above, the chapters below; the user sets the share.
    auto* files = new QWidget(mainWindow);
    auto* filesLayout = new QVBoxLayout(files);
    filesLayout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, mainWindow);
    splitter->setChildrenCollapsible(false);
    // The layout's item that held the table is ours to delete.
    const std::unique_ptr<QLayoutItem> replaced(mUi->mainLayout->replaceWidget(mainTable, splitter));
    mUi->mainLayout->removeWidget(listSummary);
    filesLayout->addWidget(mainTable);
    filesLayout->addWidget(listSummary);
    splitter->addWidget(files);
    splitter->addWidget(mChapters->panel());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    mUi->menuBar->insertMenu(mUi->audiobookMenu->menuAction(), mChapters->panel()->menu());

    // Delete removes a file in the file list and a chapter in the chapter list.
    mUi->actionRemove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    mainTable->addAction(mUi->actionRemove);
    QAction* undo = mDraft->history()->createUndoAction(this, u"&Undo"_s);
    undo->setShortcut(QKeySequence(u"Ctrl+Z"_s));
    QAction* redo = mDraft->history()->createRedoAction(this, u"&Redo"_s);
    redo->setShortcuts({QKeySequence(u"Ctrl+Shift+Z"_s), QKeySequence(u"Ctrl+Y"_s)});
    QAction* first = mUi->editMenu->actions().value(0);
    mUi->editMenu->insertActions(first, {undo, redo});
    mUi->editMenu->insertSeparator(first);

    joinProgressWindow = new SheetDialog(mainWindow);
    mProgressUi->setupUi(joinProgressWindow);
    joinProgressWindow->setUserClosable(false);
    joinProgressDescription = mProgressUi->joinProgressDescription;
    joinProgressIndicator = mProgressUi->joinProgressIndicator;
    stopConvertingButton = mProgressUi->stopConvertingButton;
}

void AppController::connectActions()
{
    const auto on = [this](QAction* action, auto&& handle) {
        connect(action, &QAction::triggered, this, std::forward<decltype(handle)>(handle));
    };
    const auto clicked = [this](QPushButton* button, auto&& handle) {
        connect(button, &QPushButton::clicked, this, std::forward<decltype(handle)>(handle));
    };
    ListEditor list(*mDraft);
    on(mUi->actionAddFiles, [this] { addRow(mUi->actionAddFiles); });
    clicked(mUi->addButton, [this] { addRow(mUi->addButton); });
    on(mUi->actionRemove, [this] { deleteRow(mUi->actionRemove); });
    clicked(mUi->removeButton, [this] { deleteRow(mUi->removeButton); });
    on(mUi->actionClear, [this] { clearAllItems(mUi->actionClear); });
    clicked(mUi->clearButton, [this] { clearAllItems(mUi->clearButton); });
    on(mUi->actionSort, [this] { autoSort(mUi->actionSort); });
    clicked(mUi->sortButton, [this] { autoSort(mUi->sortButton); });
    on(mUi->actionMoveUp, [this] { moveSelectedRow(-1); });
    on(mUi->actionMoveDown, [this] { moveSelectedRow(1); });
    on(mUi->actionAddFolder, [this] {
        mServices.dialogs->beginOpenPanelSheet(
            mainWindow,
            {.title = u"Add a Folder of MP3 Files"_s,
             .allowsMultipleSelection = false,
             .canCreateDirectories = false,
             .fileTypes = {},
             .choosesFolders = true},
            [this](int returnCode, const QStringList& folders) {
                if (returnCode != 1)
                    return;
                QStringList files;
                for (const QString& folder : folders)
                    files << BookFiles::audioFilesIn(folder);
                addFiles(files, false);
            });
    });
    on(mUi->actionSortByTrack, [list]() mutable { list.sortByTrack(); });
    on(mUi->actionTitlesFromTags, [list]() mutable { list.titlesFromTags(); });
    on(mUi->actionTitlesFromFileNames, [list]() mutable { list.titlesFromFileNames(); });
    on(mUi->actionJoinChapter,
       [this] { ChapterEditor(*mDraft).joinWithPrevious(mainTable->selectedRowIndexes()); });

    // The progress sheet blocks the window and its menu; Quit still reaches
    // the user from the sheet.
    joinProgressWindow->addAction(mUi->actionQuit);
    mUi->actionQuit->setShortcutContext(Qt::ApplicationShortcut);
    connect(mUi->actionQuit, &QAction::triggered, mainWindow, &QMainWindow::close);
    mainWindow->installEventFilter(this);
    connect(joinProgressIndicator, &QProgressBar::valueChanged, this,
            [this] { showProgressInTitle(); });
    connect(joinProgressWindow, &QDialog::finished, this, [this] { showProgressInTitle(); });
    on(mUi->actionMakeAudiobook, [this] { joinAll(mUi->actionMakeAudiobook); });
    clicked(mUi->makeButton, [this] { joinAll(mUi->makeButton); });
    on(mUi->actionTags, [this] { startTagging(mUi->actionTags); });
    clicked(mUi->tagsButton, [this] { startTagging(mUi->tagsButton); });
    clicked(mOutputSheet->start(), [this] { startJoin(mOutputSheet->start()); });
    clicked(mOutputSheet->cancel(), [this] { closeJoinStart(mOutputSheet->cancel()); });
    connect(mOutputSheet->sheet(), &QDialog::rejected, this,
            [this] { closeJoinStart(mOutputSheet->sheet()); });
    clicked(stopConvertingButton, [this] { stopJoin(stopConvertingButton); });

    on(mUi->actionCheckForUpdates, [this] { mUpdateNotice->checkForUpdate(); });
    on(mUi->actionReleaseNotes, [this] { mUpdateNotice->showReleaseNote(); });
    on(mUi->actionHelp, [this] { mUpdateNotice->launchBrowser(); });

    // The line under the list follows the files as they come and change;
    // many changes at once are told once.
    const auto summary = [this] { showListSummary(); };
    for (const auto change :
         {&DraftBook::filesInserted, &DraftBook::filesRemoved, &DraftBook::detailsRead})
        connect(mDraft.get(), change, this, summary);
    connect(mLister.get(), &FileLister::listed, this, summary);
    connect(mBookActions, &BookActions::summaryChanged, this, summary);
    connect(mOutputSheet->rate(), &QComboBox::currentIndexChanged, this, summary);
    connect(mDraft.get(), &DraftBook::filesChanged, this, [this] {
        if (std::exchange(mSummaryScheduled, true))
            return;
        QTimer::singleShot(0, this, [this] {
            mSummaryScheduled = false;
            showListSummary();
        });
    });
    connect(mLister.get(), &FileLister::alreadyListed, this,
            [this](const QString& path) { selectListed(path); });
    // Once every file's tags are in, an untouched tag sheet takes the book's,
    // and a chapter file beside them is offered.
    connect(mDraft.get(), &DraftBook::detailsRead, this, [this] {
        if (mLister->isAdding() || !mDraft->allRead())
            return;
        if (mDraft->tagsAreEmpty())
            mDraft->fillTagsFromFiles(false);
        QTimer::singleShot(0, mChapters, [this] { mChapters->offerChapterFile(); });
    });
    // The window is named after the book opened in it.
    for (const auto change : {&DraftBook::edited, &DraftBook::detailsRead})
        connect(mDraft.get(), change, this, [this] {
            mBookActions->update();
            showProgressInTitle();
        });
    connect(mBookActions, &BookActions::summaryChanged, this, [this] { showProgressInTitle(); });
}

void AppController::awakeFromNib()
{
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    soundID = mServices.makeSound(Resources::pathForResource(u"complete"_s, u"aiff"_s));
    setSortAscending(true);
    mainTable->setItemDelegateForColumn(iconColumn.index, new IconCellDelegate(mainTable));
    mainTable->setItemDelegateForColumn(
        titleColumn.index, new TitleCellDelegate(QFont(u"Lucida Grande"_s, 12), mainTable));
    mainWindow->show();
    mainWindow->activateWindow();
    connect(mainTable->selectionModel(), &QItemSelectionModel::selectionChanged, mPreview,
            [this] { mPreview->tableViewSelectionDidChange(); });
    mTableModel->setDataSource(this);
    mainTable->setDataSource(this);
    mainTable->registerForDraggedTypes({u"NSGeneralPboardType"_s, u"text/uri-list"_s});
    mPreview->validatePlaybackButtons();
    mUpdateNotice->startChecking();
}

void AppController::beginSheet(QDialog* sheet)
{
    sheet->open();
}

void AppController::endSheet(QDialog* sheet)
{
    if (sheet->isVisible())
        sheet->done(1);
}

void AppController::startTagging(QObject*)
{
    mTagSheet->open();
}

void AppController::stopTagging(QObject*)
{
    mTagSheet->close();
}

// How a run ends when the application does: its tools end, and what they wrote goes.
bool AppController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainWindow && event->type() == QEvent::Close)
        applicationWillTerminate();
    return QObject::eventFilter(watched, event);
}

void AppController::applicationWillTerminate()
{
    if (state() == RunState::Idle)
        return;
    mEndedMidRun = true;
    stopJoin(this);
}

void AppController::quitApplication()
{
    applicationWillTerminate();
    mainWindow->close();
    QCoreApplication::quit();
}
