#include "Mp3BookTagger.h"

#include "FileCopy.h"
#include "Mp3Frames.h"
#include "Mp3InfoFrame.h"
#include "WorkerException.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

[[noreturn]] void fail(const QString& path, int error)
{
    throw WorkerException("cannot write " + path.toStdString() + ": " + std::strerror(error));
}

} // namespace

Mp3BookTagger::~Mp3BookTagger()
{
    terminateTagging();
    mThread.join();
}

void Mp3BookTagger::startTagging(WorkerReports reports)
{
    mThread.join();
    mStopped = false;
    mThread.start([this, reports = std::move(reports)] {
        std::exception_ptr failure;
        try {
            write();
        } catch (const std::exception&) {
            QFile::remove(mOutputPath);
            // A stopped tagging is not a failure.
            failure = mStopped ? nullptr : std::current_exception();
        }
        reports.end(failure);
    });
}

void Mp3BookTagger::write()
{
    // The joined files' frames, without the tags and Info frames of all but
    // the first between them.
    const std::optional<Mp3Frames::Joined> joined = Mp3Frames::joined(mInputPath);
    if (!joined)
        throw WorkerException("cannot read " + mInputPath.toStdString());
    const QByteArray tag = mTag.rendered();
    const Descriptor in{::open(QFile::encodeName(mInputPath).constData(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0)
        throw WorkerException("cannot read " + mInputPath.toStdString() + ": " +
                              std::strerror(errno));
    const Descriptor out{::open(QFile::encodeName(mOutputPath).constData(),
                                O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (out.fd < 0)
        fail(mOutputPath, errno);
    // The room for the whole book, taken at once: a full disk fails here.
    const qint64 size = tag.size() + joined->bytes();
    if (::fallocate(out.fd, 0, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        fail(mOutputPath, errno);
    if (::write(out.fd, tag.constData(), static_cast<size_t>(tag.size())) != tag.size())
        fail(mOutputPath, errno);
    for (const Mp3Frames::Span& run : joined->runs) {
        if (const int error = FileCopy::range(in.fd, run.begin, run.end - run.begin, out.fd,
                                              [this] { return mStopped.load(); });
            error != 0)
            fail(mOutputPath, error);
    }
    if (::ftruncate(out.fd, size) != 0)
        fail(mOutputPath, errno);
    // The first file's Info frame, which players take for the whole book's
    // length, is told again for all of it.
    if (joined->infoLength > 0) {
        QByteArray first(joined->infoLength, Qt::Uninitialized);
        if (::pread(in.fd, first.data(), static_cast<size_t>(first.size()),
                    joined->runs.front().begin) != first.size())
            fail(mInputPath, errno);
        if (const auto told = Mp3InfoFrame::retold(first, *joined)) {
            if (::pwrite(out.fd, told->constData(), static_cast<size_t>(told->size()),
                         tag.size()) != told->size())
                fail(mOutputPath, errno);
        }
    }
}
