#include "ChapterMovie.h"

#include <algorithm>
#include <stdexcept>

namespace {

// What ffmpeg writes for a chapter track, byte for byte: the text sample
// description, the base media header and the encoding after each title.
const QByteArray kTextDescription = QByteArray::fromHex(
    "0000000100000000000000000000000000000000000000010000000000000000000d667461620001000100");
const QByteArray kBaseMediaHeader = QByteArray::fromHex(
    "00000018676d696e000000000040800080008000000000000000002c746578740001000000000000000000000000"
    "00000001000000000000000000000000000040000000");
const QByteArray kTitleEncoding = QByteArray::fromHex("0000000c656e636400000100");
// Nero chapters hold at most this many, each title at most this many bytes.
constexpr std::size_t kNeroChapters = 255;
constexpr qsizetype kNeroTitle = 255;

// A title as a text sample holds it: at most 64 KiB, never cut inside a letter.
QByteArray cutTitle(const QByteArray& title, qsizetype max);
QByteArray sampleTitle(const QString& title)
{
    return cutTitle(title.toUtf8(), 0xFFFF);
}

struct Timed
{
    qint64 startMs = 0;
    qint64 durationMs = 0;
    QByteArray title;
};

// Each chapter runs to the next one's start, and the last to the end;
// starts past the end are drawn back to it.
std::vector<Timed> timed(const std::vector<Chapter>& chapters, qint64 lengthMs)
{
    std::vector<Timed> result;
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const qint64 start = std::min(chapters[i].startMs, lengthMs);
        const qint64 next = i + 1 < chapters.size() ? chapters[i + 1].startMs : lengthMs;
        const qint64 end = std::max(start, std::min(next, lengthMs));
        result.push_back({start, end - start, sampleTitle(chapters[i].title)});
    }
    return result;
}

// A title cut to at most max bytes, never inside a letter.
QByteArray cutTitle(const QByteArray& title, qsizetype max)
{
    if (title.size() <= max)
        return title;
    qsizetype end = max;
    while (end > 0 && (static_cast<unsigned char>(title.at(end)) & 0xC0) == 0x80)
        --end;
    return title.left(end);
}

quint32 trackId(const Mp4Box& trak)
{
    const Mp4Box* tkhd = trak.child("tkhd");
    if (!tkhd)
        throw std::runtime_error("a track has no header");
    const bool wide = Mp4::read(tkhd->payload, 0, 1) == 1;
    return static_cast<quint32>(Mp4::read(tkhd->payload, wide ? 20 : 12, 4));
}

QByteArray handlerOf(const Mp4Box& trak)
{
    const Mp4Box* mdia = trak.child("mdia");
    const Mp4Box* hdlr = mdia ? mdia->child("hdlr") : nullptr;
    return hdlr && hdlr->payload.size() >= 12 ? hdlr->payload.mid(8, 4) : QByteArray();
}

// Moves every chunk offset of a track, widening the table when one no
// longer fits 32 bits.
void moveChunks(Mp4Box& trak, const std::function<quint64(quint64)>& moved)
{
    Mp4Box* mdia = trak.child("mdia");
    Mp4Box* minf = mdia ? mdia->child("minf") : nullptr;
    Mp4Box* stbl = minf ? minf->child("stbl") : nullptr;
    if (!stbl)
        return;
    for (Mp4Box& box : stbl->children) {
        if (box.type != "stco" && box.type != "co64")
            continue;
        const int width = box.type == "co64" ? 8 : 4;
        const quint64 count = Mp4::read(box.payload, 4, 4);
        std::vector<quint64> offsets;
        for (quint64 i = 0; i < count; ++i)
            offsets.push_back(moved(Mp4::read(box.payload, 8 + static_cast<qsizetype>(i) * width,
                                              width)));
        const bool wide = width == 8 || std::any_of(offsets.begin(), offsets.end(), [](quint64 o) {
                              return o > 0xFFFFFFFFULL;
                          });
        QByteArray payload = box.payload.left(8);
        for (const quint64 offset : offsets)
            Mp4::append(payload, offset, wide ? 8 : 4);
        box = Mp4Box::leaf(wide ? "co64" : "stco", payload);
    }
}

// Drops a chapter track that the movie had already, and the references to it.
void dropOldChapters(Mp4Box& moov)
{
    std::vector<quint32> chapterTracks;
    for (Mp4Box& trak : moov.children) {
        Mp4Box* tref = trak.type == "trak" ? trak.child("tref") : nullptr;
        if (!tref)
            continue;
        for (const Mp4Box& reference : tref->children) {
            if (reference.type != "chap")
                continue;
            for (qsizetype at = 0; at + 4 <= reference.payload.size(); at += 4)
                chapterTracks.push_back(static_cast<quint32>(Mp4::read(reference.payload, at, 4)));
        }
        std::erase_if(tref->children, [](const Mp4Box& b) { return b.type == "chap"; });
    }
    std::erase_if(moov.children, [&](const Mp4Box& box) {
        return box.type == "trak" && std::find(chapterTracks.begin(), chapterTracks.end(),
                                               trackId(box)) != chapterTracks.end();
    });
    for (Mp4Box& trak : moov.children) {
        if (trak.type == "trak")
            std::erase_if(trak.children,
                          [](const Mp4Box& b) { return b.type == "tref" && b.children.empty(); });
    }
}

QByteArray trackHeader(quint32 id, quint64 duration)
{
    const bool wide = duration > 0xFFFFFFFFULL;
    QByteArray tkhd = Mp4::fullBox(wide ? 1 : 0, 0x000002);
    Mp4::append(tkhd, 0, wide ? 16 : 8); // creation and modification
    Mp4::append(tkhd, id, 4);
    Mp4::append(tkhd, 0, 4);
    Mp4::append(tkhd, duration, wide ? 8 : 4);
    Mp4::append(tkhd, 0, 8);
    Mp4::append(tkhd, 0, 8); // layer, group, volume
    tkhd += Mp4::identityMatrix();
    Mp4::append(tkhd, 0, 8); // width, height
    return tkhd;
}

Mp4Box textTrack(quint32 id, const std::vector<Timed>& samples, quint64 movieScale,
                 quint64 samplesAt)
{
    const qint64 firstMs = samples.empty() ? 0 : samples.front().startMs;
    qint64 mediaMs = 0;
    for (const Timed& sample : samples)
        mediaMs += sample.durationMs;
    const auto inMovie = [movieScale](qint64 ms) {
        return static_cast<quint64>(ms) * movieScale / 1000;
    };

    QByteArray elst = Mp4::fullBox(0, 0);
    Mp4::append(elst, firstMs > 0 ? 2 : 1, 4);
    if (firstMs > 0) { // nothing until the first chapter
        Mp4::append(elst, inMovie(firstMs), 4);
        Mp4::append(elst, 0xFFFFFFFFULL, 4);
        Mp4::append(elst, 0x00010000, 4);
    }
    Mp4::append(elst, inMovie(mediaMs), 4);
    Mp4::append(elst, 0, 4);
    Mp4::append(elst, 0x00010000, 4);

    QByteArray mdhd = Mp4::fullBox(0, 0);
    Mp4::append(mdhd, 0, 8);
    Mp4::append(mdhd, 1000, 4);
    Mp4::append(mdhd, static_cast<quint64>(mediaMs), 4);
    Mp4::append(mdhd, 0, 4);


    // The titles' bit rate, as ffmpeg gives it.
    qint64 bytes = 0;
    for (const Timed& sample : samples)
        bytes += sample.title.size() + 2 + kTitleEncoding.size();
    const quint64 bitRate =
        mediaMs > 0 ? static_cast<quint64>(bytes * 8 * 1000 / mediaMs) : 0;
    QByteArray btrt;
    Mp4::append(btrt, 20, 4);
    btrt += "btrt";
    Mp4::append(btrt, 0, 4);
    Mp4::append(btrt, bitRate, 4);
    Mp4::append(btrt, bitRate, 4);
    QByteArray entry;
    Mp4::append(entry, 16 + kTextDescription.size() + btrt.size(), 4);
    entry += "text";
    Mp4::append(entry, 0, 6);
    Mp4::append(entry, 1, 2);
    entry += kTextDescription + btrt;
    QByteArray stsd = Mp4::fullBox(0, 0);
    Mp4::append(stsd, 1, 4);
    stsd += entry;

    QByteArray stts = Mp4::fullBox(0, 0);
    std::vector<std::pair<quint64, qint64>> runs;
    for (const Timed& sample : samples) {
        if (!runs.empty() && runs.back().second == sample.durationMs)
            ++runs.back().first;
        else
            runs.emplace_back(1, sample.durationMs);
    }
    Mp4::append(stts, runs.size(), 4);
    for (const auto& [count, delta] : runs) {
        Mp4::append(stts, count, 4);
        Mp4::append(stts, static_cast<quint64>(delta), 4);
    }

    QByteArray stsc = Mp4::fullBox(0, 0);
    Mp4::append(stsc, samples.empty() ? 0 : 1, 4);
    if (!samples.empty()) {
        Mp4::append(stsc, 1, 4);
        Mp4::append(stsc, samples.size(), 4);
        Mp4::append(stsc, 1, 4);
    }
    QByteArray stsz = Mp4::fullBox(0, 0);
    Mp4::append(stsz, 0, 4);
    Mp4::append(stsz, samples.size(), 4);
    for (const Timed& sample : samples)
        Mp4::append(stsz, static_cast<quint64>(sample.title.size() + 2 + kTitleEncoding.size()),
                    4);
    const bool wide = samplesAt > 0xFFFFFFFFULL;
    QByteArray stco = Mp4::fullBox(0, 0);
    Mp4::append(stco, samples.empty() ? 0 : 1, 4);
    if (!samples.empty())
        Mp4::append(stco, samplesAt, wide ? 8 : 4);

    return Mp4Box::holding(
        "trak",
        {Mp4Box::leaf("tkhd", trackHeader(id, inMovie(firstMs + mediaMs))),
         Mp4Box::holding("edts", {Mp4Box::leaf("elst", elst)}),
         Mp4Box::holding(
             "mdia",
             {Mp4Box::leaf("mdhd", mdhd),
              Mp4Box::leaf("hdlr", Mp4::handler("text", "SubtitleHandler")),
              Mp4Box::holding(
                  "minf",
                  {Mp4Box::leaf("gmhd", kBaseMediaHeader),
                   Mp4::dataInformation(),
                   Mp4Box::holding("stbl",
                                   {Mp4Box::leaf("stsd", stsd), Mp4Box::leaf("stts", stts),
                                    Mp4Box::leaf("stsc", stsc), Mp4Box::leaf("stsz", stsz),
                                    Mp4Box::leaf(wide ? "co64" : "stco", stco)})})})});
}

QByteArray neroChapters(const std::vector<Timed>& chapters)
{
    QByteArray chpl = Mp4::fullBox(1, 0);
    Mp4::append(chpl, 0, 4);
    const std::size_t count = std::min(chapters.size(), kNeroChapters);
    Mp4::append(chpl, count, 1);
    for (std::size_t i = 0; i < count; ++i) {
        // In units of 100 ns.
        Mp4::append(chpl, static_cast<quint64>(chapters[i].startMs) * 10000, 8);
        const QByteArray title = cutTitle(chapters[i].title, kNeroTitle);
        Mp4::append(chpl, static_cast<quint64>(title.size()), 1);
        chpl += title;
    }
    return chpl;
}

} // namespace

ChapterMovie::ChapterMovie(QByteArray moov) : mBytes(std::move(moov))
{
    std::vector<Mp4Box> boxes = Mp4Box::parse(mBytes);
    if (boxes.size() != 1 || boxes.front().type != "moov")
        throw std::runtime_error("no movie header");
    mMoov = std::move(boxes.front());
    const Mp4Box* mvhd = mMoov.child("mvhd");
    if (!mvhd || !mMoov.child("trak"))
        throw std::runtime_error("the movie has no header or no track");
    const bool wide = Mp4::read(mvhd->payload, 0, 1) == 1;
    mTimeScale = Mp4::read(mvhd->payload, wide ? 20 : 12, 4);
    mDuration = Mp4::read(mvhd->payload, wide ? 24 : 16, wide ? 8 : 4);
    if (mTimeScale == 0)
        throw std::runtime_error("the movie has no time scale");
}

qint64 ChapterMovie::durationMs() const
{
    return static_cast<qint64>(mDuration / mTimeScale * 1000 + mDuration % mTimeScale * 1000 /
                                                                   mTimeScale);
}

QByteArray ChapterMovie::textSamples(const std::vector<Chapter>& chapters)
{
    QByteArray bytes;
    for (const Chapter& chapter : chapters) {
        const QByteArray title = sampleTitle(chapter.title);
        Mp4::append(bytes, static_cast<quint64>(title.size()), 2);
        bytes += title + kTitleEncoding;
    }
    return bytes;
}

QByteArray ChapterMovie::withChapters(const std::vector<Chapter>& chapters,
                                      const std::function<quint64(quint64)>& movedOffset,
                                      quint64 textSamplesAt) const
{
    Mp4Box moov = mMoov;
    dropOldChapters(moov);
    quint32 lastId = 0;
    for (const Mp4Box& box : moov.children) {
        if (box.type == "trak")
            lastId = std::max(lastId, trackId(box));
    }
    const quint32 textId = lastId + 1;
    qsizetype afterTracks = 0;
    for (qsizetype i = 0; i < static_cast<qsizetype>(moov.children.size()); ++i) {
        Mp4Box& trak = moov.children[static_cast<std::size_t>(i)];
        if (trak.type != "trak")
            continue;
        afterTracks = i + 1;
        moveChunks(trak, movedOffset);
        const QByteArray handler = handlerOf(trak);
        if (handler != "soun" && handler != "vide")
            continue;
        QByteArray reference;
        Mp4::append(reference, textId, 4);
        Mp4Box tref = Mp4Box::holding("tref", {Mp4Box::leaf("chap", reference)});
        const auto mdia = std::find_if(trak.children.begin(), trak.children.end(),
                                       [](const Mp4Box& b) { return b.type == "mdia"; });
        trak.children.insert(mdia, std::move(tref));
    }

    const std::vector<Timed> timedChapters = timed(chapters, durationMs());
    moov.children.insert(moov.children.begin() + afterTracks,
                         textTrack(textId, timedChapters, mTimeScale, textSamplesAt));

    Mp4Box* mvhd = moov.child("mvhd");
    Mp4::write(mvhd->payload, mvhd->payload.size() - 4, textId + 1, 4);

    Mp4Box* udta = moov.child("udta");
    if (!udta) {
        moov.children.push_back(Mp4Box::holding("udta", {}));
        udta = &moov.children.back();
    }
    std::erase_if(udta->children, [](const Mp4Box& b) { return b.type == "chpl"; });
    udta->children.push_back(Mp4Box::leaf("chpl", neroChapters(timedChapters)));
    return moov.serialized();
}
