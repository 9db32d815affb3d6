// A finished book opened again, its chapters shifted, and chapter files
// found beside the files.
#include "AppController.h"
#include "BookFiles.h"
#include "ArtworkWell.h"
#include "BookSaver.h"
#include "SaveBook.h"
#include "SplitBook.h"
#include "ChapterFile.h"
#include "ChapterList.h"
#include "ChapterPanel.h"
#include "DiskSpace.h"
#include "ItemTableModel.h"
#include "Movie.h"
#include "Mp4File.h"
#include "ShiftSheet.h"
#include "SourceTags.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

QString nameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

// Whether an MP4 file's header holds chapters: Nero's list, or a
// reference to a chapter track.
bool mp4HasChapters(const QString& path)
{
    try {
        const QByteArray moov = Mp4File::movieHeader(path);
        return moov.contains("chpl") || moov.contains("chap");
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void AppController::setUpBookActions()
{
    const auto make = [this](const QString& text, const QString& key, const QString& tip) {
        auto* action = new QAction(text, mainWindow);
        action->setShortcut(QKeySequence(key));
        action->setToolTip(
            u"%1 (%2)"_s.arg(tip, action->shortcut().toString(QKeySequence::NativeText)));
        action->setStatusTip(tip);
        mainWindow->addAction(action);
        return action;
    };
    mBookActions.open =
        make(u"Open &Book…"_s, u"Ctrl+Alt+O"_s,
             u"Open a finished .m4b, .m4a or .mp3 book to change its chapters and tags"_s);
    mBookActions.save =
        make(u"&Save Book"_s, u"Ctrl+S"_s,
             u"Write the chapters and tags into the opened book, its audio as it is"_s);
    mBookActions.saveAs =
        make(u"Save Book &As…"_s, u"Ctrl+Alt+S"_s,
             u"Write the opened book, with its chapters and tags, as a new file"_s);
    mBookActions.split =
        make(u"Spli&t into Chapters…"_s, u"Ctrl+Alt+X"_s,
             u"Make one file of each chapter of the opened book, without an encode"_s);
    mBookActions.splitEncoded =
        make(u"Split into Chapters as MP3…"_s, u"Ctrl+Alt+Shift+X"_s,
             u"Make one file of each chapter of the opened book in the other form, encoded on "
             "every core"_s);
    QAction* before = mUi->actionMakeAudiobook;
    mUi->fileMenu->insertActions(before, {mBookActions.open, mBookActions.save, mBookActions.saveAs,
                                          mBookActions.split, mBookActions.splitEncoded});
    mUi->fileMenu->insertSeparator(before);
    connect(mBookActions.open, &QAction::triggered, this, [this] { openBook(); });
    connect(mBookActions.save, &QAction::triggered, this, [this] { saveBook(); });
    connect(mBookActions.saveAs, &QAction::triggered, this, [this] { saveBookAs(); });
    connect(mBookActions.split, &QAction::triggered, this, [this] { splitIntoChapters(); });
    connect(mBookActions.splitEncoded, &QAction::triggered, this,
            [this] { splitIntoChapters(true); });

    mShiftSheet = new ShiftSheet(mainWindow);
    connect(mChapterPanel->actions().shift, &QAction::triggered, this, [this] { shiftChapters(); });
    connect(mShiftSheet, &ShiftSheet::shiftAsked, this, [this] {
        const QString refusal =
            shiftChaptersBy(mShiftSheet->seconds().value_or(0), mShiftSheet->afterSelected());
        if (refusal.isEmpty())
            mShiftSheet->accept();
        else
            mShiftSheet->showRefusal(refusal);
    });
    updateBookActions();
}

bool AppController::bookIsOpen() const
{
    return mBook && TableData.size() == 1 && TableData.first()->pathColumn == mBook->path;
}

void AppController::updateBookActions()
{
    if (!mBookActions.save)
        return;
    const bool canSave = bookIsOpen() && !mBookJob && state() == RunState::Idle;
    mBookActions.save->setEnabled(canSave);
    mBookActions.saveAs->setEnabled(canSave);
    mBookActions.split->setEnabled(canSave);
    mBookActions.splitEncoded->setEnabled(canSave);
    const bool mp3 = mBook && QFileInfo(mBook->path).suffix().toLower() == u"mp3"_s;
    mBookActions.splitEncoded->setText(mp3 ? u"Split into Chapters as M4A…"_s
                                           : u"Split into Chapters as MP3…"_s);
    mBookActions.open->setEnabled(!mBookJob && state() == RunState::Idle);
    if (joinProgressWindow)
        showProgressInTitle();
}

bool AppController::looksLikeBook(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"m4b"_s)
        return true;
    if (suffix == u"m4a"_s || suffix == u"mp4"_s)
        return mp4HasChapters(path);
    return suffix == u"mp3"_s && SourceTags::read(path).marks.size() >= 2;
}

void AppController::openBook()
{
    if (state() != RunState::Idle || mBookJob)
        return;
    mServices.dialogs->beginOpenPanelSheet(mainWindow,
                                           {.title = u"Open Book"_s,
                                            .allowsMultipleSelection = false,
                                            .canCreateDirectories = false,
                                            .fileTypes = {u"m4b"_s, u"m4a"_s, u"mp3"_s},
                                            .choosesFolders = false},
                                           [this](int returnCode, const QStringList& files) {
                                               if (returnCode == 1 && !files.isEmpty())
                                                   openBookFile(files.first());
                                           });
}

void AppController::openBookFile(const QString& path)
{
    if (state() != RunState::Idle || mBookJob)
        return;
    if (isPlaying(mAudioPreviewObject.get())) {
        mAudioPreviewObject->stop();
        setPreviewTimer(nullptr);
    }
    beginChange(u"Open Book"_s);
    mListedPaths.clear();
    mTableModel->removeAllRecords([this] { TableData.clear(); });
    for (QLineEdit* field :
         {title, artist, album, albumArtist, comment, narrator, year, series, seriesNumber})
        field->clear();
    bookDescription->clear();
    artwork->setImage(QImage());
    mBook = OpenedBook{.path = QFileInfo(path).absoluteFilePath(),
                       .read = {},
                       .coverKey = 0,
                       .tagsRead = false,
                       .savedNote = {}};
    mAddBatch = mChangeBatch;
    mFilesToAdd.push_back({mBook->path, false});
    addQueuedFiles(true);
    updateBookActions();
}

void AppController::fillTagSheetFromBook(const ItemRecord& record)
{
    const SourceTags& tags = record.tags;
    title->setText(tags.title.isEmpty() ? tags.album : tags.title);
    artist->setText(tags.artist);
    album->setText(tags.album);
    albumArtist->setText(tags.albumArtist);
    narrator->setText(tags.composer);
    year->setText(tags.year);
    comment->setText(tags.comment);
    series->setText(tags.series);
    seriesNumber->setText(tags.seriesPart);
    bookDescription->setPlainText(tags.description);
    mBook->read = {};
    if (tags.hasCover) {
        const SourceTags::Picture picture = SourceTags::cover(record.pathColumn);
        const QImage image = QImage::fromData(picture.data);
        if (!image.isNull()) {
            artwork->setImage(image);
            mBook->read.cover = picture.data;
            mBook->read.coverMimeType = picture.mimeType;
            mBook->coverKey = artwork->image().cacheKey();
        }
    }
    // What a save compares with, to write only what was edited.
    mBook->read = sheetTags();
    mBook->read.chapters = bookChapters();
}

BookTag AppController::sheetTags() const
{
    BookTag tag;
    tag.title = title->text();
    tag.artist = artist->text();
    tag.album = album->text();
    tag.albumArtist = albumArtist->text();
    tag.comment = comment->text();
    tag.narrator = narrator->text();
    tag.year = year->text();
    tag.description = bookDescription->toPlainText();
    tag.series = series->text();
    tag.seriesNumber = seriesNumber->text();
    tag.coverMimeType = u"image/jpeg"_s;
    if (artwork->image().isNull())
        return tag;
    // A book's cover, as it came, is not encoded again.
    if (mBook && !mBook->read.cover.isEmpty() && artwork->image().cacheKey() == mBook->coverKey) {
        tag.cover = mBook->read.cover;
        tag.coverMimeType = mBook->read.coverMimeType;
    } else {
        tag.cover = BookFiles::coverJpeg(artwork->image());
    }
    return tag;
}

QList<BookTag::Chapter> AppController::bookChapters() const
{
    double total = 0;
    for (const ItemRecordPtr& record : std::as_const(TableData))
        total += record->lengthColumn.value_or(0);
    QList<BookTag::Chapter> chapters;
    for (const ChapterTableModel::Row& row : ChapterTableModel::rowsFor(TableData)) {
        if (row.proposed)
            continue;
        const auto ms = static_cast<quint32>(std::llround(row.start * 1000));
        if (!chapters.isEmpty())
            chapters.last().endMs = ms;
        chapters.append({.title = row.title, .startMs = ms, .endMs = ms});
    }
    if (!chapters.isEmpty())
        chapters.last().endMs = static_cast<quint32>(std::llround(total * 1000));
    return chapters;
}

void AppController::saveBook()
{
    if (bookIsOpen())
        writeBook(mBook->path);
}

void AppController::saveBookAs()
{
    if (!bookIsOpen())
        return;
    const QFileInfo book(mBook->path);
    const std::optional<QString> chosen =
        mServices.dialogs->runSavePanel({.title = u"Save Book As"_s,
                                         .directory = book.absolutePath(),
                                         .allowedFileType = book.suffix(),
                                         .canCreateDirectories = true,
                                         .fileName = book.fileName()});
    if (!chosen)
        return;
    QString target = *chosen;
    // The new file is the same kind of file: its name says so.
    const QString suffix = QFileInfo(target).suffix().toLower();
    const bool mp3 = book.suffix().toLower() == u"mp3"_s;
    if (mp3 ? suffix != u"mp3"_s : !QStringList{u"m4b"_s, u"m4a"_s, u"mp4"_s}.contains(suffix))
        target += u'.' + book.suffix();
    writeBook(target);
}

// The sheet's tags and the chapters, with what was edited since the book
// was read marked to be written.
BookTag AppController::editedBookTags() const
{
    BookTag tag = sheetTags();
    tag.chapters = bookChapters();
    tag.written = tag.differencesFrom(mBook->read);
    return tag;
}

void AppController::writeBook(const QString& target)
{
    if (!bookIsOpen() || !mBook->tagsRead || mBookJob || state() != RunState::Idle)
        return;
    const QString source = mBook->path;
    const auto refuse = [this, &source](const QString& why) {
        showChapterFileAlert(u"Book Not Saved"_s,
                             u"\u201C%1\u201D cannot be saved."_s.arg(nameOf(source)),
                             why + u" The book is as it was."_s);
    };
    if (const QString problem = BookSaver::problemWith(source); !problem.isEmpty()) {
        refuse(problem);
        return;
    }
    const BookTag tag = editedBookTags();
    const qint64 needed = BookSaver::roomNeeded(source, tag);
    const std::optional<qint64> free = DiskSpace::available(QFileInfo(target).absolutePath());
    if (free && *free < needed) {
        refuse(u"The disk has %1 free, and the new copy that is written before it takes the "
               "book's place needs about %2. Make room, or save it to another disk with Save "
               "Book As\u2026."_s.arg(DiskSpace::roundedSize(double(*free)), DiskSpace::roundedSize(double(needed))));
        return;
    }
    auto* job = new SaveBook(source, target, tag);
    connect(job, &Job::succeeded, this, [this, job] {
        bookWritten(job->target(), job->tag(), {}, job->note());
    });
    connect(job, &Job::failed, this, [this, job, tag](const QString& failure) {
        bookWritten(job->target(), tag, failure, {});
    });
    runBookJob(job, u"Saving \u201C%1\u201D\u2026"_s.arg(nameOf(target)));
}

// A save or a split of the opened book: one at a time, and the list's line
// tells how it goes until it ends.
void AppController::runBookJob(Job* job, const QString& starting)
{
    mBookJob.reset(job);
    connect(job, &Job::progressed, this,
            [this](const Job::Progress& progress) { listSummary->setText(progress.text); });
    connect(job, &Job::succeeded, this, [this] { endBookJob(); }, Qt::QueuedConnection);
    connect(job, &Job::failed, this, [this] { endBookJob(); }, Qt::QueuedConnection);
    updateBookActions();
    listSummary->setText(starting);
    job->start();
}

void AppController::endBookJob()
{
    mBookJob.reset();
    updateBookActions();
    showListSummary();
}

void AppController::bookWritten(const QString& target, const BookTag& tag, const QString& failure,
                                const QString& note)
{
    if (!failure.isEmpty()) {
        showChapterFileAlert(u"Book Not Saved"_s,
                             u"\u201C%1\u201D could not be saved."_s.arg(nameOf(target)),
                             failure + u" The book is as it was."_s);
        return;
    }
    if (bookIsOpen()) {
        // The list now holds the book as saved, its marks and tags read again.
        const ItemRecordPtr& record = TableData.first();
        mListedPaths.remove(record->pathColumn);
        record->pathColumn = QFileInfo(target).absoluteFilePath();
        mListedPaths.insert(record->pathColumn);
        mBook->path = record->pathColumn;
        mBook->read = tag;
        mBook->read.written = BookTag::kEveryField;
        record->lengthRead = false;
        readDetails(record->pathColumn);
    }
    if (mBook)
        mBook->savedNote = u"Saved \u201C%1\u201D"_s.arg(nameOf(target));
    if (!note.isEmpty())
        showChapterFileAlert(u"Book Saved"_s,
                             u"\u201C%1\u201D was saved."_s.arg(nameOf(target)), note);
}

void AppController::splitIntoChapters(bool encoded)
{
    if (!bookIsOpen() || mBookJob || state() != RunState::Idle)
        return;
    const QString book = mBook->path;
    const QFileInfo info(book);
    const auto refuse = [this, &info](const QString& why) {
        showChapterFileAlert(u"Book Not Split"_s,
                             u"\u201C%1\u201D cannot be split."_s.arg(info.fileName()), why);
    };
    if (const QString problem = encoded ? QString() : BookSaver::problemWith(book);
        !problem.isEmpty()) {
        refuse(problem);
        return;
    }
    if (!mBook->tagsRead)
        return;
    const BookTag tag = editedBookTags();
    // Every file carries the cover.
    const qint64 needed = BookSaver::roomNeeded(book, tag) + tag.cover.size() * tag.chapters.size();
    const std::optional<qint64> free = DiskSpace::available(info.absolutePath());
    if (free && *free < needed) {
        refuse(u"The disk has %1 free, and the chapters' files need about %2. Make room, and "
               "split it again."_s.arg(DiskSpace::roundedSize(double(*free)), DiskSpace::roundedSize(double(needed))));
        return;
    }
    QString name = title->text().simplified().replace(u'/', u'-');
    if (name.isEmpty() || name.startsWith(u'.'))
        name = info.completeBaseName();
    QString folder = info.absolutePath() + u'/' + name;
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = info.absolutePath() + u'/' + name + u' ' + QString::number(n);
    // At the bit rate asked for in the output sheet, else the book's own.
    std::optional<int> kbps;
    if (encoded) {
        const QString rate = outputRate->currentText();
        kbps = QStringView(rate).left(rate.indexOf(u'k')).toInt();
        if (*kbps <= 0)
            kbps = TableData.first()->bitrateColumn.toInt();
        if (*kbps <= 0)
            kbps = 64;
    }
    auto* job = new SplitBook(book, folder, tag, kbps);
    connect(job, &Job::succeeded, this, [this, job] {
        if (mBook)
            mBook->savedNote = u"Split into \u201C%1\u201D, %2 files"_s.arg(
                QFileInfo(job->folder()).fileName()).arg(job->files().size());
    });
    connect(job, &Job::failed, this, [this](const QString& failure) {
        showChapterFileAlert(u"Book Not Split"_s, u"The chapters' files could not be made."_s,
                             failure + u" No file of it is left."_s);
    });
    runBookJob(job, u"Splitting into \u201C%1\u201D\u2026"_s.arg(QFileInfo(folder).fileName()));
}

void AppController::shiftChapters()
{
    if (TableData.isEmpty())
        return;
    mShiftSheet->ask(mChapterPanel->currentRow() >= 0);
}

void AppController::offerChapterFile()
{
    if (TableData.isEmpty() || anotherSheetIsUp())
        return;
    const QFileInfo first(TableData.first()->pathColumn);
    const QString folder = first.absolutePath();
    const QStringList names{first.completeBaseName(), first.absoluteDir().dirName()};
    QString found;
    for (const QString& name : names) {
        for (const QString& ending : {u".chapters.txt"_s, u".cue"_s}) {
            const QString path = folder + u'/' + name + ending;
            if (!found.isEmpty() || mOfferedChapterFiles.contains(path) ||
                !QFileInfo(path).isFile())
                continue;
            found = path;
        }
    }
    if (found.isEmpty())
        return;
    mOfferedChapterFiles.insert(found);
    QFile file(found);
    if (file.size() > (4 << 20) || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    const ChapterMarks chapters = ChapterFile::read(bytes, ChapterFile::kindOf(found, bytes));
    double total = 0;
    for (const ItemRecordPtr& record : std::as_const(TableData))
        total += record->lengthColumn.value_or(0);
    if (chapters.isEmpty() || !ChapterFile::problemWith(chapters, total).isEmpty())
        return;
    // A CUE sheet already read as the file's own marks is not offered again.
    const QList<BookTag::Chapter> listed = bookChapters();
    const bool same = listed.size() == chapters.size() &&
                      std::equal(chapters.begin(), chapters.end(), listed.begin(),
                                 [](const ChapterMark& a, const BookTag::Chapter& b) {
                                     return std::abs(a.start * 1000 - b.startMs) < 1.5;
                                 });
    if (same)
        return;
    AlertSpec alert;
    alert.title = u"Chapter File Found"_s;
    alert.message = u"Use the chapters in \u201C%1\u201D?"_s.arg(nameOf(found));
    alert.detail = u"It lists %1 chapters. They take the place of the chapter list's, and Undo "
                   "brings those back."_s.arg(chapters.size());
    alert.defaultButton = u"Import"_s;
    alert.alternateButton = u"Not Now"_s;
    mServices.dialogs->beginCriticalAlertSheet(mainWindow, alert, [this, found](int returnCode) {
        if (returnCode == 1)
            importChapterFile(found);
    });
}
