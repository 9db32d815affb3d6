#include "BookSaver.h"

#include "FileCopy.h"
#include "Mp3Frames.h"
#include "Mp4AudioTrack.h"
#include "Mp4Box.h"
#include "Mp4File.h"
#include "Resources.h"
#include "SourceTags.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

[[noreturn]] void fail(const QString& why)
{
    throw std::runtime_error(why.toStdString());
}

// Where an MP3 file's first ID3v2 tag ends (0: it has none), and whether
// another follows it.
struct LeadingTag
{
    qint64 end = 0;
    bool another = false;
};

LeadingTag leadingTag(QFile& file)
{
    const auto tagAt = [&file](qint64 at) -> qint64 {
        file.seek(at);
        const QByteArray head = file.read(10);
        if (head.size() < 10 || !head.startsWith("ID3"))
            return 0;
        qint64 size = 0;
        for (int i = 6; i < 10; ++i)
            size = (size << 7) | (static_cast<quint8>(head[i]) & 0x7F);
        const bool footer = (static_cast<quint8>(head[5]) & 0x10) != 0;
        return 10 + size + (footer ? 10 : 0);
    };
    LeadingTag tag;
    tag.end = tagAt(0);
    tag.another = tag.end > 0 && tagAt(tag.end) > 0;
    return tag;
}

// The new file's place: hidden beside target, so that the rename is one
// step on one disk.
std::unique_ptr<QTemporaryFile> besideTarget(const QString& target, const QString& named)
{
    const QFileInfo info(target);
    auto file =
        std::make_unique<QTemporaryFile>(info.absolutePath() + u"/."_s + info.completeBaseName() +
                                         u".saving-XXXXXX."_s + info.suffix());
    if (file->open())
        return file;
    const QString folder = QDir::toNativeSeparators(info.absolutePath());
    if (named != target)
        fail(u"\u201C%1\u201D is a link to \u201C%2\u201D, and Fablewick cannot write in its "
             "folder \u201C%3\u201D: %4."_s.arg(QFileInfo(named).fileName(),
                                                 QDir::toNativeSeparators(target), folder,
                                                 file->errorString()));
    fail(u"Fablewick cannot write in the folder \u201C%1\u201D: %2."_s.arg(folder,
                                                                          file->errorString()));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The file that a save writes: a symbolic link's target, the name itself
// otherwise.
QString fileNamedBy(const QString& target)
{
    const QFileInfo info(target);
    if (!info.isSymLink())
        return info.absoluteFilePath();
    QString real = info.canonicalFilePath();
    if (real.isEmpty())
        fail(u"\u201C%1\u201D is a link to \u201C%2\u201D, which is not there."_s.arg(
            info.fileName(), info.symLinkTarget()));
    return real;
}

// The new file takes the old one's mode, and its owner and group where this
// user may give them; a new name takes the source's mode.
void keepAccess(const QString& written, const QString& source, const QString& target)
{
    struct stat old{};
    const bool replacing = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    if (!replacing && ::stat(QFile::encodeName(source).constData(), &old) != 0)
        return;
    const QByteArray name = QFile::encodeName(written);
    if (replacing && ::chown(name.constData(), old.st_uid, old.st_gid) != 0)
        (void)::chown(name.constData(), static_cast<uid_t>(-1), old.st_gid);
    if (::chmod(name.constData(), old.st_mode & 07777) != 0)
        fail(u"The new file's permissions could not be set: %1."_s.arg(systemError(errno)));
}

// A file of several names (hard links) is written in place, so that every
// name shows the new book. Its room is taken first, so that only a failing
// disk can stop the copy then.
enum class InPlace { Written, NoRoom, Failed };

InPlace writeInPlace(const QString& written, const QString& target, QString& why)
{
    const int in = ::open(QFile::encodeName(written).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CLOEXEC);
    struct stat from{};
    struct stat to{};
    InPlace outcome = InPlace::NoRoom;
    if (in >= 0 && out >= 0 && ::fstat(in, &from) == 0 && ::fstat(out, &to) == 0) {
        const bool room = ::fallocate(out, 0, 0, from.st_size) == 0 ||
                          (errno == EOPNOTSUPP && from.st_size <= to.st_size);
        why = systemError(errno);
        if (room) {
            int error = FileCopy::range(in, 0, from.st_size, out);
            if (error == 0 && (::ftruncate(out, from.st_size) != 0 || ::fsync(out) != 0))
                error = errno;
            outcome = error == 0 ? InPlace::Written : InPlace::Failed;
            why = systemError(error);
        }
    }
    for (const int fd : {in, out}) {
        if (fd >= 0)
            ::close(fd);
    }
    return outcome;
}

QString replace(QTemporaryFile& written, const QString& source, const QString& target)
{
    keepAccess(written.fileName(), source, target);
    written.close();
    struct stat old{};
    const QByteArray name = QFile::encodeName(target);
    const QString shown = QFileInfo(target).fileName();
    QString note;
    if (::stat(name.constData(), &old) == 0 && old.st_nlink > 1) {
        QString why;
        switch (writeInPlace(written.fileName(), target, why)) {
        case InPlace::Written: return {};
        case InPlace::NoRoom:
            note = u"\u201C%1\u201D has other names (hard links), and it could not be written in "
                   "place (%2): they still show the book as it was."_s.arg(shown, why);
            break;
        case InPlace::Failed:
            note = u"\u201C%1\u201D has other names (hard links), and writing it in place failed "
                   "partway (%2): this name holds the saved book, and the others may not play."_s
                       .arg(shown, why);
            break;
        }
    }
    if (std::rename(QFile::encodeName(written.fileName()).constData(), name.constData()) != 0)
        fail(u"It could not take the place of \u201C%1\u201D: %2."_s.arg(shown, systemError(errno)));
    written.setAutoRemove(false);
    return note;
}

// What a save of an MP4 book finds in it: why it cannot be written again,
// or its audio as the header lays it out, which the new file must keep.
struct Mp4Check
{
    QString problem;
    Mp4AudioTrack track;
};

// One read of the header serves every check: a long book's is megabytes.
Mp4Check checkMp4(const QString& path)
{
    const QString fragmented =
        u"It is a fragmented MP4 file, written in pieces as it streamed, and Fablewick "
        "writes only a file with one header."_s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {u"It cannot be read: %1."_s.arg(file.errorString()), {}};
    // Fragments at the top, or their defaults in the movie header.
    const Mp4File::TopBoxes top = Mp4File::topBoxes(file.handle(), file.size());
    if (std::any_of(top.boxes.begin(), top.boxes.end(), [](const Mp4File::TopBox& box) {
            return box.type == "moof" || box.type == "mfra";
        }))
        return {fragmented, {}};
    try {
        const QByteArray moov = Mp4File::movieHeader(file.handle(), file.size());
        const std::vector<Mp4Box> movie = Mp4Box::parse(moov);
        if (std::any_of(movie.begin(), movie.end(),
                        [](const Mp4Box& box) { return box.type == "mvex"; }))
            return {fragmented, {}};
        return {{}, Mp4AudioTrack::fromHeader(moov, file.size(), Mp4AudioTrack::Times::AsWritten)};
    } catch (const Mp4AudioTrack::CutShort&) {
        return {u"The file is cut short: part of its audio is missing. Make the book again from "
                "its files."_s,
                {}};
    } catch (const std::exception& e) {
        return {u"Fablewick cannot write this book again without encoding it: %1."_s.arg(
                    QString::fromUtf8(e.what())),
                {}};
    }
}

QString mp3Problem(const QString& path)
{
    if (!Mp3Frames::check(path).isAudio())
        return u"It holds no MP3 audio that Fablewick reads."_s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"It cannot be read: %1."_s.arg(file.errorString());
    const LeadingTag tag = leadingTag(file);
    if (tag.end > file.size())
        return u"Its ID3v2 tag claims to run past the file's end."_s;
    if (tag.another)
        return u"It has more than one ID3v2 tag at its start, and players differ on which they "
               "read. Make the book again from its files."_s;
    return {};
}

QByteArray chapterList(const QList<BookTag::Chapter>& chapters)
{
    QByteArray xml = R"(<?xml version="1.0" encoding="utf-8"?><chapters version="1">)";
    for (const BookTag::Chapter& chapter : chapters) {
        const quint32 ms = chapter.startMs;
        xml += QString::asprintf("<chapter starttime=\"%u:%02u.%03u\"><title>", ms / 60000,
                                 ms / 1000 % 60, ms % 1000)
                   .toUtf8();
        xml += chapter.title.toHtmlEscaped().toUtf8() + "</title></chapter>";
    }
    return xml + "</chapters>";
}

void copyWhole(const QString& source, QTemporaryFile& written)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        fail(u"It cannot be read: %1."_s.arg(in.errorString()));
    if (const int error = FileCopy::range(in.handle(), 0, in.size(), written.handle()))
        fail(u"The new file could not be written: %1."_s.arg(systemError(error)));
}

void writeChapters(const QString& source, QTemporaryFile& written, const BookTag& tag)
{
    QTemporaryDir folder;
    QFile list(folder.filePath(u"Chapters.xml"_s));
    if (!folder.isValid() || !list.open(QIODevice::WriteOnly) ||
        list.write(chapterList(tag.chapters)) < 0 || !list.flush())
        fail(u"Fablewick cannot write its temporary files: %1."_s.arg(list.errorString()));
    const QString tool = Resources::pathForResource(u"ChapterTool"_s, {}).value_or(QString());
    QProcess chapters;
    chapters.start(tool, {u"-x"_s, list.fileName(), u"-a"_s, source, u"-o"_s, written.fileName()});
    chapters.waitForFinished(-1);
    if (chapters.exitStatus() != QProcess::NormalExit || chapters.exitCode() != 0)
        fail(u"Its chapters could not be written: %1"_s.arg(
            QString::fromLocal8Bit(chapters.readAllStandardError()).trimmed()));
}

void saveMp4(const QString& source, QTemporaryFile& written, const BookTag& tag,
             const Mp4AudioTrack& before)
{
    // Chapters that were not edited are kept as the book has them, titles,
    // times and all.
    if (tag.written & BookTag::Field::Chapters)
        writeChapters(source, written, tag);
    else
        copyWhole(source, written);
    // The chapter tool wrote in place of the open file.
    written.close();
    try {
        tag.writeMp4(written.fileName());
    } catch (const std::exception& e) {
        fail(u"Its tags could not be written: %1."_s.arg(QString::fromUtf8(e.what())));
    }
    Mp4AudioTrack after;
    try {
        after = Mp4AudioTrack::read(written.fileName(), Mp4AudioTrack::Times::AsWritten);
    } catch (const std::exception& e) {
        fail(u"The new file could not be read back: %1."_s.arg(QString::fromUtf8(e.what())));
    }
    if (after.sizes != before.sizes || after.priming != before.priming ||
        after.padding != before.padding || after.audioConfig != before.audioConfig)
        fail(u"The new file's audio did not match the book's."_s);
}

void saveMp3(const QString& source, QTemporaryFile& written, const BookTag& tag)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        fail(u"It cannot be read: %1."_s.arg(in.errorString()));
    const LeadingTag old = leadingTag(in);
    const qint64 audio = in.size() - old.end;
    QByteArray header;
    if (!tag.written) {
        // Nothing edited: the tag stays as it was, to the byte.
        in.seek(0);
        header = in.read(old.end);
    } else {
        try {
            header = tag.renderedOver(source);
        } catch (const std::exception& e) {
            fail(u"Its tags could not be read: %1."_s.arg(QString::fromUtf8(e.what())));
        }
    }
    if (written.write(header) != header.size() || !written.flush())
        fail(u"The new file could not be written: %1."_s.arg(written.errorString()));
    if (const int error = FileCopy::range(in.handle(), old.end, audio, written.handle()))
        fail(u"The new file could not be written: %1."_s.arg(systemError(error)));
    written.close();
    const auto before = Mp3Frames::framesSpan(source);
    const auto after = Mp3Frames::framesSpan(written.fileName());
    const qsizetype chapters = tag.written & BookTag::Field::Chapters
                                   ? tag.chapters.size()
                                   : SourceTags::read(source).marks.size();
    if (QFileInfo(written.fileName()).size() != header.size() + audio || !before || !after ||
        after->end - after->begin != before->end - before->begin ||
        SourceTags::read(written.fileName()).marks.size() != chapters)
        fail(u"The new file's audio did not match the book's."_s);
}

} // namespace

QString BookSaver::problemWith(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return u"It is no longer there."_s;
    return Mp4Box::startsMp4File(path) ? checkMp4(path).problem : mp3Problem(path);
}

qint64 BookSaver::roomNeeded(const QString& path, const BookTag& tag)
{
    // The tags, chapters and tables besides the cover take less than this.
    constexpr qint64 kHeaderRoom = 1 << 20;
    return QFileInfo(path).size() + tag.cover.size() + kHeaderRoom;
}

QString BookSaver::save(const QString& source, const QString& target, const BookTag& tag)
{
    if (!QFileInfo(source).isFile())
        fail(problemWith(source));
    const bool mp4 = Mp4Box::startsMp4File(source);
    const Mp4Check check = mp4 ? checkMp4(source) : Mp4Check{mp3Problem(source), {}};
    if (!check.problem.isEmpty())
        fail(check.problem);
    const QString file = fileNamedBy(target);
    const std::unique_ptr<QTemporaryFile> written = besideTarget(file, target);
    if (mp4)
        saveMp4(source, *written, tag, check.track);
    else
        saveMp3(source, *written, tag);
    return replace(*written, source, file);
}
