#include "ChapterActions.h"

#include "AudioPreview.h"
#include "ChapterFile.h"
#include "ChapterList.h"
#include "ChapterPanel.h"
#include "ChapterTableModel.h"
#include "DialogService.h"
#include "DraftBook.h"
#include "PeakReader.h"
#include "ShiftSheet.h"
#include "SilenceSearch.h"
#include "SilenceSheet.h"
#include "WaveformStrip.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <numeric>

using namespace Qt::Literals::StringLiterals;

ChapterActions::ChapterActions(QMainWindow* window, DraftBook& book, AudioPreview& preview,
                               DialogService& dialogs, const QString& peaksFolder, QObject* parent)
    : QObject(parent), mBook(book), mEditor(book), mPreview(preview), mDialogs(dialogs),
      mWindow(window),
      mPeaks(new PeakReader(peaksFolder, std::max(1, QThread::idealThreadCount()), this)),
      mPanel(new ChapterPanel(book, *mPeaks, window)), mSilenceSheet(new SilenceSheet(window)),
      mShiftSheet(new ShiftSheet(window))
{
    connectActions();
    connectWaveform();
    connect(&mBook, &DraftBook::chaptersChanged, this, [this] { showChapters(); });
    connect(&mBook, &DraftBook::filesChanged, this, [this] { mPanel->refresh(); });
}

ChapterActions::~ChapterActions() = default;

void ChapterActions::connectActions()
{
    const ChapterPanel::Actions& actions = mPanel->actions();
    ChapterTableModel* model = mPanel->model();
    connect(model, &ChapterTableModel::retitleAsked, this, [this](int row, const QString& text) {
        if (const ChapterRow* chapter = chapterRow(row))
            mEditor.retitle(*chapter, text);
    });
    connect(model, &ChapterTableModel::moveAsked, this, [this](int row, double start) {
        const ChapterRow* chapter = chapterRow(row);
        if (chapter && !chapter->proposed) {
            const ChapterRow copy = *chapter;
            const auto placed = mEditor.place(copy, start, u"Move Chapter"_s);
            if (!placed)
                QApplication::beep();
            showChapters(placed);
        }
    });
    connect(actions.remove, &QAction::triggered, this, [this] { remove(); });
    connect(actions.play, &QAction::triggered, this, [this] { play(); });
    connect(actions.addHere, &QAction::triggered, this, [this] { addHere(); });
    connect(actions.earlierSecond, &QAction::triggered, this, [this] { nudge(-1.0); });
    connect(actions.earlierTenth, &QAction::triggered, this, [this] { nudge(-0.1); });
    connect(actions.laterTenth, &QAction::triggered, this, [this] { nudge(0.1); });
    connect(actions.laterSecond, &QAction::triggered, this, [this] { nudge(1.0); });
    connect(actions.accept, &QAction::triggered, this, [this] {
        const ChapterRow* chapter = selected();
        if (!chapter || !chapter->proposed)
            return;
        const ChapterRow copy = *chapter;
        const auto placed = mEditor.place(copy, copy.start, u"Take Proposed Start"_s);
        if (!placed)
            QApplication::beep();
        showChapters(placed);
    });
    connect(actions.acceptAll, &QAction::triggered, this, [this] { mEditor.settleProposals(true); });
    connect(actions.dropAll, &QAction::triggered, this, [this] { mEditor.settleProposals(false); });
    connect(actions.onePerFile, &QAction::triggered, this, [this] { mEditor.onePerFile(); });
    connect(actions.fromFiles, &QAction::triggered, this, [this] { mEditor.fromFiles(); });
    connect(actions.findSilence, &QAction::triggered, this, [this] {
        if (!mBook.files().isEmpty())
            mSilenceSheet->ask(SilenceSheet::Purpose::Find);
    });
    connect(actions.splitLong, &QAction::triggered, this, [this] {
        if (!mBook.files().isEmpty())
            mSilenceSheet->ask(SilenceSheet::Purpose::SplitLong);
    });
    connect(actions.importFile, &QAction::triggered, this, [this] { importChapters(); });
    connect(actions.exportFile, &QAction::triggered, this, [this] { exportChapters(); });
    connect(actions.shift, &QAction::triggered, this, [this] {
        if (!mBook.files().isEmpty())
            mShiftSheet->ask(mPanel->currentRow() >= 0);
    });
    connect(mShiftSheet, &ShiftSheet::shiftAsked, this, [this] {
        const QString refusal =
            mEditor.shift(mShiftSheet->seconds().value_or(0),
                          mShiftSheet->afterSelected() ? mPanel->currentRow() : -1);
        if (refusal.isEmpty())
            mShiftSheet->accept();
        else
            mShiftSheet->showRefusal(refusal);
    });
    connect(mSilenceSheet, &SilenceSheet::searchAsked, this, [this] { startSilenceSearch(); });
    connect(mSilenceSheet, &SilenceSheet::stopAsked, this, [this] {
        if (mSearch)
            mSearch->stop();
    });
}

void ChapterActions::connectWaveform()
{
    WaveformStrip* strip = mPanel->waveform();
    strip->setPreviewPlace([this] { return mPreview.place(); });
    connect(strip, &WaveformStrip::markMoved, this, [this](int row, double start) {
        const ChapterRow* chapter = chapterRow(row);
        if (!chapter)
            return;
        const ChapterRow copy = *chapter;
        const auto placed = mEditor.place(
            copy, start, copy.proposed ? u"Take Proposed Start"_s : u"Move Chapter"_s);
        if (!placed)
            QApplication::beep();
        showChapters(placed);
    });
    connect(strip, &WaveformStrip::addRequested, this,
            [this](const ItemRecordPtr& record, double offset) {
                const auto added = mEditor.addAt(record, offset);
                if (!added)
                    QApplication::beep();
                showChapters(added);
            });
    const auto ms = [](double seconds) {
        return static_cast<qint64>(std::llround(seconds * 1000));
    };
    connect(strip, &WaveformStrip::seekRequested, this,
            [this, ms](const ItemRecordPtr& record, double offset) {
                mPreview.seek(record, ms(offset));
            });
    connect(strip, &WaveformStrip::playRequested, this,
            [this, ms](const ItemRecordPtr& record, double offset) {
                mPreview.play(record, ms(offset));
            });
}

void ChapterActions::showChapters(std::optional<ChapterPlace> select)
{
    ChapterTableModel* model = mPanel->model();
    if (!select) {
        if (const ChapterRow* current = selected())
            select = ChapterPlace{current->record, current->offset, current->proposed};
    }
    model->refresh();
    if (!select)
        return;
    const QList<ChapterRow>& rows = model->rows();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).record == select->record && rows.at(i).proposed == select->proposed &&
            ChapterEditor::sameStart(rows.at(i).offset, select->offset)) {
            mPanel->selectRow(static_cast<int>(i));
            return;
        }
    }
}

const ChapterRow* ChapterActions::chapterRow(int row) const
{
    const QList<ChapterRow>& rows = mPanel->model()->rows();
    if (row < 0 || row >= rows.size() || !mBook.files().contains(rows.at(row).record))
        return nullptr;
    return &rows.at(row);
}

const ChapterRow* ChapterActions::selected() const
{
    return chapterRow(mPanel->currentRow());
}

void ChapterActions::nudge(double seconds)
{
    const ChapterRow* chapter = selected();
    if (!chapter || chapter->proposed)
        return;
    const ChapterRow copy = *chapter;
    const auto placed = mEditor.place(copy, std::round((copy.start + seconds) * 1000.0) / 1000.0,
                                      u"Nudge Chapter"_s);
    if (!placed)
        QApplication::beep();
    showChapters(placed);
}

void ChapterActions::remove()
{
    const int row = mPanel->currentRow();
    const ChapterRow* chapter = chapterRow(row);
    if (!chapter)
        return;
    if (!mEditor.remove(ChapterRow(*chapter))) {
        QApplication::beep();
        return;
    }
    mPanel->selectRow(std::min(row, mPanel->model()->rowCount() - 1));
}

void ChapterActions::addHere()
{
    const auto place = mPreview.place();
    if (!place) {
        QApplication::beep();
        return;
    }
    showChapters(mEditor.addAt(place->first, place->second));
}

void ChapterActions::play()
{
    if (const ChapterRow* chapter = selected())
        mPreview.play(chapter->record, static_cast<qint64>(std::llround(chapter->offset * 1000.0)));
}

void ChapterActions::startSilenceSearch()
{
    mSearched.clear();
    QList<SilenceFinder::Source> sources;
    for (const ItemRecordPtr& record : mBook.files()) {
        // A file that cannot be read has nothing to search.
        if (!record->problem.isEmpty() || !record->lengthColumn)
            continue;
        mSearched << record;
        sources.append({.path = record->pathColumn, .length = *record->lengthColumn});
    }
    mSearch = std::make_unique<SilenceSearch>(
        sources, SilenceFinder::Settings{.shortest = mSilenceSheet->shortestSilence(),
                                         .levelDb = mSilenceSheet->levelDb()});
    connect(mSearch.get(), &Job::progressed, this, [this](const Job::Progress& progress) {
        mSilenceSheet->showSearching(progress.done, progress.total);
    });
    connect(mSearch.get(), &Job::failed, this, [this](const QString& reason) {
        mSilenceSheet->showEnded(u"The search stopped: %1. Check that the files can be played, "
                                 "then try again."_s.arg(reason));
    });
    connect(mSearch.get(), &Job::succeeded, this, [this] { silenceSearchDidFinish(); });
    mSearch->start();
}

void ChapterActions::silenceSearchDidFinish()
{
    const QList<QList<SilenceFinder::Silence>>& silences = mSearch->silences();
    if (silences.size() != mSearched.size())
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
    // Shaded on the waveform, so that the user sees which pause each start took.
    QList<WaveformStrip::FileSilences> shaded;
    for (qsizetype i = 0; i < mSearched.size(); ++i) {
        WaveformStrip::FileSilences file{.record = mSearched.at(i), .spans = {}};
        for (const SilenceFinder::Silence& silence : silences.at(i))
            file.spans.append({silence.start, silence.end});
        shaded.append(std::move(file));
    }
    mPanel->waveform()->setSilences(std::move(shaded));
    const double minutes = mSilenceSheet->chapterMinutes();
    if (mSilenceSheet->purpose() == SilenceSheet::Purpose::Find)
        showChapters(mEditor.propose(mSearched, silences, minutes * 60));
    else
        mEditor.splitLong(mSearched, silences, minutes * 60);
    mSilenceSheet->accept();
}

void ChapterActions::importChapters()
{
    if (mBook.files().isEmpty())
        return;
    const OpenPanelSpec panel{.title = u"Import Chapters"_s,
                              .allowsMultipleSelection = false,
                              .canCreateDirectories = false,
                              .fileTypes = {u"txt"_s, u"cue"_s, u"ffmetadata"_s, u"meta"_s},
                              .choosesFolders = false};
    mDialogs.beginOpenPanelSheet(mWindow, panel,
                                 [this](int returnCode, const QStringList& paths) {
                                     if (returnCode == 1 && !paths.isEmpty())
                                         importChapterFile(paths.first());
                                 });
}

void ChapterActions::importChapterFile(const QString& path)
{
    if (const QString problem = mEditor.import(path); !problem.isEmpty())
        showAlert(u"Chapters Not Imported"_s,
                  u"The chapters of \u201C%1\u201D cannot be imported."_s.arg(
                      QFileInfo(path).fileName()),
                  problem + u" The chapter list is as it was."_s);
}

void ChapterActions::exportChapters()
{
    if (mBook.files().isEmpty())
        return;
    ChapterMarks chapters;
    for (const ChapterRow& row : mBook.chapters()) {
        if (!row.proposed)
            chapters.append({row.start, row.title});
    }
    const QFileInfo first(mBook.files().first()->pathColumn);
    const QString title = mBook.tags().title;
    const QString book = title.isEmpty() ? first.absoluteDir().dirName() : title;
    const std::optional<QString> chosen =
        mDialogs.runSavePanel({.title = u"Export Chapters"_s,
                               .directory = first.absolutePath(),
                               .allowedFileType = {},
                               .canCreateDirectories = true,
                               .fileName = book + u".chapters.txt"_s});
    if (!chosen)
        return;
    const QString& path = *chosen;
    const QByteArray bytes =
        ChapterFile::written(chapters, ChapterFile::kindForName(path), mBook.length(), book);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return;
    showAlert(u"Chapters Not Exported"_s,
              u"The chapters could not be saved as \u201C%1\u201D."_s.arg(QFileInfo(path).fileName()),
              u"%1. Choose another folder, or make room, and export again."_s.arg(
                  file.errorString()));
}

void ChapterActions::offerChapterFile()
{
    if (mBook.files().isEmpty())
        return;
    // Not over another sheet; the update notice waits for this one.
    for (const QWidget* child : mWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() && child->isVisible() && child->isModal() &&
            child->objectName() != u"updateWindow"_s)
            return;
    }
    const QFileInfo first(mBook.files().first()->pathColumn);
    const QString folder = first.absolutePath();
    QString found;
    for (const QString& name : {first.completeBaseName(), first.absoluteDir().dirName()}) {
        for (const QString& ending : {u".chapters.txt"_s, u".cue"_s}) {
            const QString path = folder + u'/' + name + ending;
            if (found.isEmpty() && !mOffered.contains(path) && QFileInfo(path).isFile())
                found = path;
        }
    }
    if (found.isEmpty())
        return;
    mOffered.insert(found);
    QFile file(found);
    if (file.size() > (4 << 20) || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    const ChapterMarks chapters = ChapterFile::read(bytes, ChapterFile::kindOf(found, bytes));
    if (chapters.isEmpty() || !ChapterFile::problemWith(chapters, mBook.length()).isEmpty())
        return;
    // A CUE sheet already read as the file's own marks is not offered again.
    const QList<BookTag::Chapter> listed = mBook.bookChapters();
    const bool same = listed.size() == chapters.size() &&
                      std::equal(chapters.begin(), chapters.end(), listed.begin(),
                                 [](const ChapterMark& a, const BookTag::Chapter& b) {
                                     return std::abs(a.start * 1000 - b.startMs) < 1.5;
                                 });
    if (same)
        return;
    AlertSpec alert;
    alert.title = u"Chapter File Found"_s;
    alert.message = u"Use the chapters in \u201C%1\u201D?"_s.arg(QFileInfo(found).fileName());
    alert.detail = u"It lists %1 chapters. They take the place of the chapter list's, and Undo "
                   "brings those back."_s.arg(chapters.size());
    alert.defaultButton = u"Import"_s;
    alert.alternateButton = u"Not Now"_s;
    mDialogs.beginCriticalAlertSheet(mWindow, alert, [this, found](int returnCode) {
        if (returnCode == 1)
            importChapterFile(found);
    });
}

void ChapterActions::showAlert(const QString& heading, const QString& message,
                               const QString& detail)
{
    AlertSpec alert;
    alert.title = heading;
    alert.message = message;
    alert.defaultButton = u"OK"_s;
    alert.detail = detail;
    mDialogs.beginCriticalAlertSheet(mWindow, alert, {});
}
