// The item list: adding, removing, sorting and retitling the source files.
#include "AppController.h"
#include "AudioKind.h"
#include "AudiobookTableView.h"
#include "ItemTableModel.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QStyle>
#include <QTimer>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QIcon fileIcon(const QString& path)
{
    static const QFileIconProvider provider;
    QIcon icon = provider.icon(QFileInfo(path));
    // A file that cannot be read still gets a picture.
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return QIcon(icon.pixmap(QSize(32, 32)));
}

} // namespace

void AppController::createItem(const QString& path)
{
    if (selectListed(path))
        return;
    beginChange(u"Add File"_s);
    appendAndSort({newRecord(path)}, 1);
}

bool AppController::selectListed(const QString& path)
{
    if (!mListedPaths.contains(path))
        return false;
    for (qsizetype i = 0; i < TableData.size(); ++i) {
        if (TableData.at(i)->pathColumn == path) {
            mainTable->selectRowIndexes({static_cast<int>(i)}, false);
            break;
        }
    }
    return true;
}

ItemRecordPtr AppController::newRecord(const QString& path)
{
    auto record = std::make_shared<ItemRecord>();
    record->pathColumn = path;
    record->titleColumn = ItemRecord::titleForPath(path);
    record->iconColumn = fileIcon(path);
    mListedPaths.insert(path);
    readDetails(path);
    return record;
}

void AppController::appendAndSort(QList<ItemRecordPtr> records, int sorts)
{
    const auto count = static_cast<int>(records.size());
    mTableModel->insertRecords(static_cast<int>(TableData.size()), count,
                               [&] { TableData.append(std::move(records)); });
    if (sorts <= 0)
        return;
    // Each sort goes the other way from the one before.
    const bool odd = sorts % 2 == 1;
    const bool ascending = odd ? sortAscending() : !sortAscending();
    sortList(ascending);
    setSortAscending(odd ? !sortAscending() : sortAscending());
}

void AppController::addRow(QObject*)
{
    const OpenPanelSpec panel{.title = u"Add MP3 Files"_s,
                              .allowsMultipleSelection = true,
                              .canCreateDirectories = false,
                              .fileTypes = QStringList{u"mp3"_s} + AudioKind::otherExtensions(),
                              .choosesFolders = false};
    mServices.dialogs->beginOpenPanelSheet(mainWindow, panel,
                                           [this](int returnCode, const QStringList& filenames) {
                                               openPanelDidEnd(returnCode, filenames);
                                           });
}

void AppController::openPanelDidEnd(int returnCode, const QStringList& filenames)
{
    if (returnCode != 1)
        return;
    addFiles(filenames, false);
}

void AppController::applicationOpenFiles(const QStringList& filenames)
{
    if (filenames.size() == 1 && TableData.isEmpty() && mFilesToAdd.empty() &&
        QFileInfo(filenames.first()).isFile() && looksLikeBook(filenames.first())) {
        openBookFile(filenames.first());
        return;
    }
    QStringList mp3Files;
    for (const QString& path : filenames) {
        if (QFileInfo(path).isDir())
            mp3Files << mp3FilesIn(path);
        else if (AudioKind::isListed(path))
            mp3Files << path;
    }
    addFiles(mp3Files, true);
}

void AppController::addFiles(const QStringList& paths, bool sortWhenAdded)
{
    beginChange(paths.size() == 1 ? u"Add File"_s : u"Add Files"_s);
    mAddBatch = mChangeBatch;
    for (qsizetype i = 0; i < paths.size(); ++i)
        mFilesToAdd.push_back({paths.at(i), sortWhenAdded && i == paths.size() - 1});
    if (sortWhenAdded && paths.isEmpty())
        autoSort(this);
    addQueuedFiles(true);
}

// Files are listed a turn at a time, so that the window stays alive while
// hundreds arrive, and each turn sorts once, leaving the list as a sort
// after each file would. The first few always go in at once, so a handful
// of files is listed when the call returns; later turns stop when their
// time is up.
void AppController::addQueuedFiles(bool atOnce)
{
    constexpr int kFilesAtOnce = 8;
    constexpr qint64 kTurnMs = 20;
    QElapsedTimer turn;
    turn.start();
    // Each turn of one addition is part of the one change that Undo takes back.
    if (mChangeBatch != mAddBatch)
        mChangeText = u"Add Files"_s;
    mChangeBatch = mAddBatch;
    QList<ItemRecordPtr> added;
    int sorts = 0;
    const auto listAdded = [&] {
        appendAndSort(std::exchange(added, {}), std::exchange(sorts, 0));
    };
    for (int count = 0; !mFilesToAdd.empty() &&
                        ((atOnce && count < kFilesAtOnce) || turn.elapsed() < kTurnMs);
         ++count) {
        const QueuedFile next = mFilesToAdd.front();
        mFilesToAdd.pop_front();
        if (mListedPaths.contains(next.path)) {
            listAdded();
            selectListed(next.path);
        } else {
            added << newRecord(next.path);
            ++sorts;
        }
        if (next.sortAfter)
            ++sorts;
    }
    listAdded();
    showListSummary();
    if (!mFilesToAdd.empty() && !mAddingScheduled) {
        mAddingScheduled = true;
        QTimer::singleShot(0, this, [this] {
            mAddingScheduled = false;
            addQueuedFiles(false);
        });
    }
}

void AppController::deleteRow(QObject*)
{
    if (!atLeastOneSelected())
        return;
    const int row = mainTable->selectedRow();
    if (row < 0 || row >= TableData.size())
        return;
    if (TableData.at(row)->pathColumn == mCurrentPreviewPath &&
        isPlaying(mAudioPreviewObject.get())) {
        mAudioPreviewObject->stop();
        setPreviewTimer(nullptr);
    }
    beginChange(u"Remove File"_s);
    mListedPaths.remove(TableData.at(row)->pathColumn);
    mTableModel->removeRecord(row, [&] { TableData.removeAt(row); });
    mainTable->deselectAll();
    validatePlaybackButtons();
}

void AppController::clearAllItems(QObject*)
{
    if (!atLeastOneAdded())
        return;
    if (isPlaying(mAudioPreviewObject.get())) {
        mAudioPreviewObject->stop();
        setPreviewTimer(nullptr);
    }
    beginChange(u"Clear List"_s);
    mListedPaths.clear();
    mTableModel->removeAllRecords([this] { TableData.clear(); });
    validatePlaybackButtons();
}

void AppController::autoSort(QObject*)
{
    beginChange(u"Sort by Path"_s);
    sortList(sortAscending());
    setSortAscending(!sortAscending());
}

void AppController::sortList(bool ascending)
{
    const ItemList before = TableData;
    QHash<const ItemRecord*, int> rowOf;
    mTableModel->reorderRecords(
        [&] {
            std::stable_sort(TableData.begin(), TableData.end(),
                             [ascending](const ItemRecordPtr& a, const ItemRecordPtr& b) {
                                 const int order = a->pathColumn.compare(b->pathColumn);
                                 return ascending ? order < 0 : order > 0;
                             });
            for (qsizetype i = 0; i < TableData.size(); ++i)
                rowOf.insert(TableData.at(i).get(), static_cast<int>(i));
        },
        [&](int oldRow) { return rowOf.value(before.at(oldRow).get(), oldRow); });
}

bool AppController::atLeastOneAdded() const
{
    return !TableData.isEmpty();
}

bool AppController::atLeastOneSelected() const
{
    return !mainTable->selectedRowIndexes().isEmpty();
}

int AppController::numberOfRowsInTableView(const AudiobookTableView*) const
{
    return static_cast<int>(TableData.size());
}

QVariant AppController::tableViewObjectValueForTableColumn(const AudiobookTableView*,
                                                           const TableColumn& column, int row) const
{
    if (row < 0 || row >= TableData.size())
        return {};
    return TableData.at(row)->valueForKey(column.identifier);
}

void AppController::tableViewSetObjectValue(AudiobookTableView*, const QVariant& value,
                                            const TableColumn&, int row)
{
    if (row < 0 || row >= TableData.size())
        return;
    beginChange(u"Retitle File"_s);
    TableData.at(row)->titleColumn = value.toString();
}
