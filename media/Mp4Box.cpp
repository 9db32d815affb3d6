#include "Mp4Box.h"

#include <QFile>
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
bool opens(const QByteArray& type)
{
    for (const char* container : {"moov", "trak", "mdia", "minf", "stbl", "udta", "tref"}) {
        if (type == container)
            return true;
    }
    return false;
}
} // namespace

namespace Mp4 {

quint64 read(QByteArrayView bytes, qsizetype at, int width)
{
    if (at < 0 || at + width > bytes.size())
        throw std::runtime_error("a box ends before its fields");
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

std::optional<BoxHead> boxHead(QByteArrayView head, quint64 room)
{
    if (head.size() < 8)
        return std::nullopt;
    BoxHead box{.type = head.sliced(4, 4).toByteArray(), .size = read(head, 0, 4), .header = 8};
    if (box.size == 1) {
        if (head.size() < 16)
            return std::nullopt;
        box.size = read(head, 8, 8);
        box.header = 16;
    } else if (box.size == 0) {
        box.size = room;
    }
    if (box.size < static_cast<quint64>(box.header) || box.size > room)
        return std::nullopt;
    return box;
}

void append(QByteArray& bytes, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        bytes.append(i >= 8 ? '\0' : static_cast<char>((value >> (8 * i)) & 0xFF));
}

void write(QByteArray& bytes, qsizetype at, quint64 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * (width - 1 - i))) & 0xFF);
}

QByteArray fullBox(int version, quint32 flags)
{
    QByteArray bytes;
    append(bytes, static_cast<quint64>(version), 1);
    append(bytes, flags, 3);
    return bytes;
}

const QByteArray& identityMatrix()
{
    static const QByteArray matrix = QByteArray::fromHex(
        "000100000000000000000000000000000001000000000000000000000000000040000000");
    return matrix;
}

QByteArray handler(const QByteArray& kind, const QByteArray& name)
{
    QByteArray bytes = fullBox(0, 0);
    append(bytes, 0, 4);
    bytes += kind;
    append(bytes, 0, 12);
    bytes += name;
    bytes += '\0';
    return bytes;
}

Mp4Box dataInformation()
{
    QByteArray dref = fullBox(0, 0);
    append(dref, 1, 4);
    append(dref, 12, 4);
    dref += "url ";
    append(dref, 1, 4);
    return Mp4Box::holding("dinf", {Mp4Box::leaf("dref", dref)});
}

} // namespace Mp4

Mp4Box Mp4Box::leaf(const QByteArray& type, const QByteArray& payload)
{
    return {.type = type, .payload = payload, .children = {}, .container = false};
}

Mp4Box Mp4Box::holding(const QByteArray& type, std::vector<Mp4Box> children)
{
    return {.type = type, .payload = {}, .children = std::move(children), .container = true};
}

std::vector<Mp4Box> Mp4Box::parse(QByteArrayView bytes)
{
    return parse(bytes, 0);
}

std::vector<Mp4Box> Mp4Box::parse(QByteArrayView bytes, int depth)
{
    // A crafted file may nest boxes by the hundred thousand; each level
    // would take a frame of the reader's stack.
    if (depth > kDeepest)
        throw std::runtime_error("its boxes are nested too deeply");
    std::vector<Mp4Box> boxes;
    qsizetype at = 0;
    while (at + 8 <= bytes.size()) {
        const QByteArrayView rest = bytes.sliced(at);
        const auto box = Mp4::boxHead(rest.first(std::min<qsizetype>(rest.size(), 16)),
                                      static_cast<quint64>(rest.size()));
        const QByteArray type = rest.sliced(4, 4).toByteArray();
        if (!box)
            throw std::runtime_error("the box '" + type.toStdString() + "' does not fit");
        const auto size = static_cast<qsizetype>(box->size);
        const QByteArrayView body = rest.sliced(box->header, size - box->header);
        if (opens(type))
            boxes.push_back(holding(type, parse(body, depth + 1)));
        else
            boxes.push_back(leaf(type, QByteArray::fromRawData(body.data(), body.size())));
        at += size;
    }
    if (at != bytes.size())
        throw std::runtime_error("stray bytes after the last box");
    return boxes;
}

bool Mp4Box::fileNestsWithin(const QString& path, int depth)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    // The end of each open container, innermost last.
    std::vector<qint64> ends{file.size()};
    qint64 at = 0;
    while (!ends.empty()) {
        if (at + 8 > ends.back()) {
            at = ends.back();
            ends.pop_back();
            continue;
        }
        const QByteArray head = file.seek(at) ? file.read(16) : QByteArray();
        if (head.size() < 8)
            return true;
        const auto box = Mp4::boxHead(head, static_cast<quint64>(ends.back() - at));
        // A box that does not fit ends the reading of its container, here as in the readers.
        if (!box) {
            at = ends.back();
            continue;
        }
        const QByteArray& type = box->type;
        // The containers that TagLib opens, and what their children come after.
        static const std::vector<std::pair<QByteArray, qint64>> containers{
            {"moov", 0}, {"udta", 0}, {"mdia", 0}, {"meta", 4}, {"ilst", 0}, {"stbl", 0},
            {"minf", 0}, {"moof", 0}, {"traf", 0}, {"trak", 0}, {"stsd", 8}, {"tref", 0}};
        const auto container = std::find_if(containers.begin(), containers.end(),
                                            [&type](const auto& c) { return c.first == type; });
        const qint64 next = at + static_cast<qint64>(box->size);
        if (container == containers.end()) {
            at = next;
            continue;
        }
        if (static_cast<int>(ends.size()) > depth)
            return false;
        ends.push_back(next);
        at += box->header + container->second;
    }
    return true;
}

quint64 Mp4Box::size() const
{
    quint64 body = 0;
    if (container) {
        for (const Mp4Box& box : children)
            body += box.size();
    } else {
        body = static_cast<quint64>(payload.size());
    }
    return body + 8 > 0xFFFFFFFFULL ? body + 16 : body + 8;
}

// The header and then the body, straight into one buffer: each payload is
// copied once, whatever the depth of the box.
void Mp4Box::appendTo(QByteArray& bytes) const
{
    const quint64 total = size();
    if (total > 0xFFFFFFFFULL) {
        Mp4::append(bytes, 1, 4);
        bytes += type;
        Mp4::append(bytes, total, 8);
    } else {
        Mp4::append(bytes, total, 4);
        bytes += type;
    }
    if (!container) {
        bytes += payload;
        return;
    }
    for (const Mp4Box& box : children)
        box.appendTo(bytes);
}

QByteArray Mp4Box::serialized() const
{
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(size()));
    appendTo(bytes);
    return bytes;
}

Mp4Box* Mp4Box::child(const QByteArray& wanted)
{
    for (Mp4Box& box : children) {
        if (box.type == wanted)
            return &box;
    }
    return nullptr;
}

const Mp4Box* Mp4Box::child(const QByteArray& wanted) const
{
    return const_cast<Mp4Box*>(this)->child(wanted);
}

bool Mp4Box::startsMp4File(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(8).mid(4) == "ftyp";
}
