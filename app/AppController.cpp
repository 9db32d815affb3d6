#include "AppController.h"
#include "DesktopNotifier.h"

#include "ArtworkWell.h"
#include "AudiobookTableView.h"
#include "IconCellDelegate.h"
#include "ItemTableModel.h"
#include "Resources.h"
#include "SheetDialog.h"
#include "TitleCellDelegate.h"
#include "ui_JoinProgressWindow.h"
#include "ui_MainWindow.h"
#include "ui_OutputWindow.h"
#include "ui_TagWindow.h"
#include "ui_UpdateWindow.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QSlider>
#include <QThreadPool>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

AppController::AppController(AppServices services, QObject* parent)
    : QObject(parent), mWindowOwner(std::make_unique<QMainWindow>()),
      mUi(std::make_unique<Ui::MainWindow>()), mOutputUi(std::make_unique<Ui::OutputWindow>()),
      mTagUi(std::make_unique<Ui::TagWindow>()),
      mProgressUi(std::make_unique<Ui::JoinProgressWindow>()),
      mUpdateUi(std::make_unique<Ui::UpdateWindow>()), mServices(std::move(services))
{
    mUi->setupUi(mWindowOwner.get());
    mainWindow = mWindowOwner.get();
    ffButton = mUi->ffButton;
    rwButton = mUi->rwButton;
    ppButton = mUi->ppButton;
    toolbar = mUi->toolbar;
    mainTable = mUi->mainTable;
    playbackSlider = mUi->playbackSlider;
    listSummary = mUi->listSummary;
    mNotifier = new DesktopNotifier(this);
    mReaders = new QThreadPool(this);
    if (const auto play = Resources::pathForResource(u"play"_s, u"png"_s))
        ppButton->setIcon(QIcon(*play));
    if (const auto icon = Resources::pathForResource(u"fablewick"_s, u"png"_s))
        mainWindow->setWindowIcon(QIcon(*icon));
    mainTable->setTextElideMode(Qt::ElideMiddle);
    setUpTableColumns();
    setUpChapterPanel();
    setUpBookActions();
    setUpSheets();
    connectActions();
}

AppController::~AppController()
{
    // Details not yet read are not waited for.
    mReaders->clear();
    mReaders->waitForDone();
    // A save is let finish, so that the book is whole; a split stops.
    mBookJob.reset();
    mSilenceSearch.reset();
    theUpdater.reset();
    mBookRun.reset();
    // The window goes while the list lives: a title being edited is saved
    // into it as the window closes.
    mWindowOwner.reset();
}

void AppController::setUpTableColumns()
{
    mTableModel = new ItemTableModel({{u"iconColumn"_s},
                                      {u"titleColumn"_s},
                                      {u"bitrateColumn"_s},
                                      {u"sampleFrequencyColumn"_s},
                                      {u"lengthColumn"_s},
                                      {u"loudnessColumn"_s},
                                      {u"pathColumn"_s}},
                                     mainTable, mainTable);
    mainTable->setModel(mTableModel);
    iconColumn = mTableModel->column(u"iconColumn"_s);
    titleColumn = mTableModel->column(u"titleColumn"_s);

    QHeaderView* header = mainTable->horizontalHeader();
    header->setSectionResizeMode(iconColumn.index, QHeaderView::Fixed);
    header->resizeSection(iconColumn.index, 44);
    header->resizeSection(titleColumn.index, 300);
    const TableColumn bitrate = mTableModel->column(u"bitrateColumn"_s);
    const TableColumn frequency = mTableModel->column(u"sampleFrequencyColumn"_s);
    header->resizeSection(bitrate.index, 120);
    header->resizeSection(frequency.index, 130);
    header->resizeSection(mTableModel->column(u"lengthColumn"_s).index, 80);
    header->resizeSection(mTableModel->column(u"loudnessColumn"_s).index, 90);
    header->setStretchLastSection(true);
}

void AppController::setUpSheets()
{
    outputWindow = new SheetDialog(mainWindow);
    mOutputUi->setupUi(outputWindow);
    outputName = mOutputUi->outputName;
    outputRate = mOutputUi->outputRate;
    outputFrequency = mOutputUi->outputFrequency;
    outputEncoding = mOutputUi->outputEncoding;
    outputChannels = mOutputUi->outputChannels;
    outputEncoding->addItems({u"AAC Bookmark (.m4b audiobook with chapters)"_s,
                              u"AAC Standard (.m4a)"_s, u"MP3 (the files joined as they are)"_s});
    outputRate->addItems({u"Same as source"_s, u"32k"_s, u"48k"_s, u"64k"_s, u"96k"_s, u"128k"_s,
                          u"192k"_s, u"256k"_s});
    outputRate->setCurrentText(u"64k"_s);
    outputFrequency->addItems({u"Same as source"_s, u"22050"_s, u"44100"_s, u"48000"_s});
    outputFrequency->setCurrentText(u"44100"_s);
    outputChannels->addItems({u"Mono"_s, u"Stereo"_s});
    mOutputUi->outputEvenVolume->addItems({u"Off"_s, u"Whole Book"_s, u"Each File"_s});
    // Bit rate, sample rate and channels only matter when the audio is re-encoded.
    auto followEncoding = [this] {
        const bool levels = evenVolume() != EvenVolume::Off;
        const bool encodes = encodingTitle().contains(u"AAC"_s) || levels;
        mOutputUi->outputEvenVolumeNote->setVisible(levels);
        mOutputUi->outputEvenVolumeNote->setText(
            levels ? u"Even Volume measures every file and brings the book to -18 LUFS, its peaks "
                     u"below -1.5 dBTP. It encodes every file: MP3 files are not joined as they "
                     u"are, and AAC files are not copied."_s
                   : QString());
        for (QWidget* w :
             {static_cast<QWidget*>(outputRate), static_cast<QWidget*>(outputFrequency),
              static_cast<QWidget*>(outputChannels)})
            w->setEnabled(encodes);
    };
    connect(outputEncoding, &QComboBox::currentTextChanged, this, followEncoding);
    connect(mOutputUi->outputEvenVolume, &QComboBox::currentIndexChanged, this, followEncoding);
    connect(outputEncoding, &QComboBox::currentTextChanged, this, [this] { showChapterNote(); });
    followEncoding();

    tagWindow = new SheetDialog(mainWindow);
    mTagUi->setupUi(tagWindow);
    title = mTagUi->title;
    artist = mTagUi->artist;
    album = mTagUi->album;
    albumArtist = mTagUi->albumArtist;
    comment = mTagUi->comment;
    narrator = mTagUi->narrator;
    year = mTagUi->year;
    series = mTagUi->series;
    seriesNumber = mTagUi->seriesNumber;
    bookDescription = mTagUi->description;
    artwork = mTagUi->artwork;

    joinProgressWindow = new SheetDialog(mainWindow);
    mProgressUi->setupUi(joinProgressWindow);
    joinProgressWindow->setUserClosable(false);
    joinProgressDescription = mProgressUi->joinProgressDescription;
    joinProgressIndicator = mProgressUi->joinProgressIndicator;
    stopConvertingButton = mProgressUi->stopConvertingButton;

    updateWindow = new SheetDialog(mainWindow);
    mUpdateUi->setupUi(updateWindow);
    updateOk = mUpdateUi->updateOk;
    updateMessage = mUpdateUi->updateMessage;
    if (const auto icon = Resources::pathForResource(u"fablewick"_s, u"png"_s))
        mUpdateUi->updateIcon->setPixmap(QPixmap(*icon));
}

void AppController::chooseArtwork()
{
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns << u"*."_s + QString::fromLatin1(format);
    const QString path =
        QFileDialog::getOpenFileName(tagWindow, u"Choose Cover Art"_s, QDir::homePath(),
                                     u"Images (%1)"_s.arg(patterns.join(u' ')));
    if (!path.isEmpty())
        artwork->setImageFromFile(path);
}

void AppController::connectActions()
{
    connectListActions();
    connectRunActions();
    connectUpdateActions();
    connectPreviewActions();
    connectChapterActions();
}

// Adding, removing and ordering the list's files, and the list's summary.
void AppController::connectListActions()
{
    connect(mUi->actionAddFiles, &QAction::triggered, this,
            [this] { addRow(mUi->actionAddFiles); });
    connect(mUi->addButton, &QPushButton::clicked, this, [this] { addRow(mUi->addButton); });
    connect(mUi->actionRemove, &QAction::triggered, this, [this] { deleteRow(mUi->actionRemove); });
    connect(mUi->removeButton, &QPushButton::clicked, this,
            [this] { deleteRow(mUi->removeButton); });
    connect(mUi->actionClear, &QAction::triggered, this,
            [this] { clearAllItems(mUi->actionClear); });
    connect(mUi->clearButton, &QPushButton::clicked, this,
            [this] { clearAllItems(mUi->clearButton); });
    connect(mUi->actionSort, &QAction::triggered, this, [this] { autoSort(mUi->actionSort); });
    connect(mUi->actionMoveUp, &QAction::triggered, this, [this] { moveRowUp(mUi->actionMoveUp); });
    connect(mUi->actionAddFolder, &QAction::triggered, this,
            [this] { addFolder(mUi->actionAddFolder); });
    connect(mUi->actionSortByTrack, &QAction::triggered, this,
            [this] { sortByTrack(mUi->actionSortByTrack); });
    connect(mUi->actionTitlesFromTags, &QAction::triggered, this,
            [this] { titlesFromTags(mUi->actionTitlesFromTags); });
    connect(mUi->actionTitlesFromFileNames, &QAction::triggered, this,
            [this] { titlesFromFileNames(mUi->actionTitlesFromFileNames); });
    connect(mUi->actionJoinChapter, &QAction::triggered, this,
            [this] { joinWithPreviousChapter(mUi->actionJoinChapter); });
    connect(mUi->actionMoveDown, &QAction::triggered, this,
            [this] { moveRowDown(mUi->actionMoveDown); });
    connect(mUi->sortButton, &QPushButton::clicked, this, [this] { autoSort(mUi->sortButton); });
    for (const auto change : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(mTableModel, change, this, [this] { showListSummary(); });
    connect(mTableModel, &QAbstractItemModel::modelReset, this, [this] { showListSummary(); });
    connect(outputRate, &QComboBox::currentIndexChanged, this, [this] { showListSummary(); });
}

// Quit, the tag and output sheets, and a run's progress.
void AppController::connectRunActions()
{
    // The progress sheet blocks the window and its menu; Quit still reaches
    // the user from the sheet.
    joinProgressWindow->addAction(mUi->actionQuit);
    mUi->actionQuit->setShortcutContext(Qt::ApplicationShortcut);
    connect(mUi->actionQuit, &QAction::triggered, mainWindow, &QMainWindow::close);
    mainWindow->installEventFilter(this);
    connect(joinProgressIndicator, &QProgressBar::valueChanged, this,
            [this] { showProgressInTitle(); });
    connect(joinProgressWindow, &QDialog::finished, this, [this] { showProgressInTitle(); });

    connect(mUi->actionMakeAudiobook, &QAction::triggered, this,
            [this] { joinAll(mUi->actionMakeAudiobook); });
    connect(mUi->makeButton, &QPushButton::clicked, this, [this] { joinAll(mUi->makeButton); });
    connect(mUi->actionTags, &QAction::triggered, this, [this] { startTagging(mUi->actionTags); });
    connect(mUi->tagsButton, &QPushButton::clicked, this,
            [this] { startTagging(mUi->tagsButton); });
    connect(mOutputUi->outputStart, &QPushButton::clicked, this,
            [this] { startJoin(mOutputUi->outputStart); });
    connect(mOutputUi->outputCancel, &QPushButton::clicked, this,
            [this] { closeJoinStart(mOutputUi->outputCancel); });
    connect(outputWindow, &QDialog::rejected, this, [this] { closeJoinStart(outputWindow); });
    connect(mTagUi->tagDone, &QPushButton::clicked, this, [this] { stopTagging(mTagUi->tagDone); });
    connect(tagWindow, &QDialog::rejected, this, [this] { stopTagging(tagWindow); });
    connect(mTagUi->chooseArtwork, &QPushButton::clicked, this, [this] { chooseArtwork(); });
    connect(mTagUi->removeArtwork, &QPushButton::clicked, this, [this] { artwork->setImage({}); });
    connect(mTagUi->fillFromFiles, &QPushButton::clicked, this,
            [this] { fillFromFiles(mTagUi->fillFromFiles); });
    connect(stopConvertingButton, &QPushButton::clicked, this,
            [this] { stopJoin(stopConvertingButton); });
}

void AppController::connectUpdateActions()
{
    connect(mUi->actionCheckForUpdates, &QAction::triggered, this,
            [this] { checkForUpdate(mUi->actionCheckForUpdates); });
    connect(mUi->actionReleaseNotes, &QAction::triggered, this,
            [this] { showReleaseNote(mUi->actionReleaseNotes); });
    connect(mUi->actionHelp, &QAction::triggered, this, [this] { launchBrowser(mUi->actionHelp); });
    connect(updateOk, &QPushButton::clicked, this, [this] { closeUpdateWindow(updateOk); });
    connect(updateWindow, &QDialog::rejected, this, [this] { closeUpdateWindow(updateWindow); });
}

void AppController::connectPreviewActions()
{
    connect(ppButton, &QPushButton::clicked, this, [this] { playPreview(ppButton); });
    connect(rwButton, &QPushButton::clicked, this, [this] { rewindPreview(rwButton); });
    connect(ffButton, &QPushButton::clicked, this, [this] { fastForwardPreview(ffButton); });
    connect(playbackSlider, &QSlider::sliderReleased, this,
            [this] { changePlaybackPosition(playbackSlider); });
    // Clicks beside the handle and keys move it without a drag.
    connect(playbackSlider, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QTimer::singleShot(0, this, [this] { changePlaybackPosition(playbackSlider); });
    });
}

void AppController::awakeFromNib()
{
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    soundID = mServices.makeSound(Resources::pathForResource(u"complete"_s, u"aiff"_s));
    setSortAscending(true);
    TableData = ItemList();

    mainTable->setItemDelegateForColumn(iconColumn.index, new IconCellDelegate(mainTable));
    mainTable->setItemDelegateForColumn(
        titleColumn.index, new TitleCellDelegate(QFont(u"Lucida Grande"_s, 12), mainTable));

    mainWindow->show();
    mainWindow->activateWindow();
    connect(mainTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
    mTableModel->setDataSource(this);
    mainTable->setDataSource(this);
    mainTable->registerForDraggedTypes({u"NSGeneralPboardType"_s, u"text/uri-list"_s});

    setCurrentPreviewPath(std::nullopt);
    setAudioPreviewObject(mServices.openMovie(std::nullopt));
    if (mAudioPreviewObject)
        mAudioPreviewObject->stop();

    ffButton->setAutoRepeatDelay(100);
    ffButton->setAutoRepeatInterval(300);
    rwButton->setAutoRepeatDelay(100);
    rwButton->setAutoRepeatInterval(300);

    theUpdater = std::make_unique<UpdateChecker>(mServices.updateFeedUrl);
    theUpdater->setDelegate(this);
    theUpdater->setAutoUpdate(true);
    theUpdater->startChecking();
}

void AppController::beginSheet(QDialog* sheet)
{
    sheet->open();
}

void AppController::endSheet(QDialog* sheet)
{
    if (!sheet->isVisible())
        return;
    sheet->done(1);
}
