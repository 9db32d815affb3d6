#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

// One box of an MP4 movie header: a leaf with its bytes, or a container
// with its boxes. Only the containers that the chapters touch are opened.
struct Mp4Box
{
    QByteArray type;
    QByteArray payload;
    std::vector<Mp4Box> children;
    bool container = false;

    [[nodiscard]] static Mp4Box leaf(const QByteArray& type, const QByteArray& payload);
    [[nodiscard]] static Mp4Box holding(const QByteArray& type, std::vector<Mp4Box> children);
    // The boxes laid end to end in bytes, whose leaves share those bytes
    // rather than copy them: bytes must outlive them. Throws
    // std::runtime_error when the boxes do not fit.
    // Boxes nested deeper than kDeepest are refused too.
    [[nodiscard]] static std::vector<Mp4Box> parse(QByteArrayView bytes);
    // A movie's deepest box lies six down (moov trak mdia minf stbl stsd);
    // ffmpeg refuses anything past ten.
    static constexpr int kDeepest = 10;
    // Whether the boxes of the file at path nest no deeper than depth in the
    // containers that tag readers open, header by header, without recursion.
    // A file that is no MP4 file nests no boxes at all.
    [[nodiscard]] static bool fileNestsWithin(const QString& path, int depth);
    // Whether the file at path starts with an MP4 file type box.
    [[nodiscard]] static bool startsMp4File(const QString& path);
    [[nodiscard]] QByteArray serialized() const;
    [[nodiscard]] quint64 size() const;

    [[nodiscard]] Mp4Box* child(const QByteArray& wanted);
    [[nodiscard]] const Mp4Box* child(const QByteArray& wanted) const;

private:
    [[nodiscard]] static std::vector<Mp4Box> parse(QByteArrayView bytes, int depth);
    void appendTo(QByteArray& bytes) const;
};

// Big-endian numbers, as MP4 stores them; wider than 8 bytes, with zeros before.
namespace Mp4 {
[[nodiscard]] quint64 read(QByteArrayView bytes, qsizetype at, int width);

// A box's type, size and header length, read from its first bytes (16 where
// a 64-bit size follows); a size of 0 runs to the end of the room it has.
struct BoxHead
{
    QByteArray type;
    quint64 size = 0;
    qint64 header = 8;
};
// None when the box does not fit the room, or its header is cut short.
[[nodiscard]] std::optional<BoxHead> boxHead(QByteArrayView head, quint64 room);
void append(QByteArray& bytes, quint64 value, int width);
void write(QByteArray& bytes, qsizetype at, quint64 value, int width);

// A full box's version and flags, with which its payload starts.
[[nodiscard]] QByteArray fullBox(int version, quint32 flags);
// The matrix of a movie or track header that leaves the picture as it is.
[[nodiscard]] const QByteArray& identityMatrix();
// A handler box's payload: the kind of track ("soun", "text") and its name.
[[nodiscard]] QByteArray handler(const QByteArray& kind, const QByteArray& name);
// The one data reference of a track whose media lie in the file itself.
[[nodiscard]] Mp4Box dataInformation();
} // namespace Mp4
