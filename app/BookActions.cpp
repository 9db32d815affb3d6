#include "BookActions.h"

#include "AudioKind.h"
#include "AudioPreview.h"
#include "BookFormat.h"
#include "BookSaver.h"
#include "ChapterActions.h"
#include "DialogService.h"
#include "DiskSpace.h"
#include "DraftBook.h"
#include "FileLister.h"
#include "Mp4Box.h"
#include "Mp4File.h"
#include "OutputSheet.h"
#include "SaveBook.h"
#include "SourceTags.h"
#include "SplitBook.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>

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

QString room(qint64 bytes)
{
    return DiskSpace::roundedSize(static_cast<double>(bytes));
}

} // namespace

BookActions::BookActions(QMainWindow* window, const Ui::MainWindow& ui, const Parts& parts,
                         QObject* parent)
    : QObject(parent), mWindow(window), mUi(ui), mParts(parts),
      mOpen(action(u"Open &Book…"_s, u"Ctrl+Alt+O"_s,
                   u"Open a finished .m4b, .m4a or .mp3 book to change its chapters and tags"_s)),
      mSave(action(u"&Save Book"_s, u"Ctrl+S"_s,
                   u"Write the chapters and tags into the opened book, its audio as it is"_s)),
      mSaveAs(action(u"Save Book &As…"_s, u"Ctrl+Alt+S"_s,
                     u"Write the opened book, with its chapters and tags, as a new file"_s)),
      mSplit(action(u"Spli&t into Chapters…"_s, u"Ctrl+Alt+X"_s,
                    u"Make one file of each chapter of the opened book, without an encode"_s)),
      mSplitEncoded(action(u"Split into Chapters as MP3…"_s, u"Ctrl+Alt+Shift+X"_s,
                           u"Make one file of each chapter of the opened book in the other "
                           "form, encoded on every core"_s))
{
    QAction* before = mUi.actionMakeAudiobook;
    mUi.fileMenu->insertActions(before, {mOpen, mSave, mSaveAs, mSplit, mSplitEncoded});
    mUi.fileMenu->insertSeparator(before);
    connect(mOpen, &QAction::triggered, this, [this] { openBook(); });
    connect(mSave, &QAction::triggered, this, [this] { saveBook(); });
    connect(mSaveAs, &QAction::triggered, this, [this] { saveBookAs(); });
    connect(mSplit, &QAction::triggered, this, [this] { splitIntoChapters(); });
    connect(mSplitEncoded, &QAction::triggered, this, [this] { splitIntoChapters(true); });
    // "Saved …" stays until the book is edited again.
    connect(&mParts.book, &DraftBook::edited, this, [this] {
        mNote.clear();
        update();
    });
    update();
}

BookActions::~BookActions()
{
    // A save is let finish, so that the book is whole; a split stops.
    mJob.reset();
}

QAction* BookActions::action(const QString& text, const QString& key, const QString& tip)
{
    auto* made = new QAction(text, mWindow);
    made->setShortcut(QKeySequence(key));
    made->setToolTip(u"%1 (%2)"_s.arg(tip, made->shortcut().toString(QKeySequence::NativeText)));
    made->setStatusTip(tip);
    mWindow->addAction(made);
    return made;
}

void BookActions::update()
{
    const bool free = !mJob && mParts.idle();
    const bool canSave = free && mParts.book.bookIsOpen();
    for (QAction* each : {mSave, mSaveAs, mSplit, mSplitEncoded})
        each->setEnabled(canSave);
    const auto& opened = mParts.book.openedBook();
    const bool mp3 = opened && AudioKind::of(opened->path) == AudioKind::Kind::Mp3;
    mSplitEncoded->setText(mp3 ? u"Split into Chapters as M4A…"_s
                               : u"Split into Chapters as MP3…"_s);
    mOpen->setEnabled(free);
}

bool BookActions::looksLikeBook(const QString& path)
{
    if (BookFormats::ofPath(path) == BookFormat::AacBookmark)
        return true;
    if (Mp4Box::startsMp4File(path))
        return mp4HasChapters(path);
    return AudioKind::of(path) == AudioKind::Kind::Mp3 && SourceTags::read(path).marks.size() >= 2;
}

void BookActions::openBook()
{
    if (mJob || !mParts.idle())
        return;
    mParts.dialogs.beginOpenPanelSheet(mWindow,
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

void BookActions::openBookFile(const QString& path)
{
    if (mJob || !mParts.idle())
        return;
    mParts.preview.stop();
    mNote.clear();
    mParts.lister.openBook(QFileInfo(path).absoluteFilePath());
    update();
}

void BookActions::saveBook()
{
    if (const auto& opened = mParts.book.openedBook(); opened && mParts.book.bookIsOpen())
        writeBook(opened->path);
}

void BookActions::saveBookAs()
{
    if (!mParts.book.bookIsOpen())
        return;
    const QFileInfo book(mParts.book.openedBook()->path);
    const std::optional<QString> chosen =
        mParts.dialogs.runSavePanel({.title = u"Save Book As"_s,
                                     .directory = book.absolutePath(),
                                     .allowedFileType = book.suffix(),
                                     .canCreateDirectories = true,
                                     .fileName = book.fileName()});
    if (!chosen)
        return;
    QString target = *chosen;
    // The new file is the same kind of file: its name says so.
    const std::optional<BookFormat> format = BookFormats::ofPath(target);
    const bool mp3 = AudioKind::of(book.filePath()) == AudioKind::Kind::Mp3;
    if (!format || (*format == BookFormat::Mp3) != mp3)
        target += u'.' + book.suffix();
    writeBook(target);
}

void BookActions::writeBook(const QString& target)
{
    DraftBook& draft = mParts.book;
    if (!draft.bookIsOpen() || !draft.openedBook()->tagsRead || mJob || !mParts.idle())
        return;
    const QString source = draft.openedBook()->path;
    const auto refuse = [this, &source](const QString& why) {
        mParts.chapters.showAlert(u"Book Not Saved"_s,
                                  u"\u201C%1\u201D cannot be saved."_s.arg(nameOf(source)),
                                  why + u" The book is as it was."_s);
    };
    if (const QString problem = BookSaver::problemWith(source); !problem.isEmpty()) {
        refuse(problem);
        return;
    }
    const BookTag tag = draft.bookEdits();
    const qint64 needed = BookSaver::roomNeeded(source, tag);
    const std::optional<qint64> free = DiskSpace::available(QFileInfo(target).absolutePath());
    if (free && *free < needed) {
        refuse(u"The disk has %1 free, and the new copy that is written before it takes the "
               "book's place needs about %2. Make room, or save it to another disk with Save "
               "Book As\u2026."_s.arg(room(*free), room(needed)));
        return;
    }
    auto* job = new SaveBook(source, target, tag);
    connect(job, &Job::succeeded, this,
            [this, job] { bookWritten(job->target(), job->tag(), job->note()); });
    connect(job, &Job::failed, this, [this, target](const QString& failure) {
        mParts.chapters.showAlert(u"Book Not Saved"_s,
                                  u"\u201C%1\u201D could not be saved."_s.arg(nameOf(target)),
                                  failure + u" The book is as it was."_s);
    });
    runJob(job, u"Saving \u201C%1\u201D\u2026"_s.arg(nameOf(target)));
}

void BookActions::bookWritten(const QString& target, const BookTag& tag, const QString& note)
{
    // The list now holds the book as saved, its marks and tags read again.
    mParts.book.bookSaved(target, tag);
    if (mParts.book.bookIsOpen())
        mParts.lister.readAgain(mParts.book.files().first()->pathColumn);
    mNote = u"Saved \u201C%1\u201D"_s.arg(nameOf(target));
    if (!note.isEmpty())
        mParts.chapters.showAlert(u"Book Saved"_s,
                                  u"\u201C%1\u201D was saved."_s.arg(nameOf(target)), note);
}

void BookActions::splitIntoChapters(bool encoded)
{
    DraftBook& draft = mParts.book;
    if (!draft.bookIsOpen() || !draft.openedBook()->tagsRead || mJob || !mParts.idle())
        return;
    const QString book = draft.openedBook()->path;
    const QFileInfo info(book);
    const auto refuse = [this, &info](const QString& why) {
        mParts.chapters.showAlert(u"Book Not Split"_s,
                                  u"\u201C%1\u201D cannot be split."_s.arg(info.fileName()), why);
    };
    if (const QString problem = encoded ? QString() : BookSaver::problemWith(book);
        !problem.isEmpty()) {
        refuse(problem);
        return;
    }
    const BookTag tag = draft.bookEdits();
    // Every file carries the cover.
    const qint64 needed = BookSaver::roomNeeded(book, tag) + tag.cover.size() * tag.chapters.size();
    const std::optional<qint64> free = DiskSpace::available(info.absolutePath());
    if (free && *free < needed) {
        refuse(u"The disk has %1 free, and the chapters' files need about %2. Make room, and "
               "split it again."_s.arg(room(*free), room(needed)));
        return;
    }
    QString name = tag.title.simplified().replace(u'/', u'-');
    if (name.isEmpty() || name.startsWith(u'.'))
        name = info.completeBaseName();
    QString folder = info.absolutePath() + u'/' + name;
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = info.absolutePath() + u'/' + name + u' ' + QString::number(n);
    // At the bit rate asked for in the output sheet, else the book's own.
    std::optional<int> kbps;
    if (encoded) {
        kbps = mParts.output.kbps();
        if (!kbps || *kbps <= 0)
            kbps = draft.files().first()->bitrateColumn.toInt();
        if (*kbps <= 0)
            kbps = 64;
    }
    auto* job = new SplitBook(book, folder, tag, kbps);
    connect(job, &Job::succeeded, this, [this, job] {
        mNote = u"Split into \u201C%1\u201D, %2 files"_s.arg(QFileInfo(job->folder()).fileName())
                    .arg(job->files().size());
    });
    connect(job, &Job::failed, this, [this](const QString& failure) {
        mParts.chapters.showAlert(u"Book Not Split"_s, u"The chapters' files could not be made."_s,
                                  failure + u" No file of it is left."_s);
    });
    runJob(job, u"Splitting into \u201C%1\u201D\u2026"_s.arg(QFileInfo(folder).fileName()));
}

void BookActions::runJob(Job* job, const QString& starting)
{
    mJob.reset(job);
    connect(job, &Job::progressed, this,
            [this](const Job::Progress& progress) { mUi.listSummary->setText(progress.text); });
    // The job goes once it has told its end to everyone.
    const auto ended = [this] {
        mJob.reset();
        update();
        Q_EMIT summaryChanged();
    };
    connect(job, &Job::succeeded, this, ended, Qt::QueuedConnection);
    connect(job, &Job::failed, this, ended, Qt::QueuedConnection);
    update();
    mUi.listSummary->setText(starting);
    job->start();
}
