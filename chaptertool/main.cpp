// ChapterTool -x CHAPTERS.xml -a AUDIO.m4a -o OUTPUT.m4b
//
// Writes an audiobook holding the AAC audio as it is, with one chapter per
// <chapter starttime="M:S"><title>…</title></chapter> of the list, as a
// QuickTime chapter track and as Nero chapters, with the M4B brand. The
// media data is copied byte for byte, in the kernel where it can be; only
// the movie header is new.
// Exits non-zero with a message on standard error on any failure, and leaves
// no partial output behind.
#include "ChapterMovie.h"
#include "ChapterXml.h"
#include "Mp4File.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// The partial output, removed by the signal handler if the tool is stopped.
char gPartialOutput[4096] = {};

void removePartialAndExit(int signal)
{
    if (gPartialOutput[0] != '\0')
        ::unlink(gPartialOutput);
    ::_exit(128 + signal);
}

void remember(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() < static_cast<qsizetype>(sizeof gPartialOutput))
        std::memcpy(gPartialOutput, bytes.constData(), static_cast<size_t>(bytes.size()) + 1);
}

[[noreturn]] void fail(const QString& message)
{
    if (gPartialOutput[0] != '\0')
        ::unlink(gPartialOutput);
    std::fprintf(stderr, "ChapterTool: %s\n", message.toLocal8Bit().constData());
    std::exit(1);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A box at the top of the file: where it lies and how long it is.
using Mp4File::TopBox;

// Writes at a place of its own, so that two threads can write one file.
void writeAt(int fd, const QByteArray& bytes, qint64 at, const QString& output)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done,
                                   static_cast<size_t>(bytes.size() - done), at + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(u"cannot write %1: %2"_s.arg(output, systemError()));
        done += n;
    }
}

// In the kernel where the file systems allow it, as cp does.
void copyRange(int in, qint64 from, qint64 size, int out, qint64 to, const QString& output)
{
    loff_t source = from;
    loff_t target = to;
    while (size > 0) {
        const ssize_t n =
            ::copy_file_range(in, &source, out, &target, static_cast<size_t>(size), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            break;
        if (n <= 0)
            fail(u"cannot write %1: %2"_s.arg(output, n < 0 ? systemError() : u"short read"_s));
        size -= n;
    }
    std::vector<char> buffer(1 << 20);
    while (size > 0) {
        const ssize_t n =
            ::pread(in, buffer.data(), std::min<size_t>(buffer.size(), size), source);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(u"cannot read the audio file: %1"_s.arg(n < 0 ? systemError() : u"short read"_s));
        writeAt(out, QByteArray::fromRawData(buffer.data(), n), target, output);
        source += n;
        target += n;
        size -= n;
    }
}

struct Arguments
{
    QString list;
    QString audio;
    QString output;
};

std::optional<Arguments> parseArguments(int argc, char* argv[])
{
    Arguments arguments;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString value = QFile::decodeName(argv[i + 1]);
        if (std::strcmp(argv[i], "-x") == 0)
            arguments.list = value;
        else if (std::strcmp(argv[i], "-a") == 0)
            arguments.audio = value;
        else if (std::strcmp(argv[i], "-o") == 0)
            arguments.output = value;
    }
    if (arguments.list.isEmpty() || arguments.audio.isEmpty() || arguments.output.isEmpty())
        return std::nullopt;
    return arguments;
}

// Where each box of the audio file goes: the brand first, then everything
// but the movie header as it stands, the titles at the end of the media
// data (where tools that move it expect every sample), and the new header.
struct Placed
{
    TopBox box;
    qint64 to = 0;
    // A new header for the media data that takes the titles; empty: as it stands.
    QByteArray header;
    QByteArray after;
};

struct Layout
{
    QByteArray brand;
    std::vector<Placed> boxes;
    TopBox moov;
    quint64 titlesAt = 0;
    // Where the new movie header goes: after everything else.
    qint64 moovAt = 0;
};

QByteArray mediaHeader(qint64 payload)
{
    QByteArray header;
    if (payload + 8 > 0xFFFFFFFFLL) {
        Mp4::append(header, 1, 4);
        header += "mdat";
        Mp4::append(header, static_cast<quint64>(payload + 16), 8);
    } else {
        Mp4::append(header, static_cast<quint64>(payload + 8), 4);
        header += "mdat";
    }
    return header;
}

Layout layOut(int in, const QByteArray& titles)
{
    const qint64 size = ::lseek(in, 0, SEEK_END);
    const Mp4File::TopBoxes walked = Mp4File::topBoxes(in, size);
    if (!walked.whole)
        throw std::runtime_error("it is not an MP4 file");
    const std::vector<TopBox>& top = walked.boxes;
    const auto media = std::find_if(top.rbegin(), top.rend(),
                                    [](const TopBox& b) { return b.type == "mdat"; });
    const auto moov = std::find_if(top.begin(), top.end(),
                                   [](const TopBox& b) { return b.type == "moov"; });
    if (media == top.rend() || moov == top.end() || moov->size > Mp4File::kLargestHeader)
        throw std::runtime_error("it is not an MP4 file");

    Layout layout;
    layout.moov = *moov;
    // The audiobook's brand, as ffmpeg writes it: major, minor, compatible.
    Mp4::append(layout.brand, 28, 4);
    layout.brand += "ftypM4B ";
    Mp4::append(layout.brand, 0x200, 4);
    layout.brand += "M4B iso2mp41";
    qint64 at = layout.brand.size();
    for (const TopBox& box : top) {
        if (box.type == "moov" || box.type == "ftyp")
            continue;
        Placed placed{.box = box, .to = at, .header = {}, .after = {}};
        if (&box == &*media) {
            const qint64 payload = box.size - box.header;
            placed.header = mediaHeader(payload + titles.size());
            placed.after = titles;
            layout.titlesAt = static_cast<quint64>(at + placed.header.size() + payload);
            at += placed.header.size() + payload + titles.size();
        } else {
            at += box.size;
        }
        layout.boxes.push_back(placed);
    }
    layout.moovAt = at;
    return layout;
}

// The movie header with the chapters, its chunks where the layout puts them.
QByteArray newHeader(int in, const Layout& layout, const std::vector<Chapter>& chapters)
{
    QByteArray moov(static_cast<qsizetype>(layout.moov.size), Qt::Uninitialized);
    if (::pread(in, moov.data(), static_cast<size_t>(layout.moov.size), layout.moov.offset) !=
        layout.moov.size)
        throw std::runtime_error("its movie header cannot be read");
    const auto moved = [&layout](quint64 offset) {
        for (const Placed& placed : layout.boxes) {
            const auto from = static_cast<quint64>(placed.box.offset);
            if (offset < from || offset >= from + static_cast<quint64>(placed.box.size))
                continue;
            if (placed.header.isEmpty())
                return offset - from + static_cast<quint64>(placed.to);
            return offset - from - static_cast<quint64>(placed.box.header) +
                   static_cast<quint64>(placed.to) + static_cast<quint64>(placed.header.size());
        }
        throw std::runtime_error("its media data lies outside the file");
    };
    return ChapterMovie(moov).withChapters(chapters, moved, layout.titlesAt);
}

// Copies the media data as it stands; the new header is made meanwhile on
// another core and written at its place.
void writeBook(int in, int out, const Layout& layout, const std::vector<Chapter>& chapters,
               const Arguments& arguments)
{
    QString headerFailure;
    std::thread header([&] {
        try {
            writeAt(out, newHeader(in, layout, chapters), layout.moovAt, arguments.output);
        } catch (const std::exception& e) {
            headerFailure = u"cannot read the audio file %1: %2"_s.arg(
                arguments.audio, QString::fromUtf8(e.what()));
        }
    });
    // The room for the book, taken at once: a full disk fails here and not
    // halfway, and the copy need not find blocks as it goes.
    if (::fallocate(out, 0, 0, layout.moovAt) != 0 && errno == ENOSPC)
        fail(u"cannot write %1: %2"_s.arg(arguments.output, systemError()));
    writeAt(out, layout.brand, 0, arguments.output);
    for (const Placed& placed : layout.boxes) {
        if (placed.header.isEmpty()) {
            copyRange(in, placed.box.offset, placed.box.size, out, placed.to, arguments.output);
            continue;
        }
        const qint64 payload = placed.box.size - placed.box.header;
        writeAt(out, placed.header, placed.to, arguments.output);
        copyRange(in, placed.box.offset + placed.box.header, payload, out,
                  placed.to + placed.header.size(), arguments.output);
        writeAt(out, placed.after, placed.to + placed.header.size() + payload, arguments.output);
    }
    header.join();
    if (!headerFailure.isEmpty())
        fail(headerFailure);
}

} // namespace

int main(int argc, char* argv[])
{
    const std::optional<Arguments> arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::fprintf(stderr, "usage: ChapterTool -x CHAPTERS.xml -a AUDIO.m4a -o OUTPUT.m4b\n");
        return 2;
    }
    std::vector<Chapter> chapters;
    {
        QFile list(arguments->list);
        if (!list.open(QIODevice::ReadOnly))
            fail(u"cannot read the chapter list %1: %2"_s.arg(arguments->list, list.errorString()));
        try {
            chapters = ChapterXml::read(list);
        } catch (const std::exception& e) {
            fail(u"the chapter list %1 %2"_s.arg(arguments->list, QString::fromUtf8(e.what())));
        }
    }
    if (!QFileInfo(arguments->audio).isFile())
        fail(u"the audio file %1 does not exist"_s.arg(arguments->audio));
    const int in = ::open(QFile::encodeName(arguments->audio).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        fail(u"cannot read the audio file %1: %2"_s.arg(arguments->audio, systemError()));
    Layout layout;
    try {
        layout = layOut(in, ChapterMovie::textSamples(chapters));
    } catch (const std::exception& e) {
        fail(u"cannot read the audio file %1: %2"_s.arg(arguments->audio,
                                                         QString::fromUtf8(e.what())));
    }

    const QFileInfo output(arguments->output);
    QTemporaryFile partial(output.absolutePath() + u"/."_s + output.fileName() +
                           u".partial-XXXXXX"_s);
    if (!partial.open())
        fail(u"cannot write to %1: %2"_s.arg(output.absolutePath(), partial.errorString()));
    remember(partial.fileName());
    std::signal(SIGTERM, removePartialAndExit);
    std::signal(SIGINT, removePartialAndExit);
    std::signal(SIGHUP, removePartialAndExit);
    writeBook(in, partial.handle(), layout, chapters, *arguments);
    partial.close();
    if (::rename(QFile::encodeName(partial.fileName()).constData(),
                 QFile::encodeName(arguments->output).constData()) != 0)
        fail(u"cannot write %1: %2"_s.arg(arguments->output, systemError()));
    partial.setAutoRemove(false);
    gPartialOutput[0] = '\0';
    return 0;
}
