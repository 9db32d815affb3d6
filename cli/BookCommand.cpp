#include "BookCommand.h"

#include "AudioKind.h"
#include "BookFiles.h"
#include "BookInfo.h"
#include "BookSaver.h"
#include "ChapterFile.h"
#include "CoverArt.h"
#include "DetailsLookup.h"
#include "DiskSpace.h"
#include "SaveBook.h"
#include "SilenceSearch.h"
#include "SplitBook.h"
#include "TagOptions.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

QString nameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

// The largest cover taken: far past any player's, and a bound on memory.
constexpr int kLargestCover = 10000;
constexpr qint64 kLargestCoverFile = 64LL << 20;

} // namespace

BookCommand::BookCommand(BookOptions options, QObject* parent)
    : QObject(parent), mOptions(std::move(options)), mEditor(mDraft)
{
}

BookCommand::~BookCommand() = default;

int BookCommand::run()
{
    if (!open())
        return 1;
    switch (mOptions.verb) {
    case BookOptions::Verb::Info:
        return info();
    case BookOptions::Verb::Tag:
        return tag();
    case BookOptions::Verb::Chapters:
        return chapters();
    case BookOptions::Verb::Split:
        return split();
    }
    return 1;
}

void BookCommand::stop()
{
    mStopped = true;
    if (mRunning)
        mRunning->stop();
    if (mLoop)
        mLoop->quit();
}

QString BookCommand::bookName() const
{
    return nameOf(mOptions.book);
}

int BookCommand::failure(const QString& message) const
{
    std::fprintf(stderr, "fablewick-book: %s\n", message.toUtf8().constData());
    return 1;
}

void BookCommand::print(const QString& text) const
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void BookCommand::printJson(const QJsonObject& object) const
{
    print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

bool BookCommand::open()
{
    const QFileInfo file(mOptions.book);
    const QString opened = u"\u201C%1\u201D cannot be opened."_s.arg(bookName());
    if (!file.isFile()) {
        failure(u"%1 There is no such file."_s.arg(opened));
        return false;
    }
    if (!AudioKind::isListed(file.absoluteFilePath())) {
        failure(u"%1 It is no audio file that Fablewick reads."_s.arg(opened));
        return false;
    }
    const ItemRecordPtr record = BookFiles::recordOf(file.absoluteFilePath());
    if (!record->problem.isEmpty() || !record->lengthColumn) {
        failure(u"%1 %2"_s.arg(opened, record->problem.isEmpty() ? u"Its length cannot be read."_s
                                                                 : record->problem));
        return false;
    }
    mDraft.openBook(record);
    return true;
}

int BookCommand::info()
{
    const QJsonObject info = BookInfo::of(mDraft);
    if (mOptions.json)
        printJson(info);
    else
        print(BookInfo::text(info));
    return 0;
}

int BookCommand::tag()
{
    BookTag tags = mDraft.tags();
    for (const QString& name : mOptions.setFields) {
        const TagOptions::Option* option = TagOptions::named(name);
        tags.*option->field = (mOptions.tags.*option->field).trimmed();
    }
    for (const QString& name : mOptions.clearFields)
        tags.*TagOptions::named(name)->field = QString();
    if (mOptions.removeCover) {
        tags.cover.clear();
        tags.coverMimeType.clear();
    }
    if (!mOptions.cover.isEmpty()) {
        const QString notTaken =
            u"The cover \u201C%1\u201D cannot be taken."_s.arg(nameOf(mOptions.cover));
        QFile image(mOptions.cover);
        if (image.size() > kLargestCoverFile || !image.open(QIODevice::ReadOnly))
            return failure(u"%1 It cannot be read, or is larger than 64 MB. The book is as it "
                           "was."_s.arg(notTaken));
        const QByteArray bytes = image.readAll();
        const QImage decoded = QImage::fromData(bytes);
        if (decoded.isNull() || decoded.width() > kLargestCover || decoded.height() > kLargestCover)
            return failure(u"%1 It is no image, or is larger than %2 pixels a side. The book is "
                           "as it was."_s.arg(notTaken)
                               .arg(kLargestCover));
        // A JPEG or PNG is kept as it is; another kind becomes a JPEG, which players show.
        const QString mime = CoverArt::mimeTypeOf(bytes);
        const bool kept = mime == u"image/jpeg"_s || mime == u"image/png"_s;
        tags.cover = kept ? bytes : BookFiles::coverJpeg(decoded);
        tags.coverMimeType = kept ? mime : u"image/jpeg"_s;
    }
    if (mOptions.details) {
        DetailsLookup::Outcome details =
            DetailsLookup::lookUp(tags, QFileInfo(mOptions.book).absoluteDir().dirName());
        tags = details.tags;
        std::fputs((details.said + u'\n').toUtf8().constData(), stderr);
    }
    mDraft.edit(u"Change Tags"_s, [&tags](DraftBook::Edit& edit) { edit.setTags(tags); });
    return write();
}

bool BookCommand::searchSilence(QList<QList<SilenceFinder::Silence>>& silences)
{
    const ItemRecordPtr& record = mDraft.files().first();
    SilenceSearch search({{.path = record->pathColumn, .length = *record->lengthColumn}},
                         mOptions.silence);
    if (const std::optional<QString> failed = runToEnd(search)) {
        failure(u"The search stopped: %1. Check that the book can be played, then try again."_s.arg(
            *failed));
        return false;
    }
    silences = search.silences();
    const qsizetype found = silences.isEmpty() ? 0 : silences.first().size();
    if (found == 0) {
        failure(u"No silence of %1 s at %2 dB or quieter was found. A shorter silence or a "
                "higher level finds more."_s.arg(mOptions.silence.shortest)
                    .arg(mOptions.silence.levelDb));
        return false;
    }
    return true;
}

int BookCommand::chapters()
{
    if (!mOptions.importFrom.isEmpty()) {
        if (const QString problem = mEditor.import(mOptions.importFrom); !problem.isEmpty())
            return failure(u"The chapters of \u201C%1\u201D cannot be imported. %2 The book is "
                           "as it was."_s.arg(nameOf(mOptions.importFrom), problem));
    }
    if (mOptions.shift) {
        const int after = mOptions.shiftAfter > 0 ? mOptions.shiftAfter - 1 : -1;
        if (after >= static_cast<int>(BookInfo::chapters(mDraft, false).size()))
            return failure(
                u"The book has no chapter %1. The book is as it was."_s.arg(mOptions.shiftAfter));
        if (const QString problem = mEditor.shift(*mOptions.shift, after); !problem.isEmpty())
            return failure(problem + u" The book is as it was."_s);
    }
    if (mOptions.retitleNumber > 0) {
        const QList<ChapterRow>& rows = mDraft.chapters();
        if (mOptions.retitleNumber > rows.size())
            return failure(u"The book has %1 chapters; there is no chapter %2. The book is as "
                           "it was."_s.arg(rows.size())
                               .arg(mOptions.retitleNumber));
        const ChapterRow row = rows.at(mOptions.retitleNumber - 1);
        mEditor.retitle(row, mOptions.retitleTitle);
    }
    if (mOptions.findSilence || mOptions.splitLongerThan) {
        QList<QList<SilenceFinder::Silence>> silences;
        if (!searchSilence(silences))
            return 1;
        if (mOptions.findSilence) {
            mEditor.propose(mDraft.files(), silences, mOptions.shortestChapter);
            if (mOptions.take)
                mEditor.settleProposals(true);
        } else {
            mEditor.splitLong(mDraft.files(), silences, *mOptions.splitLongerThan);
        }
    }
    const QJsonArray chapters = BookInfo::chapters(mDraft, true);
    if (!mOptions.exportTo.isEmpty()) {
        ChapterMarks marks;
        for (const ChapterRow& row : mDraft.chapters()) {
            if (!row.proposed)
                marks.append({row.start, row.title});
        }
        const QString title = mDraft.tags().title.isEmpty()
                                  ? QFileInfo(mOptions.book).completeBaseName()
                                  : mDraft.tags().title;
        const QByteArray bytes = ChapterFile::written(
            marks, ChapterFile::kindForName(mOptions.exportTo), mDraft.length(), title);
        QSaveFile file(mOptions.exportTo);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            return failure(u"The chapters could not be saved as \u201C%1\u201D. %2."_s.arg(
                nameOf(mOptions.exportTo), file.errorString()));
    }
    // Proposals not taken, and a dry run, are told and not written.
    if (!mOptions.editsChapters() || mOptions.dryRun) {
        if (mOptions.json)
            printJson({{u"book"_s, mOptions.book}, {u"chapters"_s, chapters}});
        else
            print(BookInfo::chapterLines(chapters));
        return 0;
    }
    return write();
}

int BookCommand::write()
{
    const QString source = mDraft.openedBook()->path;
    const QString target =
        mOptions.output.isEmpty() ? source : QFileInfo(mOptions.output).absoluteFilePath();
    const BookTag tag = mDraft.bookEdits();
    if (mOptions.dryRun) {
        QJsonObject plan{{u"book"_s, source}, {u"target"_s, target}};
        QStringList fields;
        for (const TagOptions::Option& option : TagOptions::all())
            fields << u"%1: %2"_s.arg(QString::fromUtf16(option.name), tag.*option.field);
        if (mOptions.json)
            printJson(plan);
        else
            print(
                u"Would write \u201C%1\u201D with:\n  %2\n"_s.arg(target, fields.join(u"\n  "_s)));
        return 0;
    }
    const auto refused = [this, &source](const QString& why) {
        return failure(u"\u201C%1\u201D cannot be saved. %2 The book is as it was."_s.arg(
            nameOf(source), why));
    };
    if (QFileInfo(target).isDir())
        return refused(u"\u201C%1\u201D is a folder."_s.arg(target));
    if (const QString problem = BookSaver::problemWith(source); !problem.isEmpty())
        return refused(problem);
    const qint64 needed = BookSaver::roomNeeded(source, tag);
    const std::optional<qint64> free = DiskSpace::available(QFileInfo(target).absolutePath());
    if (free && *free < needed)
        return refused(u"The disk has %1 MB free, and the new copy needs about %2 MB. Make "
                       "room, or write it to another disk with --output."_s.arg(*free >> 20)
                           .arg(needed >> 20));
    SaveBook save(source, target, tag);
    if (const std::optional<QString> failed = runToEnd(save))
        return failure(u"\u201C%1\u201D could not be saved. %2 The book is as it was."_s.arg(
            nameOf(target), *failed));
    if (mOptions.json)
        printJson({{u"saved"_s, target}, {u"note"_s, save.note()}});
    else
        print(u"Saved \u201C%1\u201D\n"_s.arg(nameOf(target)) +
              (save.note().isEmpty() ? QString() : save.note() + u'\n'));
    return 0;
}

int BookCommand::split()
{
    const QString book = mDraft.openedBook()->path;
    const bool mp3 = AudioKind::of(book) == AudioKind::Kind::Mp3;
    const bool encoded = mOptions.as && (*mOptions.as == BookFormat::Mp3) != mp3;
    const QString notSplit = u"\u201C%1\u201D cannot be split."_s.arg(bookName());
    if (!encoded) {
        if (const QString problem = BookSaver::problemWith(book); !problem.isEmpty())
            return failure(notSplit + u' ' + problem);
    }
    std::optional<int> kbps;
    if (encoded) {
        kbps = mOptions.kbps > 0 ? mOptions.kbps : mDraft.files().first()->bitrateColumn.toInt();
        if (*kbps <= 0)
            kbps = 64;
    }
    const BookTag tag = mDraft.bookEdits();
    SplitBook job(book, QFileInfo(mOptions.outDir).absoluteFilePath(), tag, kbps);
    if (const std::optional<QString> failed = runToEnd(job))
        return failure(
            u"The chapters' files could not be made. %1 No file of it is left."_s.arg(*failed));
    if (mOptions.json) {
        printJson(
            {{u"folder"_s, job.folder()}, {u"files"_s, QJsonArray::fromStringList(job.files())}});
    } else {
        QString text =
            u"Split into \u201C%1\u201D, %2 files\n"_s.arg(job.folder()).arg(job.files().size());
        for (const QString& file : job.files())
            text += u"  "_s + nameOf(file) + u'\n';
        print(text);
    }
    return 0;
}

std::optional<QString> BookCommand::runToEnd(Job& job)
{
    if (mStopped)
        return u"It was stopped."_s;
    QEventLoop loop;
    bool ended = false;
    std::optional<QString> failed;
    connect(&job, &Job::succeeded, &loop, [&] {
        ended = true;
        loop.quit();
    });
    connect(&job, &Job::failed, &loop, [&](const QString& reason) {
        ended = true;
        failed = reason;
        loop.quit();
    });
    mRunning = &job;
    mLoop = &loop;
    job.start();
    if (!ended && !mStopped)
        loop.exec();
    mRunning = nullptr;
    mLoop = nullptr;
    if (mStopped && !ended) {
        job.stop();
        return u"It was stopped."_s;
    }
    return failed;
}
