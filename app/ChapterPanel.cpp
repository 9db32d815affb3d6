#include "ChapterPanel.h"

#include "ChapterTableModel.h"
#include "WaveformStrip.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

ChapterPanel::ChapterPanel(const DraftBook& book, PeakReader& peaks, QWidget* parent)
    : QWidget(parent), mModel(new ChapterTableModel(book, this)), mTable(new QTableView(this)),
      mWaveform(new WaveformStrip(book, peaks, this)), mProposals(new QLabel(this)),
      mProposalBar(new QWidget(this)), mMenu(new QMenu(u"&Chapters"_s, this))
{
    auto* heading = new QLabel(u"Chapters"_s, this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    mTable->setObjectName(u"chapterTable"_s);
    mTable->setModel(mModel);
    mTable->setAccessibleName(u"Chapters"_s);
    mTable->setAccessibleDescription(
        u"The book's chapters, each with its start in the book; double-click a title or a "
        "start to change it"_s);
    mTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mTable->setSelectionMode(QAbstractItemView::SingleSelection);
    mTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    mTable->setAlternatingRowColors(true);
    mTable->setShowGrid(false);
    mTable->setWordWrap(false);
    mTable->verticalHeader()->hide();
    mTable->horizontalHeader()->resizeSection(ChapterTableModel::TitleColumn, 300);
    mTable->horizontalHeader()->resizeSection(ChapterTableModel::StartColumn, 110);
    mTable->horizontalHeader()->resizeSection(ChapterTableModel::LengthColumn, 80);
    mTable->horizontalHeader()->setStretchLastSection(true);
    heading->setBuddy(mTable);

    // Keys that work in the chapter list reach it wherever focus is inside it.
    const auto local = [this](QAction* each) {
        each->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        mTable->addAction(each);
        return each;
    };
    mActions.addHere = action(u"&Add Chapter Here"_s, QKeySequence(u"Ctrl+M"_s),
                              u"A chapter starts where the preview is now"_s);
    mActions.play = local(action(u"&Play Chapter"_s, QKeySequence(u"Ctrl+P"_s),
                                 u"Play the selected chapter from its start"_s));
    mActions.remove = local(action(u"&Remove Chapter"_s, QKeySequence(Qt::Key_Delete),
                                   u"Remove the selected chapter, or drop the proposed start"_s));
    mActions.earlierSecond = local(action(u"Earlier by 1 s"_s, QKeySequence(u"Alt+Left"_s),
                                          u"Start the selected chapter one second earlier"_s));
    mActions.earlierTenth =
        local(action(u"Earlier by 0.1 s"_s, QKeySequence(u"Alt+Shift+Left"_s),
                     u"Start the selected chapter a tenth of a second earlier"_s));
    mActions.laterTenth = local(action(u"Later by 0.1 s"_s, QKeySequence(u"Alt+Shift+Right"_s),
                                       u"Start the selected chapter a tenth of a second later"_s));
    mActions.laterSecond = local(action(u"Later by 1 s"_s, QKeySequence(u"Alt+Right"_s),
                                        u"Start the selected chapter one second later"_s));
    mActions.accept = local(action(u"&Take Proposed Start"_s, QKeySequence(u"Ctrl+Return"_s),
                                   u"The selected proposed start becomes a chapter"_s));
    mActions.acceptAll =
        action(u"Take &All Proposed Starts"_s, {}, u"Every proposed start becomes a chapter"_s);
    mActions.dropAll = action(u"&Drop All Proposed Starts"_s, {}, u"Drop every proposed start"_s);
    mActions.onePerFile =
        action(u"&One Chapter per File"_s, {},
               u"Every file starts one chapter, and no chapter starts inside one"_s);
    mActions.fromFiles = action(u"Chapters from &Files"_s, {},
                                u"The chapters that the files mark themselves, as when listed"_s);
    mActions.findSilence = action(u"&Find Chapters by Silence…"_s, QKeySequence(u"Ctrl+Shift+F"_s),
                                  u"Propose chapter starts where the speech resumes after a "
                                  "silence"_s);
    mActions.splitLong = action(u"&Split Long Chapters…"_s, {},
                                u"Cut chapters longer than a length, at a silence near each cut"_s);

    mActions.importFile = action(u"&Import Chapters…"_s, QKeySequence(u"Ctrl+I"_s),
                                 u"The chapters of a chapters.txt, ffmetadata or CUE file, at "
                                 "their times in the book"_s);
    mActions.exportFile = action(u"&Export Chapters…"_s, QKeySequence(u"Ctrl+E"_s),
                                 u"Save the chapters as chapters.txt, ffmetadata or a CUE sheet, "
                                 "by the name's ending"_s);
    mActions.shift = action(u"S&hift Chapters…"_s, QKeySequence(u"Ctrl+Alt+T"_s),
                            u"Move every chapter, or those after the selected one, later or "
                            "earlier by a time"_s);
    mActions.zoomToChapter = action(u"&Zoom to Chapter"_s, QKeySequence(u"Ctrl+Alt+Z"_s),
                                    u"Show the selected chapter across the waveform"_s);
    mActions.snapToSilence = action(u"S&nap to Silence"_s, {},
                                    u"A mark dragged on the waveform goes to the quietest point "
                                    "within a quarter of a second"_s);
    mActions.snapToSilence->setCheckable(true);
    mActions.snapToSilence->setChecked(QSettings().value(u"snapToSilence"_s, true).toBool());
    mWaveform->setSnapToSilence(mActions.snapToSilence->isChecked());
    connect(mActions.snapToSilence, &QAction::toggled, this, [this](bool snap) {
        mWaveform->setSnapToSilence(snap);
        QSettings().setValue(u"snapToSilence"_s, snap);
    });
    connect(mActions.zoomToChapter, &QAction::triggered, this,
            [this] { mWaveform->zoomToRow(currentRow()); });
    // The list's commands work on the chosen mark too, with the same keys.
    for (QAction* each :
         {mActions.play, mActions.remove, mActions.earlierSecond, mActions.earlierTenth,
          mActions.laterTenth, mActions.laterSecond, mActions.accept, mActions.zoomToChapter})
        mWaveform->addAction(each);
    mWaveform->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(mWaveform, &WaveformStrip::markChosen, this, [this](int row) { selectRow(row); });

    mMenu->addActions({mActions.addHere, mActions.play, mActions.remove});
    mMenu->addSeparator();
    mMenu->addActions({mActions.earlierSecond, mActions.earlierTenth, mActions.laterTenth,
                       mActions.laterSecond, mActions.shift});
    mMenu->addSeparator();
    mMenu->addActions({mActions.findSilence, mActions.splitLong, mActions.accept,
                       mActions.acceptAll, mActions.dropAll});
    mMenu->addSeparator();
    mMenu->addActions({mActions.onePerFile, mActions.fromFiles, mActions.importFile,
                       mActions.exportFile});
    mMenu->addSeparator();
    mMenu->addActions({mActions.zoomToChapter, mActions.snapToSilence});

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(button(mActions.addHere, u"Add Chapter Here"_s));
    buttons->addWidget(button(mActions.play, u"Play Chapter"_s));
    buttons->addWidget(button(mActions.remove, u"Remove Chapter"_s));
    buttons->addSpacing(12);
    buttons->addWidget(button(mActions.earlierSecond, u"−1 s"_s));
    buttons->addWidget(button(mActions.earlierTenth, u"−0.1 s"_s));
    buttons->addWidget(button(mActions.laterTenth, u"+0.1 s"_s));
    buttons->addWidget(button(mActions.laterSecond, u"+1 s"_s));
    buttons->addStretch();
    buttons->addWidget(button(mActions.findSilence, u"Find by Silence…"_s));

    auto* proposals = new QHBoxLayout(mProposalBar);
    proposals->setContentsMargins(0, 0, 0, 0);
    mProposals->setObjectName(u"proposalNote"_s);
    mProposals->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    proposals->addWidget(mProposals, 1);
    proposals->addWidget(button(mActions.accept, u"Take"_s));
    proposals->addWidget(button(mActions.acceptAll, u"Take All"_s));
    proposals->addWidget(button(mActions.dropAll, u"Drop All"_s));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading);
    // The waveform above the list; the user sets the share.
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);
    split->addWidget(mWaveform);
    split->addWidget(mTable);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    split->setSizes({mWaveform->sizeHint().height(), 2 * mWaveform->sizeHint().height()});
    layout->addWidget(split, 1);
    layout->addWidget(mProposalBar);
    layout->addLayout(buttons);

    connect(mTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { refresh(); });
    connect(mModel, &QAbstractItemModel::modelReset, this, [this] { refresh(); });
    connect(mModel, &QAbstractItemModel::dataChanged, this, [this] { refresh(); });
    // Each command is found by its name, as the main window's are.
    const std::pair<QAction*, const char16_t*> named[] = {
        {mActions.addHere, u"actionAddChapterHere"},
        {mActions.play, u"actionPlayChapter"},
        {mActions.remove, u"actionRemoveChapter"},
        {mActions.earlierSecond, u"actionEarlierSecond"},
        {mActions.earlierTenth, u"actionEarlierTenth"},
        {mActions.laterTenth, u"actionLaterTenth"},
        {mActions.laterSecond, u"actionLaterSecond"},
        {mActions.accept, u"actionTakeProposal"},
        {mActions.acceptAll, u"actionTakeAllProposals"},
        {mActions.dropAll, u"actionDropAllProposals"},
        {mActions.onePerFile, u"actionOneChapterPerFile"},
        {mActions.fromFiles, u"actionChaptersFromFiles"},
        {mActions.findSilence, u"actionFindChapters"},
        {mActions.splitLong, u"actionSplitLongChapters"},
        {mActions.importFile, u"actionImportChapters"},
        {mActions.exportFile, u"actionExportChapters"},
        {mActions.shift, u"actionShiftChapters"},
        {mActions.zoomToChapter, u"actionZoomToChapter"},
        {mActions.snapToSilence, u"actionSnapToSilence"},
    };
    for (const auto& [each, name] : named)
        each->setObjectName(QString::fromUtf16(name));
    refresh();
}

QAction* ChapterPanel::action(const QString& text, const QKeySequence& key, const QString& tip)
{
    auto* each = new QAction(text, this);
    each->setShortcut(key);
    each->setToolTip(key.isEmpty() ? tip
                                   : u"%1 (%2)"_s.arg(tip, key.toString(QKeySequence::NativeText)));
    each->setStatusTip(tip);
    return each;
}

QPushButton* ChapterPanel::button(QAction* action, const QString& text)
{
    auto* each = new QPushButton(text, this);
    each->setToolTip(action->toolTip());
    // The short face ("+1 s") is not what a screen reader should say.
    each->setAccessibleName(action->statusTip());
    each->setEnabled(action->isEnabled());
    connect(each, &QPushButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::changed, each,
            [each, action] { each->setEnabled(action->isEnabled()); });
    return each;
}

int ChapterPanel::currentRow() const
{
    const QModelIndexList rows = mTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ChapterPanel::selectRow(int row)
{
    if (row < 0 || row >= mModel->rowCount())
        return;
    mTable->selectRow(row);
    mTable->scrollTo(mModel->index(row, 0));
}

void ChapterPanel::refresh()
{
    const int row = currentRow();
    const bool chosen = row >= 0;
    const bool proposed = chosen && mModel->rows().at(row).proposed;
    for (QAction* each :
         {mActions.earlierSecond, mActions.earlierTenth, mActions.laterTenth, mActions.laterSecond})
        each->setEnabled(chosen && !proposed);
    mActions.play->setEnabled(chosen);
    mActions.zoomToChapter->setEnabled(chosen);
    mWaveform->setChosenRow(row);
    mActions.remove->setEnabled(chosen);
    mActions.accept->setEnabled(proposed);
    const int count = mModel->proposalCount();
    mActions.acceptAll->setEnabled(count > 0);
    mActions.dropAll->setEnabled(count > 0);
    mProposalBar->setVisible(count > 0);
    mProposals->setText(count == 1 ? u"1 proposed start, in italics"_s
                                   : u"%1 proposed starts, in italics"_s.arg(count));
    const bool any = mModel->rowCount() > 0;
    for (QAction* each :
         {mActions.onePerFile, mActions.fromFiles, mActions.findSilence, mActions.splitLong,
          mActions.shift})
        each->setEnabled(any);
}
