#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

// The top-level boxes of an MP4 file, read header by header, and its movie
// header, read whole: the one walk of a file's boxes, with one cap on the
// header that it reads.
namespace Mp4File {

struct TopBox
{
    QByteArray type;
    qint64 offset = 0;
    qint64 size = 0;
    qint64 header = 8;
};
struct TopBoxes
{
    std::vector<TopBox> boxes;
    // False when a box did not fit in the file, or its header was cut
    // short: the walk stopped there.
    bool whole = true;
};
// Of the open file `fd`, `size` bytes long.
[[nodiscard]] TopBoxes topBoxes(int fd, qint64 size);

// No audio file's movie header is larger.
constexpr qint64 kLargestHeader = qint64{256} << 20;
// The movie header's payload, its boxes. Throws std::runtime_error saying
// why there is none: it is not an MP4 file, its boxes do not add up, its
// header is too large or cannot be read.
[[nodiscard]] QByteArray movieHeader(int fd, qint64 size);
[[nodiscard]] QByteArray movieHeader(const QString& path);

} // namespace Mp4File
