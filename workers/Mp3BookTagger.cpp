#include "Mp3BookTagger.h"

#include "FileCopy.h"
#include "Mp3Frames.h"
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
    const std::optional<Mp3Frames::Span> span = Mp3Frames::framesSpan(mInputPath);
    if (!span)
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
    const qint64 size = tag.size() + span->end - span->begin;
    if (::fallocate(out.fd, 0, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        fail(mOutputPath, errno);
    if (::write(out.fd, tag.constData(), static_cast<size_t>(tag.size())) != tag.size())
        fail(mOutputPath, errno);
    if (const int error = FileCopy::range(in.fd, span->begin, span->end - span->begin, out.fd,
                                          [this] { return mStopped.load(); });
        error != 0)
        fail(mOutputPath, error);
    if (::ftruncate(out.fd, size) != 0)
        fail(mOutputPath, errno);
}
