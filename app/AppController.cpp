#include "AppController.h"

#include "AudiobookTableView.h"
#include "IconCellDelegate.h"
#include "ItemTableModel.h"
#include "Resources.h"
#include "TitleCellDelegate.h"
#include "ui_MainWindow.h"

#include <QHeaderView>
#include <QMainWindow>

using namespace Qt::Literals::StringLiterals;

AppController::AppController(AppServices services, QObject* parent)
    : QObject(parent), mWindowOwner(std::make_unique<QMainWindow>()),
      mUi(std::make_unique<Ui::MainWindow>()), mServices(std::move(services))
{
    mUi->setupUi(mWindowOwner.get());
    mainWindow = mWindowOwner.get();
    ffButton = mUi->ffButton;
    rwButton = mUi->rwButton;
    ppButton = mUi->ppButton;
    toolbar = mUi->toolbar;
    mainTable = mUi->mainTable;
    playbackSlider = mUi->playbackSlider;
    if (const auto play = Resources::pathForResource(u"play"_s, u"png"_s))
        ppButton->setIcon(QIcon(*play));
    if (const auto icon = Resources::pathForResource(u"fablewick"_s, u"png"_s))
        mainWindow->setWindowIcon(QIcon(*icon));
    mainTable->setTextElideMode(Qt::ElideMiddle);
    setUpTableColumns();
    connectActions();
}

AppController::~AppController() = default;

void AppController::setUpTableColumns()
{
    mTableModel = new ItemTableModel({{u"iconColumn"_s},
                                      {u"titleColumn"_s},
                                      {u"bitrateColumn"_s},
                                      {u"sampleFrequencyColumn"_s},
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
    header->setStretchLastSection(true);
}

void AppController::connectActions()
{
    connect(mUi->actionAddFiles, &QAction::triggered, this, [this] { addRow(mUi->actionAddFiles); });
    connect(mUi->addButton, &QPushButton::clicked, this, [this] { addRow(mUi->addButton); });
    connect(mUi->actionRemove, &QAction::triggered, this, [this] { deleteRow(mUi->actionRemove); });
    connect(mUi->removeButton, &QPushButton::clicked, this, [this] { deleteRow(mUi->removeButton); });
    connect(mUi->actionClear, &QAction::triggered, this, [this] { clearAllItems(mUi->actionClear); });
    connect(mUi->clearButton, &QPushButton::clicked, this,
            [this] { clearAllItems(mUi->clearButton); });
    connect(mUi->actionSort, &QAction::triggered, this, [this] { autoSort(mUi->actionSort); });
    connect(mUi->sortButton, &QPushButton::clicked, this, [this] { autoSort(mUi->sortButton); });
    connect(mUi->actionQuit, &QAction::triggered, mainWindow, &QMainWindow::close);
}

void AppController::awakeFromNib()
{
    mState = 0;
    soundID = mServices.makeSound(Resources::pathForResource(u"complete"_s, u"aiff"_s));
    setSortAscending(true);
    TableData = ItemList();

    mainTable->setItemDelegateForColumn(iconColumn.index, new IconCellDelegate(mainTable));
    mainTable->setItemDelegateForColumn(
        titleColumn.index, new TitleCellDelegate(QFont(u"Lucida Grande"_s, 12), mainTable));

    mainWindow->show();
    mainWindow->activateWindow();
    mTableModel->setDataSource(this);
}

void AppController::sheetDidEnd(QWidget*, int, void*) {}

void AppController::reloadTable()
{
    mTableModel->reloadData();
}
