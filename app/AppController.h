#pragma once

#include "AppServices.h"
#include "ItemRecord.h"
#include "TableColumn.h"
#include "TableDataSource.h"

#include <QObject>
#include <QStringList>

#include <memory>

class AudiobookTableView;
class ItemTableModel;
class QMainWindow;
class QPushButton;
class QSlider;
class QToolBar;
namespace Ui {
class MainWindow;
}

// The one controller: the main window, the item list, the production run and
// the update notice.
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
    void sheetDidEnd(QWidget* sheet, int returnCode, void* contextInfo);

    // Item list.
    void createItem(const QString& path);
    void addRow(QObject* sender = nullptr);
    void openPanelDidEnd(int returnCode, const QStringList& filenames);
    void applicationOpenFiles(const QStringList& filenames);
    void deleteRow(QObject* sender = nullptr);
    void clearAllItems(QObject* sender = nullptr);
    void autoSort(QObject* sender = nullptr);
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

    [[nodiscard]] const ItemList& tableData() const { return TableData; }
    [[nodiscard]] int state() const { return mState; }
    [[nodiscard]] QMainWindow* window() const { return mainWindow; }
    [[nodiscard]] AudiobookTableView* table() const { return mainTable; }
    [[nodiscard]] ItemTableModel* tableModel() const { return mTableModel; }

private:
    void connectActions();
    void setUpTableColumns();
    void reloadTable();

    // The interface description and what the controller uses of the desktop.
    std::unique_ptr<QMainWindow> mWindowOwner;
    std::unique_ptr<Ui::MainWindow> mUi;
    AppServices mServices;
    ItemTableModel* mTableModel = nullptr;

    int mState = 0;
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
    QSlider* playbackSlider = nullptr;
    bool mSortAscending = true;
};
