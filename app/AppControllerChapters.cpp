// The chapter list: chapters kept with their files, edited by hand, and
// Undo and Redo of every change to the list.
#include "AppController.h"
#include "BookFiles.h"
#include "AudiobookTableView.h"
#include "ChapterFile.h"
#include "ChapterList.h"
#include "ChapterPanel.h"
#include "ChapterTableModel.h"
#include "ItemTableModel.h"
#include "ListChange.h"
#include "SilenceSheet.h"
#include "ui_MainWindow.h"
#include "ui_OutputWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSaveFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

using namespace Qt::Literals::StringLiterals;

namespace {

// Two starts within a millisecond are one: the book keeps milliseconds.
bool sameStart(double a, double b)
{
    return std::abs(a - b) < 0.0005;
}

} // namespace

void AppController::setUpChapterPanel()
{
    mChapterPanel = new ChapterPanel(mainWindow);
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
    splitter->addWidget(mChapterPanel);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    // Delete removes a file in the file list and a chapter in the chapter list.
    mUi->actionRemove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    mainTable->addAction(mUi->actionRemove);

    mHistory = new QUndoStack(this);
    // Each step holds the list twice, about 200 bytes a file: a hundred steps
    // of a thousand files take 20 MB.
    mHistory->setUndoLimit(100);
    QAction* undo = mHistory->createUndoAction(this, u"&Undo"_s);
    undo->setShortcut(QKeySequence(u"Ctrl+Z"_s));
    QAction* redo = mHistory->createRedoAction(this, u"&Redo"_s);
    redo->setShortcuts({QKeySequence(u"Ctrl+Shift+Z"_s), QKeySequence(u"Ctrl+Y"_s)});
    QAction* first = mUi->editMenu->actions().value(0);
    mUi->editMenu->insertActions(first, {undo, redo});
    mUi->editMenu->insertSeparator(first);
    mUi->menuBar->insertMenu(mUi->audiobookMenu->menuAction(), mChapterPanel->menu());
    mSilenceSheet = new SilenceSheet(mainWindow);
}

void AppController::connectChapterActions()
{
    const ChapterPanel::Actions& actions = mChapterPanel->actions();
    ChapterTableModel* model = mChapterPanel->model();
    connect(model, &ChapterTableModel::retitleAsked, this,
            [this](int row, const QString& text) { retitleChapter(row, text); });
    connect(model, &ChapterTableModel::moveAsked, this,
            [this](int row, double start) { moveChapter(row, start); });
    connect(actions.remove, &QAction::triggered, this, [this] { removeChapter(); });
    connect(actions.play, &QAction::triggered, this, [this] { playChapter(); });
    connect(actions.addHere, &QAction::triggered, this, [this] { addChapterHere(); });
    connect(actions.earlierSecond, &QAction::triggered, this, [this] { nudgeChapter(-1.0); });
    connect(actions.earlierTenth, &QAction::triggered, this, [this] { nudgeChapter(-0.1); });
    connect(actions.laterTenth, &QAction::triggered, this, [this] { nudgeChapter(0.1); });
    connect(actions.laterSecond, &QAction::triggered, this, [this] { nudgeChapter(1.0); });
    connect(actions.accept, &QAction::triggered, this, [this] { acceptProposal(); });
    connect(actions.acceptAll, &QAction::triggered, this, [this] { settleProposals(true); });
    connect(actions.dropAll, &QAction::triggered, this, [this] { settleProposals(false); });
    connect(actions.onePerFile, &QAction::triggered, this, [this] { oneChapterPerFile(); });
    connect(actions.fromFiles, &QAction::triggered, this, [this] { chaptersFromFiles(); });
    connect(actions.findSilence, &QAction::triggered, this, [this] { findChaptersBySilence(); });
    connect(actions.splitLong, &QAction::triggered, this, [this] { splitLongChapters(); });
    connect(actions.importFile, &QAction::triggered, this, [this] { importChapters(); });
    connect(actions.exportFile, &QAction::triggered, this, [this] { exportChapters(); });
    connect(mSilenceSheet, &SilenceSheet::searchAsked, this, [this] { startSilenceSearch(); });
    connect(mSilenceSheet, &SilenceSheet::stopAsked, this, [this] {
        if (mSilenceSearch)
            mSilenceSearch->stop();
    });
    // Every change to the list, whatever made it, is one step of the history.
    for (const auto change : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(mTableModel, change, this, [this] { noteListChange(); });
    connect(mTableModel, &QAbstractItemModel::modelReset, this, [this] { noteListChange(); });
    connect(mTableModel, &QAbstractItemModel::layoutChanged, this, [this] { noteListChange(); });
    connect(mTableModel, &QAbstractItemModel::dataChanged, this, [this] { noteListChange(); });
    mSettled = ListState::of(TableData);
}

void AppController::beginChange(const QString& text)
{
    mChangeText = text;
    mChangeBatch = ++mBatches;
}

void AppController::noteListChange()
{
    if (mRestoring)
        return;
    ListState now = ListState::of(TableData);
    if (now != mSettled) {
        ListState before = std::exchange(mSettled, now);
        if (mBook)
            mBook->savedNote.clear();
        mHistory->push(new ListChange(
            mChangeText, std::move(before), std::move(now),
            [this](const ListState& state) { restoreList(state); }, mChangeBatch));
    }
    showChapters();
}

void AppController::restoreList(const ListState& state)
{
    mRestoring = true;
    if (mPreviewRecord && !state.order.contains(mPreviewRecord) &&
        isPlaying(mAudioPreviewObject.get())) {
        mAudioPreviewObject->stop();
        setPreviewTimer(nullptr);
    }
    mTableModel->resetRecords([&] { state.restore(TableData); });
    mListedPaths.clear();
    for (const ItemRecordPtr& record : std::as_const(TableData))
        mListedPaths.insert(record->pathColumn);
    mSettled = state;
    mRestoring = false;
    showChapters();
    showListSummary();
    validatePlaybackButtons();
}

void AppController::showChapters(std::optional<ChapterTarget> select)
{
    ChapterTableModel* model = mChapterPanel->model();
    if (!select) {
        const int row = mChapterPanel->currentRow();
        if (row >= 0) {
            const ChapterTableModel::Row& current = model->rows().at(row);
            select = ChapterTarget{current.record, current.offset, current.proposed};
        }
    }
    model->setRows(ChapterTableModel::rowsFor(TableData));
    updateBookActions();
    if (!select)
        return;
    const QList<ChapterTableModel::Row>& rows = model->rows();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).record == select->record && rows.at(i).proposed == select->proposed &&
            sameStart(rows.at(i).offset, select->offset)) {
            mChapterPanel->selectRow(static_cast<int>(i));
            return;
        }
    }
}

const ChapterTableModel::Row* AppController::chapterRow(int row) const
{
    const QList<ChapterTableModel::Row>& rows = mChapterPanel->model()->rows();
    if (row < 0 || row >= rows.size() || !TableData.contains(rows.at(row).record))
        return nullptr;
    return &rows.at(row);
}

QList<ChapterMark> AppController::startsIn(const ItemRecordPtr& record) const
{
    QList<ChapterMark> starts = record->chapterStarts();
    // The book's first chapter is there whether or not its file says so.
    if (!TableData.isEmpty() && record == TableData.first() &&
        (starts.isEmpty() || starts.first().start > 0))
        starts.prepend(ChapterMark{});
    return starts;
}

void AppController::setStartsIn(const ItemRecordPtr& record, QList<ChapterMark> starts)
{
    std::stable_sort(starts.begin(), starts.end(),
                     [](const ChapterMark& a, const ChapterMark& b) { return a.start < b.start; });
    record->editedChapters = std::move(starts);
}

void AppController::retitleChapter(int row, const QString& text)
{
    const ChapterTableModel::Row* chapter = chapterRow(row);
    if (!chapter || chapter->proposed)
        return;
    const ItemRecordPtr record = chapter->record;
    QList<ChapterMark> starts = startsIn(record);
    for (ChapterMark& mark : starts) {
        if (sameStart(mark.start, chapter->offset))
            mark.title = text;
    }
    beginChange(u"Retitle Chapter"_s);
    setStartsIn(record, std::move(starts));
    mTableModel->recordsChanged();
}

bool AppController::placeChapter(const ChapterTableModel::Row& chapter, double start,
                                 const QString& change)
{
    // The book always starts with a chapter: its first one stays at 0.
    if (chapter.start <= 0 && !chapter.proposed)
        return false;
    QList<double> lengths;
    for (const ItemRecordPtr& record : std::as_const(TableData))
        lengths << record->lengthColumn.value_or(0);
    const auto place = ChapterList::located(lengths, start);
    if (!place)
        return false;
    const ItemRecordPtr target = TableData.at(place->first);
    const double offset = place->second;
    ChapterMark moved;
    QList<ChapterMark> from =
        chapter.proposed ? chapter.record->proposals : startsIn(chapter.record);
    for (qsizetype i = 0; i < from.size(); ++i) {
        if (sameStart(from.at(i).start, chapter.offset)) {
            moved = from.takeAt(i);
            break;
        }
    }
    moved.start = offset;
    // A file's own chapter keeps the file's title when it moves inside the
    // file or to another; an untitled one inside a file stays numbered.
    if (moved.title.isEmpty() && !chapter.proposed && chapter.offset == 0)
        moved.title = chapter.title;
    const bool within = target == chapter.record && !chapter.proposed;
    QList<ChapterMark> to = within ? from : startsIn(target);
    // Where another chapter starts already, nothing changes.
    if (std::any_of(to.begin(), to.end(),
                    [offset](const ChapterMark& mark) { return sameStart(mark.start, offset); }))
        return false;
    to.append(moved);
    beginChange(change);
    if (chapter.proposed)
        chapter.record->proposals = from;
    else if (!within)
        setStartsIn(chapter.record, from);
    setStartsIn(target, std::move(to));
    mTableModel->recordsChanged();
    showChapters(ChapterTarget{target, offset, false});
    return true;
}

void AppController::moveChapter(int row, double start)
{
    const ChapterTableModel::Row* chapter = chapterRow(row);
    if (!chapter || chapter->proposed)
        return;
    const ChapterTableModel::Row copy = *chapter;
    if (!placeChapter(copy, start, u"Move Chapter"_s))
        QApplication::beep();
}

void AppController::nudgeChapter(double seconds)
{
    const ChapterTableModel::Row* chapter = chapterRow(mChapterPanel->currentRow());
    if (!chapter || chapter->proposed)
        return;
    const ChapterTableModel::Row copy = *chapter;
    if (!placeChapter(copy, std::round((copy.start + seconds) * 1000.0) / 1000.0,
                      u"Nudge Chapter"_s))
        QApplication::beep();
}

QString AppController::shiftChaptersBy(double seconds, bool afterSelected)
{
    const QList<ChapterTableModel::Row> rows = mChapterPanel->model()->rows();
    QList<double> lengths;
    double total = 0;
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        lengths << record->lengthColumn.value_or(0);
        total += lengths.constLast();
    }
    // The book's first chapter stays at its start.
    const int selected = mChapterPanel->currentRow();
    const qsizetype first = afterSelected && selected >= 0 ? selected + 1 : 1;
    struct Moved
    {
        ItemRecordPtr from;
        double offset = 0;
        double start = 0;
        ChapterMark mark;
    };
    QList<Moved> moved;
    double previous = -1;
    QString previousTitle;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ChapterTableModel::Row& row = rows.at(i);
        if (row.proposed)
            continue;
        double start = row.start;
        if (i >= first) {
            start = std::round((row.start + seconds) * 1000.0) / 1000.0;
            ChapterMark mark{.start = row.offset, .title = {}};
            for (const ChapterMark& own : startsIn(row.record)) {
                if (sameStart(own.start, row.offset))
                    mark.title = own.title;
            }
            // An untitled chapter at its file's start shows the file's title: it keeps it.
            if (mark.title.isEmpty() && row.offset == 0)
                mark.title = row.title;
            moved.append({row.record, row.offset, start, mark});
        }
        if (start <= previous)
            return u"\u201C%1\u201D would start at %2, before \u201C%3\u201D. Shift by less, "
                   "or move the chapters one by one."_s.arg(
                       row.title, ChapterList::bookTime(std::max(0.0, start)), previousTitle);
        if (start >= total)
            return u"\u201C%1\u201D would start at %2, past the book's end at %3. Shift by "
                   "less, or shift only the chapters after a selected one."_s.arg(
                       row.title, ChapterList::bookTime(start), ChapterList::bookTime(total));
        previous = start;
        previousTitle = row.title;
    }
    if (moved.isEmpty())
        return {};
    beginChange(u"Shift Chapters"_s);
    QHash<ItemRecord*, QList<ChapterMark>> starts;
    for (const ItemRecordPtr& record : std::as_const(TableData))
        starts.insert(record.get(), startsIn(record));
    for (const Moved& chapter : std::as_const(moved))
        starts[chapter.from.get()].removeIf([&chapter](const ChapterMark& mark) {
            return sameStart(mark.start, chapter.offset);
        });
    for (const Moved& chapter : std::as_const(moved)) {
        if (const auto place = ChapterList::located(lengths, chapter.start)) {
            ChapterMark mark = chapter.mark;
            mark.start = place->second;
            starts[TableData.at(place->first).get()].append(mark);
        }
    }
    for (const ItemRecordPtr& record : std::as_const(TableData))
        setStartsIn(record, starts.value(record.get()));
    mTableModel->recordsChanged();
    return {};
}

void AppController::removeChapter()
{
    const int row = mChapterPanel->currentRow();
    const ChapterTableModel::Row* chapter = chapterRow(row);
    if (!chapter)
        return;
    if (chapter->start <= 0 && !chapter->proposed) {
        QApplication::beep();
        return;
    }
    const ItemRecordPtr record = chapter->record;
    const double offset = chapter->offset;
    const bool proposed = chapter->proposed;
    QList<ChapterMark> marks = proposed ? record->proposals : startsIn(record);
    marks.removeIf([offset](const ChapterMark& mark) { return sameStart(mark.start, offset); });
    beginChange(proposed ? u"Drop Proposed Start"_s : u"Remove Chapter"_s);
    if (proposed)
        record->proposals = marks;
    else
        setStartsIn(record, std::move(marks));
    mTableModel->recordsChanged();
    mChapterPanel->selectRow(std::min(row, mChapterPanel->model()->rowCount() - 1));
}

void AppController::acceptProposal()
{
    const ChapterTableModel::Row* chapter = chapterRow(mChapterPanel->currentRow());
    if (!chapter || !chapter->proposed)
        return;
    const ChapterTableModel::Row copy = *chapter;
    if (!placeChapter(copy, copy.start, u"Take Proposed Start"_s))
        QApplication::beep();
}

void AppController::settleProposals(bool take)
{
    beginChange(take ? u"Take All Proposed Starts"_s : u"Drop All Proposed Starts"_s);
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        if (record->proposals.isEmpty())
            continue;
        if (take) {
            QList<ChapterMark> starts = startsIn(record);
            for (const ChapterMark& proposal : std::as_const(record->proposals)) {
                if (std::none_of(starts.begin(), starts.end(), [&](const ChapterMark& mark) {
                        return sameStart(mark.start, proposal.start);
                    }))
                    starts.append(proposal);
            }
            setStartsIn(record, std::move(starts));
        }
        record->proposals.clear();
    }
    mTableModel->recordsChanged();
}

void AppController::oneChapterPerFile()
{
    beginChange(u"One Chapter per File"_s);
    for (const ItemRecordPtr& record : std::as_const(TableData))
        record->editedChapters = QList<ChapterMark>{ChapterMark{}};
    mTableModel->recordsChanged();
}

void AppController::chaptersFromFiles()
{
    beginChange(u"Chapters from Files"_s);
    for (const ItemRecordPtr& record : std::as_const(TableData))
        record->editedChapters.reset();
    mTableModel->recordsChanged();
}

void AppController::addChapterHere()
{
    const auto row = TableData.indexOf(mPreviewRecord);
    if (row < 0 || !mAudioPreviewObject) {
        QApplication::beep();
        return;
    }
    const double offset =
        std::round(static_cast<double>(mAudioPreviewObject->currentTime())) / 1000.0;
    const ItemRecordPtr record = mPreviewRecord;
    QList<ChapterMark> starts = startsIn(record);
    if (std::none_of(starts.begin(), starts.end(),
                     [offset](const ChapterMark& mark) { return sameStart(mark.start, offset); })) {
        starts.append(ChapterMark{.start = offset, .title = {}});
        beginChange(u"Add Chapter"_s);
        setStartsIn(record, std::move(starts));
        mTableModel->recordsChanged();
    }
    showChapters(ChapterTarget{record, offset, false});
}

void AppController::playChapter()
{
    const ChapterTableModel::Row* chapter = chapterRow(mChapterPanel->currentRow());
    if (!chapter)
        return;
    const auto at = static_cast<qint64>(std::llround(chapter->offset * 1000.0));
    if (chapter->record == mPreviewRecord && mAudioPreviewObject) {
        mAudioPreviewObject->setCurrentTime(at);
        if (!isPlaying(mAudioPreviewObject.get()))
            playPreview();
        return;
    }
    // The file loads in the background; it plays from the chapter once it has.
    mPendingPlay = PendingPlay{chapter->record, at};
    mainTable->selectRowIndexes({static_cast<int>(chapter->recordRow)}, false);
}

void AppController::findChaptersBySilence()
{
    if (!TableData.isEmpty())
        mSilenceSheet->ask(SilenceSheet::Purpose::Find);
}

void AppController::splitLongChapters()
{
    if (!TableData.isEmpty())
        mSilenceSheet->ask(SilenceSheet::Purpose::SplitLong);
}

void AppController::startSilenceSearch()
{
    mSearchedRecords.clear();
    QList<SilenceFinder::Source> sources;
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        // A file that cannot be read has nothing to search.
        if (!record->problem.isEmpty() || !record->lengthColumn)
            continue;
        mSearchedRecords << record;
        sources.append({.path = record->pathColumn, .length = *record->lengthColumn});
    }
    mSilenceSearch = std::make_unique<SilenceSearch>(
        sources,
        SilenceFinder::Settings{.shortest = mSilenceSheet->shortestSilence(),
                                .levelDb = mSilenceSheet->levelDb()});
    connect(mSilenceSearch.get(), &Job::progressed, this, [this](const Job::Progress& progress) {
        mSilenceSheet->showSearching(progress.done, progress.total);
    });
    connect(mSilenceSearch.get(), &Job::failed, this, [this](const QString& reason) {
        mSilenceSheet->showEnded(u"The search stopped: %1. Check that the files can be played, "
                                 "then try again."_s.arg(reason));
    });
    connect(mSilenceSearch.get(), &Job::succeeded, this,
            [this] { silenceSearchDidFinish(mSilenceSearch->silences()); });
    mSilenceSearch->start();
}

void AppController::silenceSearchDidFinish(const QList<QList<SilenceFinder::Silence>>& silences)
{
    if (silences.size() != mSearchedRecords.size())
        return;
    const qsizetype found = std::accumulate(
        silences.begin(), silences.end(), qsizetype{0},
        [](qsizetype sum, const QList<SilenceFinder::Silence>& each) { return sum + each.size(); });
    if (found == 0) {
        mSilenceSheet->showEnded(
            u"No silence of %1 s at %2 dB or quieter was found. A shorter silence or a higher "
            "level finds more."_s.arg(mSilenceSheet->shortestSilence())
                .arg(mSilenceSheet->levelDb()));
        return;
    }
    if (mSilenceSheet->purpose() == SilenceSheet::Purpose::Find)
        proposeFromSilences(silences);
    else
        splitAtSilences(silences);
    mSilenceSheet->accept();
}

void AppController::proposeFromSilences(const QList<QList<SilenceFinder::Silence>>& silences)
{
    beginChange(u"Find Chapters by Silence"_s);
    std::optional<ChapterTarget> first;
    for (qsizetype i = 0; i < mSearchedRecords.size(); ++i) {
        const ItemRecordPtr& record = mSearchedRecords.at(i);
        if (!TableData.contains(record))
            continue;
        QList<double> starts{0.0};
        for (const ChapterMark& mark : startsIn(record))
            starts << mark.start;
        record->proposals.clear();
        for (const double at : SilenceFinder::proposals(silences.at(i), record->lengthColumn.value_or(0),
                                                        starts, mSilenceSheet->chapterMinutes() * 60))
            record->proposals.append(ChapterMark{.start = at, .title = {}});
        if (!first && !record->proposals.isEmpty())
            first = ChapterTarget{record, record->proposals.first().start, true};
    }
    mTableModel->recordsChanged();
    showChapters(first);
}

void AppController::splitAtSilences(const QList<QList<SilenceFinder::Silence>>& silences)
{
    QList<double> lengths;
    QList<double> fileStarts;
    double total = 0;
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        fileStarts << total;
        lengths << record->lengthColumn.value_or(0);
        total += lengths.constLast();
    }
    // Where the sound resumes after each silence, in the book.
    QList<double> resumes;
    for (qsizetype i = 0; i < mSearchedRecords.size(); ++i) {
        const auto row = TableData.indexOf(mSearchedRecords.at(i));
        if (row < 0)
            continue;
        for (const SilenceFinder::Silence& silence : silences.at(i))
            resumes << fileStarts.at(row) + silence.end - std::min(0.3, (silence.end - silence.start) / 2);
    }
    std::sort(resumes.begin(), resumes.end());
    const double longest = mSilenceSheet->chapterMinutes() * 60;
    QList<double> cuts;
    const QList<ChapterTableModel::Row> rows = ChapterTableModel::rowsFor(TableData);
    for (const ChapterTableModel::Row& chapter : rows) {
        if (chapter.proposed)
            continue;
        const double end = chapter.start + chapter.length;
        for (double from = chapter.start; end - from > longest;) {
            const double target = from + longest;
            // The silence nearest the length, within half of it; else the length itself.
            double cut = target;
            double nearest = longest / 2;
            for (const double at : std::as_const(resumes)) {
                if (at > from + longest / 2 && at < end && std::abs(at - target) < nearest) {
                    cut = at;
                    nearest = std::abs(at - target);
                }
            }
            cuts << std::round(cut * 1000.0) / 1000.0;
            from = cut;
        }
    }
    beginChange(u"Split Long Chapters"_s);
    for (const double cut : std::as_const(cuts)) {
        const auto place = ChapterList::located(lengths, cut);
        if (!place)
            continue;
        const ItemRecordPtr& record = TableData.at(place->first);
        QList<ChapterMark> starts = startsIn(record);
        if (std::none_of(starts.begin(), starts.end(), [&](const ChapterMark& mark) {
                return sameStart(mark.start, place->second);
            }))
            starts.append(ChapterMark{.start = place->second, .title = {}});
        setStartsIn(record, std::move(starts));
    }
    mTableModel->recordsChanged();
}
void AppController::showChapterNote()
{
    const QList<ChapterTableModel::Row>& rows = mChapterPanel->model()->rows();
    const auto proposals = mChapterPanel->model()->proposalCount();
    const auto chapters = rows.size() - proposals;
    QStringList notes;
    // The Nero list, which some players read instead of the chapter track, holds 255.
    if (chapters > 255 && encodingTitle().contains(u"Bookmark"_s))
        notes << u"This book has %1 chapters. All of them are in the book, but some players "
                 "show only the first 255."_s.arg(chapters);
    if (proposals > 0)
        notes << (proposals == 1 ? u"1 proposed chapter start is not taken, and will not be a "
                                   "chapter."_s
                                 : u"%1 proposed chapter starts are not taken, and will not be "
                                   "chapters."_s.arg(proposals));
    QLabel* note = mOutputUi->outputChapterNote;
    note->setText(notes.join(u' '));
    note->setVisible(!notes.isEmpty());
}

void AppController::importChapters()
{
    if (TableData.isEmpty())
        return;
    const OpenPanelSpec panel{.title = u"Import Chapters"_s,
                              .allowsMultipleSelection = false,
                              .canCreateDirectories = false,
                              .fileTypes = {u"txt"_s, u"cue"_s, u"ffmetadata"_s, u"meta"_s},
                              .choosesFolders = false};
    mServices.dialogs->beginOpenPanelSheet(mainWindow, panel,
                                           [this](int returnCode, const QStringList& paths) {
                                               if (returnCode == 1 && !paths.isEmpty())
                                                   importChapterFile(paths.first());
                                           });
}

void AppController::importChapterFile(const QString& path)
{
    QString problem;
    const ChapterMarks chapters = BookFiles::readChapterFile(path, TableData, problem);
    if (!problem.isEmpty()) {
        showChapterFileAlert(u"Chapters Not Imported"_s,
                             u"The chapters of \u201C%1\u201D cannot be imported."_s.arg(
                                 QFileInfo(path).fileName()),
                             problem + u" The chapter list is as it was."_s);
        return;
    }
    beginChange(u"Import Chapters"_s);
    BookFiles::placeChapters(TableData, chapters);
    mTableModel->recordsChanged();
}

void AppController::exportChapters()
{
    if (TableData.isEmpty())
        return;
    ChapterMarks chapters;
    double total = 0;
    for (const ItemRecordPtr& record : std::as_const(TableData))
        total += record->lengthColumn.value_or(0);
    for (const ChapterTableModel::Row& row : mChapterPanel->model()->rows()) {
        if (!row.proposed)
            chapters.append({row.start, row.title});
    }
    const QFileInfo first(TableData.first()->pathColumn);
    const QString book = title->text().isEmpty() ? first.absoluteDir().dirName() : title->text();
    const std::optional<QString> chosen = mServices.dialogs->runSavePanel(
        {.title = u"Export Chapters"_s,
         .directory = first.absolutePath(),
         .allowedFileType = {},
         .canCreateDirectories = true,
         .fileName = book + u".chapters.txt"_s});
    if (!chosen)
        return;
    const QString& path = *chosen;
    ChapterFile::Kind kind = ChapterFile::Kind::ChaptersTxt;
    if (path.endsWith(u".cue"_s, Qt::CaseInsensitive))
        kind = ChapterFile::Kind::Cue;
    else if (path.endsWith(u".ffmetadata"_s, Qt::CaseInsensitive) ||
             path.endsWith(u".meta"_s, Qt::CaseInsensitive))
        kind = ChapterFile::Kind::FfMetadata;
    const QByteArray bytes = ChapterFile::written(chapters, kind, total, book);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return;
    showChapterFileAlert(
        u"Chapters Not Exported"_s,
        u"The chapters could not be saved as \u201C%1\u201D."_s.arg(QFileInfo(path).fileName()),
        u"%1. Choose another folder, or make room, and export again."_s.arg(file.errorString()));
}

void AppController::showChapterFileAlert(const QString& heading, const QString& message,
                                         const QString& detail)
{
    AlertSpec alert;
    alert.title = heading;
    alert.message = message;
    alert.defaultButton = u"OK"_s;
    alert.detail = detail;
    mServices.dialogs->beginCriticalAlertSheet(mainWindow, alert, {});
}
