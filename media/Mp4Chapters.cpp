#include "Mp4Chapters.h"

#include "Mp4Box.h"
#include "Mp4File.h"

#include <QFile>
#include <QStringDecoder>
#include <stdexcept>
#include <vector>

namespace {

[[noreturn]] void fail(const char* why)
{
    throw std::runtime_error(why);
}

quint32 trackId(const Mp4Box& trak)
{
    const Mp4Box* tkhd = trak.child("tkhd");
    if (!tkhd)
        return 0;
    return static_cast<quint32>(
        Mp4::read(tkhd->payload, Mp4::read(tkhd->payload, 0, 1) == 1 ? 20 : 12, 4));
}

bool handles(const Mp4Box& trak, const char* kind)
{
    const Mp4Box* mdia = trak.child("mdia");
    const Mp4Box* hdlr = mdia ? mdia->child("hdlr") : nullptr;
    return hdlr && hdlr->payload.size() >= 12 && hdlr->payload.mid(8, 4) == kind;
}

// The track that the sound track names as its chapters.
const Mp4Box* chapterTrack(const Mp4Box& moov)
{
    quint32 wanted = 0;
    for (const Mp4Box& trak : moov.children) {
        const Mp4Box* tref =
            trak.type == "trak" && handles(trak, "soun") ? trak.child("tref") : nullptr;
        const Mp4Box* chap = tref ? tref->child("chap") : nullptr;
        if (chap && chap->payload.size() >= 4) {
            wanted = static_cast<quint32>(Mp4::read(chap->payload, 0, 4));
            break;
        }
    }
    for (const Mp4Box& trak : moov.children) {
        if (wanted != 0 && trak.type == "trak" && trackId(trak) == wanted)
            return &trak;
    }
    return nullptr;
}

struct Sample
{
    quint64 offset = 0;
    quint32 size = 0;
    quint64 start = 0;
};

// Where each of the track's samples lies and when it starts, every count
// checked against the others before a table is set aside for it.
std::vector<Sample> samples(const Mp4Box& trak, quint64& timeScale)
{
    const Mp4Box* mdia = trak.child("mdia");
    const Mp4Box* mdhd = mdia ? mdia->child("mdhd") : nullptr;
    const Mp4Box* minf = mdia ? mdia->child("minf") : nullptr;
    const Mp4Box* stbl = minf ? minf->child("stbl") : nullptr;
    if (!mdhd || !stbl)
        fail("its chapter track is incomplete");
    timeScale = Mp4::read(mdhd->payload, Mp4::read(mdhd->payload, 0, 1) == 1 ? 20 : 12, 4);
    const Mp4Box* stsz = stbl->child("stsz");
    const Mp4Box* stts = stbl->child("stts");
    const Mp4Box* stsc = stbl->child("stsc");
    const bool far = stbl->child("co64") != nullptr;
    const Mp4Box* stco = far ? stbl->child("co64") : stbl->child("stco");
    if (!stsz || !stts || !stsc || !stco || timeScale == 0)
        fail("its chapter track is incomplete");

    const QByteArrayView sizes = stsz->payload;
    const quint64 fixed = Mp4::read(sizes, 4, 4);
    const quint64 count = Mp4::read(sizes, 8, 4);
    if (count > Mp4Chapters::kMostChapters)
        fail("it has more chapters than any book");
    std::vector<Sample> result(count);
    for (quint64 i = 0; i < count; ++i)
        result[i].size = static_cast<quint32>(
            fixed ? fixed : Mp4::read(sizes, 12 + 4 * static_cast<qsizetype>(i), 4));

    const QByteArrayView times = stts->payload;
    quint64 sample = 0;
    quint64 time = 0;
    for (quint64 r = 0, runs = Mp4::read(times, 4, 4); r < runs && sample < count; ++r) {
        const quint64 run = Mp4::read(times, 8 + 8 * static_cast<qsizetype>(r), 4);
        const quint64 delta = Mp4::read(times, 12 + 8 * static_cast<qsizetype>(r), 4);
        for (quint64 k = 0; k < run && sample < count; ++k, time += delta)
            result[sample++].start = time;
    }
    if (sample != count)
        fail("its chapter times do not add up");

    const QByteArrayView chunks = stco->payload;
    const quint64 chunkCount = Mp4::read(chunks, 4, 4);
    const QByteArrayView runs = stsc->payload;
    const quint64 entries = Mp4::read(runs, 4, 4);
    if (chunkCount > count || entries > chunkCount)
        fail("its chapter chunks do not add up");
    sample = 0;
    for (quint64 e = 0; e < entries; ++e) {
        const qsizetype at = 8 + 12 * static_cast<qsizetype>(e);
        const quint64 first = Mp4::read(runs, at, 4);
        const quint64 perChunk = Mp4::read(runs, at + 4, 4);
        const quint64 next = e + 1 < entries ? Mp4::read(runs, at + 12, 4) : chunkCount + 1;
        if (first < 1 || next <= first || next > chunkCount + 1 || perChunk > count)
            fail("its chapter chunks do not add up");
        for (quint64 c = first; c < next; ++c) {
            quint64 offset =
                Mp4::read(chunks, 8 + (far ? 8 : 4) * static_cast<qsizetype>(c - 1), far ? 8 : 4);
            for (quint64 k = 0; k < perChunk; ++k, ++sample) {
                if (sample >= count)
                    fail("its chapter chunks hold more samples than it has");
                result[sample].offset = offset;
                offset += result[sample].size;
            }
        }
    }
    if (sample != count)
        fail("its chapter chunks do not hold its samples");
    return result;
}

// A text sample: its length in two bytes, then the title, in UTF-8 or, after
// a byte-order mark, UTF-16.
QString title(QByteArrayView sample)
{
    if (sample.size() < 2)
        return {};
    const auto length = static_cast<qsizetype>(Mp4::read(sample, 0, 2));
    if (length > sample.size() - 2)
        return {};
    const QByteArrayView text = sample.sliced(2, length);
    if (text.startsWith("\xFE\xFF") || text.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16)(text);
    return QString::fromUtf8(text);
}

// The longest title a text sample holds that is read: players show far less.
constexpr quint32 kLongestSample = 4096;

ChapterMarks textChapters(QFile& file, const Mp4Box& trak)
{
    quint64 timeScale = 0;
    const std::vector<Sample> table = samples(trak, timeScale);
    const auto size = static_cast<quint64>(file.size());
    ChapterMarks marks;
    for (const Sample& sample : table) {
        const quint32 read = std::min(sample.size, kLongestSample);
        if (sample.offset > size || read > size - sample.offset)
            fail("its chapter titles lie past its end");
        QByteArray bytes;
        if (read > 0 && (!file.seek(static_cast<qint64>(sample.offset)) ||
                         (bytes = file.read(read)).size() != static_cast<qsizetype>(read)))
            fail("its chapter titles cannot be read");
        marks.append({.start = static_cast<double>(sample.start) / static_cast<double>(timeScale),
                      .title = title(bytes)});
    }
    return marks;
}

// Nero's: a count, then each start in 100 ns and a title of its own length.
ChapterMarks neroChapters(QByteArrayView chpl)
{
    qsizetype at = Mp4::read(chpl, 0, 1) == 1 ? 8 : 4;
    const quint64 count = Mp4::read(chpl, at++, 1);
    ChapterMarks marks;
    for (quint64 i = 0; i < count; ++i) {
        const quint64 start = Mp4::read(chpl, at, 8);
        const auto length = static_cast<qsizetype>(Mp4::read(chpl, at + 8, 1));
        at += 9;
        if (length > chpl.size() - at)
            fail("its chapter titles are cut short");
        marks.append({.start = static_cast<double>(start) / 1e7,
                      .title = QString::fromUtf8(chpl.sliced(at, length))});
        at += length;
    }
    return marks;
}

} // namespace

namespace Mp4Chapters {

ChapterMarks read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("it cannot be read");
    return read(file, Mp4File::movieHeader(file.handle(), file.size()));
}

ChapterMarks read(QFile& file, const QByteArray& moovBytes)
{
    const Mp4Box moov = Mp4Box::holding("moov", Mp4Box::parse(moovBytes));
    if (const Mp4Box* track = chapterTrack(moov)) {
        if (ChapterMarks marks = textChapters(file, *track); !marks.isEmpty())
            return marks;
    }
    const Mp4Box* udta = moov.child("udta");
    const Mp4Box* chpl = udta ? udta->child("chpl") : nullptr;
    return chpl ? neroChapters(chpl->payload) : ChapterMarks{};
}

} // namespace Mp4Chapters
