#include "Mp4File.h"

#include "Mp4Box.h"

#include <QFile>
#include <algorithm>
#include <new>
#include <stdexcept>
#include <unistd.h>

namespace Mp4File {

TopBoxes topBoxes(int fd, qint64 size)
{
    TopBoxes top;
    for (qint64 at = 0; at < size;) {
        char start[16] = {};
        const ssize_t got = ::pread(fd, start, sizeof start, at);
        const auto box = got < 8 ? std::nullopt
                                 : Mp4::boxHead(QByteArrayView(start, got),
                                                static_cast<quint64>(size - at));
        if (!box || box->size == 0) {
            top.whole = false;
            break;
        }
        const auto length = static_cast<qint64>(box->size);
        top.boxes.push_back({box->type, at, length, box->header});
        at += length;
    }
    return top;
}

QByteArray movieHeader(int fd, qint64 size)
{
    const TopBoxes top = topBoxes(fd, size);
    const auto moov = std::find_if(top.boxes.begin(), top.boxes.end(),
                                   [](const TopBox& box) { return box.type == "moov"; });
    if (moov == top.boxes.end())
        throw std::runtime_error(!top.whole && !top.boxes.empty() ? "its boxes do not add up"
                                                                  : "it is not an MP4 file");
    if (moov->size > kLargestHeader)
        throw std::runtime_error("its header is too large");
    QByteArray bytes;
    try {
        bytes = QByteArray(moov->size - moov->header, Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        // Within the cap, yet more than this machine can set aside.
        throw std::runtime_error("its header is too large to read");
    }
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t n = ::pread(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done),
                                  moov->offset + moov->header + done);
        if (n <= 0)
            throw std::runtime_error("its header cannot be read");
        done += n;
    }
    return bytes;
}

QByteArray movieHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("it cannot be read");
    return movieHeader(file.handle(), file.size());
}

} // namespace Mp4File
