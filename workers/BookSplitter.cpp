#include "BookSplitter.h"

#include "AacTrackWriter.h"
#include "FileCopy.h"
#include "Mp3Frames.h"
#include "Mp4AudioTrack.h"
#include "Mp4Box.h"
#include "Resources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

[[noreturn]] void fail(const QString& why)
{
    throw std::runtime_error(why.toStdString());
}

// The files written so far, removed unless the split is done.
struct Written
{
    QStringList paths;
    bool done = false;
    ~Written()
    {
        if (!done) {
            for (const QString& path : std::as_const(paths))
                QFile::remove(path);
        }
    }
};

// Makes the folder, and names the chapters' files in it, none of them there yet.
void prepare(Written& written, const QString& folder, const BookTag& tag, const QString& extension)
{
    if (tag.chapters.isEmpty())
        fail(u"It has no chapters."_s);
    if (!QDir().mkpath(folder))
        fail(u"The folder \u201C%1\u201D could not be made."_s.arg(
            QDir::toNativeSeparators(folder)));
    const auto count = static_cast<int>(tag.chapters.size());
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << folder + u'/' +
                     BookSplitter::fileName(i + 1, count, tag.chapters.at(i).title, extension);
    // A file that is there already is the user's: it is neither overwritten
    // nor, when the split ends early, removed.
    for (const QString& path : std::as_const(paths)) {
        if (QFileInfo::exists(path))
            fail(u"\u201C%1\u201D is there already."_s.arg(QFileInfo(path).fileName()));
    }
    written.paths = paths;
}

QString doneText(int done, int count)
{
    return u"Splitting into chapters: %1 of %2 files\u2026"_s.arg(done).arg(count);
}

// Tells of a file made, and stops there when asked to.
void told(const WorkerReports& reports, const BookSplitter::Stopped& stopped, int done, int count)
{
    reports.tell(done, count, doneText(done, count));
    if (stopped && stopped())
        fail(u"The split was stopped."_s);
}

// The chapter's tags: the book's, with its title and number.
BookTag chapterTag(const BookTag& book, qsizetype i)
{
    BookTag tag = book;
    tag.chapters.clear();
    tag.written |= BookTag::Fields(BookTag::Field::Title) | BookTag::Field::Track;
    if (tag.album.isEmpty()) {
        tag.album = book.title;
        tag.written |= BookTag::Field::Album;
    }
    tag.title = book.chapters.at(i).title;
    tag.track = static_cast<int>(i) + 1;
    tag.tracks = static_cast<int>(book.chapters.size());
    return tag;
}

// Where each chapter starts, in samples of the book, and where the book ends.
std::vector<qint64> chapterStarts(const BookTag& tag, int rate, qint64 total)
{
    std::vector<qint64> starts;
    for (const BookTag::Chapter& chapter : tag.chapters)
        starts.push_back(std::clamp<qint64>(
            std::llround(static_cast<double>(chapter.startMs) * rate / 1000.0), 0, total));
    starts.push_back(total);
    return starts;
}

void splitAac(const QString& book, const BookTag& tag, const QStringList& paths,
              const WorkerReports& reports, const BookSplitter::Stopped& stopped)
{
    Mp4AudioTrack track;
    try {
        track = Mp4AudioTrack::read(book);
    } catch (const std::exception& e) {
        fail(u"Fablewick cannot cut this book without encoding it: %1."_s.arg(
            QString::fromUtf8(e.what())));
    }
    constexpr qint64 kFrame = 1024;
    const auto frames = static_cast<qint64>(track.sizes.size());
    std::vector<quint64> offsets;
    offsets.reserve(track.sizes.size());
    for (std::size_t c = 0; c < track.chunkOffsets.size(); ++c) {
        quint64 at = track.chunkOffsets[c];
        for (quint32 f = 0; f < track.chunkFrames[c] && offsets.size() < track.sizes.size(); ++f) {
            offsets.push_back(at);
            at += track.sizes[offsets.size() - 1];
        }
    }
    if (static_cast<qint64>(offsets.size()) != frames)
        fail(u"Its frames could not be found."_s);
    QFile in(book);
    if (!in.open(QIODevice::ReadOnly))
        fail(u"It cannot be read: %1."_s.arg(in.errorString()));
    const qint64 total = frames * kFrame - track.priming - track.padding;
    const std::vector<qint64> starts = chapterStarts(tag, track.sampleRate, total);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        // In the decoder's samples, which the priming comes first in.
        const qint64 from = starts[i] + track.priming;
        const qint64 to = starts[i + 1] + track.priming;
        const qint64 first = std::max<qint64>(0, from / kFrame - 1);
        const qint64 last = std::min(frames, (to + kFrame - 1) / kFrame);
        AacTrackWriter out(paths.at(i));
        out.setFormat(track.audioConfig, track.sampleRate, track.channels);
        // Frames that lie one after another are read at once.
        for (qint64 f = first; f < last;) {
            qint64 run = f + 1;
            while (run < last && run - f < 4096 &&
                   offsets[run] == offsets[run - 1] + track.sizes[run - 1])
                ++run;
            const quint64 bytes = offsets[run - 1] + track.sizes[run - 1] - offsets[f];
            in.seek(static_cast<qint64>(offsets[f]));
            const QByteArray read = in.read(static_cast<qint64>(bytes));
            if (read.size() != static_cast<qint64>(bytes))
                fail(u"It cannot be read: %1."_s.arg(in.errorString()));
            out.append(
                read, std::span<const quint32>(track.sizes)
                          .subspan(static_cast<std::size_t>(f), static_cast<std::size_t>(run - f)));
            f = run;
        }
        out.finish(from - first * kFrame, last * kFrame - to);
        chapterTag(tag, i).writeMp4PartOf(book, paths.at(i));
        told(reports, stopped, static_cast<int>(i) + 1, static_cast<int>(paths.size()));
    }
}

void splitMp3(const QString& book, const BookTag& tag, const QStringList& paths,
              const WorkerReports& reports, const BookSplitter::Stopped& stopped)
{
    const auto frames = Mp3Frames::frames(book);
    const auto measure = Mp3Frames::measure(book);
    if (!frames || !measure || frames->starts.empty())
        fail(u"It holds no MP3 audio that Fablewick reads."_s);
    const auto count = static_cast<qint64>(frames->starts.size());
    const qint64 spf = frames->samplesPerFrame;
    // Players skip the encoder's delay and the decoder's own, as LAME's tag says.
    constexpr int kDecoderDelay = 529;
    const qint64 delay = measure->encoderInfo ? measure->encoderDelay + kDecoderDelay : 0;
    const std::vector<qint64> starts = chapterStarts(tag, frames->sampleRate, count * spf);
    QFile in(book);
    if (!in.open(QIODevice::ReadOnly))
        fail(u"It cannot be read: %1."_s.arg(in.errorString()));
    const auto frameAt = [&](qint64 sample) {
        return std::clamp<qint64>((sample + delay + spf / 2) / spf, 0, count);
    };
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const qint64 first = i == 0 ? 0 : frameAt(starts[i]);
        const qint64 last = i + 1 == paths.size() ? count : frameAt(starts[i + 1]);
        const qint64 from = frames->starts[first];
        const qint64 to = last < count ? frames->starts[last] : frames->end;
        QFile out(paths.at(i));
        const QByteArray header = chapterTag(tag, i).renderedPartOf(book);
        if (!out.open(QIODevice::WriteOnly) || out.write(header) != header.size() || !out.flush())
            fail(u"\u201C%1\u201D could not be written: %2."_s.arg(QFileInfo(out).fileName(),
                                                                   out.errorString()));
        if (const int error = FileCopy::range(in.handle(), from, to - from, out.handle()))
            fail(u"\u201C%1\u201D could not be written: %2."_s.arg(
                QFileInfo(out).fileName(), QString::fromLocal8Bit(std::strerror(error))));
        out.close();
        told(reports, stopped, static_cast<int>(i) + 1, static_cast<int>(paths.size()));
    }
}

QString seconds(qint64 ms)
{
    return QString::number(static_cast<double>(ms) / 1000.0, 'f', 3);
}

// Puts the tag before an MP3 file's frames.
void prependTag(const QString& path, const QByteArray& tag)
{
    QFile file(path);
    QByteArray audio;
    if (file.open(QIODevice::ReadOnly))
        audio = file.readAll();
    file.close();
    if (audio.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(tag) != tag.size() ||
        file.write(audio) != audio.size() || !file.flush())
        fail(u"\u201C%1\u201D could not be tagged: %2."_s.arg(QFileInfo(path).fileName(),
                                                              file.errorString()));
}

QStringList encoderArguments(const QString& book, const BookTag& tag, qsizetype i, bool toMp3,
                             int kbps, const QString& path)
{
    const qint64 start = tag.chapters.at(i).startMs;
    QStringList arguments{u"-nostdin"_s,  u"-v"_s, u"error"_s, u"-ss"_s,
                          seconds(start), u"-i"_s, book};
    if (i + 1 < tag.chapters.size())
        arguments << u"-t"_s << seconds(tag.chapters.at(i + 1).startMs - start);
    arguments << u"-map"_s << u"0:a:0"_s << u"-map_metadata"_s << u"-1"_s << u"-map_chapters"_s
              << u"-1"_s << u"-c:a"_s << (toMp3 ? u"libmp3lame"_s : u"aac"_s) << u"-b:a"_s
              << u"%1k"_s.arg(kbps);
    // Our own tag goes before the frames.
    if (toMp3)
        arguments << u"-id3v2_version"_s << u"0"_s << u"-write_xing"_s << u"1"_s;
    return arguments << u"-f"_s << (toMp3 ? u"mp3"_s : u"ipod"_s) << u"-y"_s << path;
}

} // namespace

QStringList BookSplitter::splitEncoded(const QString& book, const QString& folder,
                                       const BookTag& tag, int kbps, const WorkerReports& reports,
                                       const Stopped& stopped)
{
    const bool toMp3 = Mp4Box::startsMp4File(book);
    const QString ffmpeg = Resources::pathForResource(u"ffmpeg"_s, {}).value_or(QString());
    Written written;
    prepare(written, folder, tag, toMp3 ? u"mp3"_s : u"m4a"_s);
    const auto count = static_cast<int>(tag.chapters.size());
    struct Running
    {
        std::unique_ptr<QProcess> process;
        qsizetype chapter = 0;
    };
    std::vector<Running> running;
    const auto kill = [&running] {
        for (Running& each : running)
            each.process->kill();
        for (Running& each : running)
            each.process->waitForFinished(-1);
    };
    const int cores = std::max(1, QThread::idealThreadCount());
    qsizetype next = 0;
    int done = 0;
    while (next < count || !running.empty()) {
        while (static_cast<int>(running.size()) < cores && next < count) {
            auto process = std::make_unique<QProcess>();
            process->start(ffmpeg,
                           encoderArguments(book, tag, next, toMp3, kbps, written.paths.at(next)));
            running.push_back({std::move(process), next++});
        }
        for (auto it = running.begin(); it != running.end();) {
            if (!it->process->waitForFinished(20) && it->process->state() != QProcess::NotRunning) {
                ++it;
                continue;
            }
            const Running finished = std::move(*it);
            it = running.erase(it);
            const QString path = written.paths.at(finished.chapter);
            if (finished.process->error() == QProcess::FailedToStart ||
                finished.process->exitStatus() != QProcess::NormalExit ||
                finished.process->exitCode() != 0) {
                kill();
                fail(u"ffmpeg could not encode \u201C%1\u201D: %2"_s.arg(
                    QFileInfo(path).fileName(),
                    QString::fromLocal8Bit(finished.process->readAllStandardError()).trimmed()));
            }
            if (toMp3)
                prependTag(path, chapterTag(tag, finished.chapter).renderedPartOf(book));
            else
                chapterTag(tag, finished.chapter).writeMp4PartOf(book, path);
            ++done;
            reports.tell(done, count, doneText(done, count));
            if (stopped && stopped()) {
                kill();
                fail(u"The split was stopped."_s);
            }
        }
    }
    written.done = true;
    return written.paths;
}

QString BookSplitter::fileName(int number, int count, const QString& title,
                               const QString& extension)
{
    const int width = std::max(2, static_cast<int>(QString::number(count).size()));
    QString name = title.simplified();
    for (QChar& c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            c = u'-';
    }
    // A name longer than this is longer than most file systems keep.
    constexpr qsizetype kLongestTitle = 120;
    name = name.left(kLongestTitle).trimmed();
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(u"Chapter "_s);
    return u"%1 - %2.%3"_s.arg(number, width, 10, QChar(u'0')).arg(name, extension);
}

QStringList BookSplitter::split(const QString& book, const QString& folder, const BookTag& tag,
                                const WorkerReports& reports, const Stopped& stopped)
{
    const bool mp4 = Mp4Box::startsMp4File(book);
    Written written;
    prepare(written, folder, tag, mp4 ? u"m4a"_s : u"mp3"_s);
    if (mp4)
        splitAac(book, tag, written.paths, reports, stopped);
    else
        splitMp3(book, tag, written.paths, reports, stopped);
    written.done = true;
    return written.paths;
}
