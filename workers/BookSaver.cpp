#include "BookSaver.h"

#include "FileCopy.h"
#include "Mp3Frames.h"
#include "Mp4AudioTrack.h"
#include "Mp4Box.h"
#include "Resources.h"
#include "SourceTags.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;

namespace {

[[noreturn]] void fail(const QString& why)
{
    throw std::runtime_error(why.toStdString());
}

// The top boxes' types, and whether the movie header holds fragments' defaults.
bool isFragmented(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    for (qint64 at = 0; at + 8 <= size;) {
        file.seek(at);
        const QByteArray head = file.read(16);
        const auto box = Mp4::boxHead(head, static_cast<quint64>(size - at));
        if (!box || box->size == 0)
            return false;
        if (box->type == "moof" || box->type == "mfra")
            return true;
        if (box->type == "moov" && box->size < (64U << 20)) {
            file.seek(at + box->header);
            const QByteArray moov = file.read(static_cast<qint64>(box->size) - box->header);
            for (qsizetype in = 0; in + 8 <= moov.size();) {
                const auto child = Mp4::boxHead(QByteArrayView(moov).sliced(in),
                                                static_cast<quint64>(moov.size() - in));
                if (!child || child->size == 0)
                    break;
                if (child->type == "mvex")
                    return true;
                in += static_cast<qsizetype>(child->size);
            }
        }
        at += static_cast<qint64>(box->size);
    }
    return false;
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
std::unique_ptr<QTemporaryFile> besideTarget(const QString& target)
{
    const QFileInfo info(target);
    auto file =
        std::make_unique<QTemporaryFile>(info.absolutePath() + u"/."_s + info.completeBaseName() +
                                         u".saving-XXXXXX."_s + info.suffix());
    if (!file->open())
        fail(u"Fablewick cannot write in the folder \u201C%1\u201D: %2."_s.arg(
            QDir::toNativeSeparators(info.absolutePath()), file->errorString()));
    return file;
}

void replace(QTemporaryFile& written, const QString& source, const QString& target)
{
    // The book keeps who may read and write it.
    if (QFileInfo::exists(target))
        written.setPermissions(QFileInfo(target).permissions());
    else
        written.setPermissions(QFileInfo(source).permissions());
    written.close();
    if (std::rename(QFile::encodeName(written.fileName()).constData(),
                    QFile::encodeName(target).constData()) != 0)
        fail(u"It could not take the place of \u201C%1\u201D: %2."_s.arg(
            QFileInfo(target).fileName(), QString::fromLocal8Bit(std::strerror(errno))));
    written.setAutoRemove(false);
}

QString mp4Problem(const QString& path)
{
    if (isFragmented(path))
        return u"It is a fragmented MP4 file, written in pieces as it streamed, and Fablewick "
               "writes only a file with one header."_s;
    try {
        (void)Mp4AudioTrack::read(path, Mp4AudioTrack::Times::AsWritten);
    } catch (const Mp4AudioTrack::CutShort&) {
        return u"The file is cut short: part of its audio is missing. Make the book again from "
               "its files."_s;
    } catch (const std::exception& e) {
        return u"Fablewick cannot write this book again without encoding it: %1."_s.arg(
            QString::fromUtf8(e.what()));
    }
    return {};
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

void saveMp4(const QString& source, QTemporaryFile& written, const BookTag& tag)
{
    const Mp4AudioTrack before = Mp4AudioTrack::read(source, Mp4AudioTrack::Times::AsWritten);
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
    try {
        header = tag.renderedOver(source);
    } catch (const std::exception& e) {
        fail(u"Its tags could not be read: %1."_s.arg(QString::fromUtf8(e.what())));
    }
    if (written.write(header) != header.size() || !written.flush())
        fail(u"The new file could not be written: %1."_s.arg(written.errorString()));
    if (const int error = FileCopy::range(in.handle(), old.end, audio, written.handle()))
        fail(u"The new file could not be written: %1."_s.arg(
            QString::fromLocal8Bit(std::strerror(error))));
    written.close();
    const auto before = Mp3Frames::framesSpan(source);
    const auto after = Mp3Frames::framesSpan(written.fileName());
    if (QFileInfo(written.fileName()).size() != header.size() + audio || !before || !after ||
        after->end - after->begin != before->end - before->begin ||
        SourceTags::read(written.fileName()).marks.size() != tag.chapters.size())
        fail(u"The new file's audio did not match the book's."_s);
}

} // namespace

QString BookSaver::problemWith(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return u"It is no longer there."_s;
    return Mp4Box::startsMp4File(path) ? mp4Problem(path) : mp3Problem(path);
}

qint64 BookSaver::roomNeeded(const QString& path, const BookTag& tag)
{
    // The tags, chapters and tables besides the cover take less than this.
    constexpr qint64 kHeaderRoom = 1 << 20;
    return QFileInfo(path).size() + tag.cover.size() + kHeaderRoom;
}

void BookSaver::save(const QString& source, const QString& target, const BookTag& tag)
{
    if (const QString problem = problemWith(source); !problem.isEmpty())
        fail(problem);
    const std::unique_ptr<QTemporaryFile> written = besideTarget(target);
    if (Mp4Box::startsMp4File(source))
        saveMp4(source, *written, tag);
    else
        saveMp3(source, *written, tag);
    replace(*written, source, target);
}
