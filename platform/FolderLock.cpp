#include "FolderLock.h"

#include "ToolProcess.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct ProcessEntry
{
    pid_t parent = 0;
    // The application keeps its descriptor close-on-exec; its tools get it without.
    bool application = false;
};

pid_t parentOf(const QString& pid)
{
    QFile stat(u"/proc/"_s + pid + u"/stat"_s);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // "pid (name) state ppid ...": the name may hold spaces and brackets.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? static_cast<pid_t>(fields.at(1).toInt()) : 0;
}

bool isCloseOnExec(const QString& pid, const QString& fd)
{
    QFile info(u"/proc/"_s + pid + u"/fdinfo/"_s + fd);
    if (!info.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : info.readAll().split('\n')) {
        if (line.startsWith("flags:"))
            return (line.mid(6).trimmed().toUInt(nullptr, 8) & O_CLOEXEC) != 0;
    }
    return false;
}

} // namespace

FolderLock::~FolderLock()
{
    if (mFd >= 0) {
        ToolProcess::shareWithTools(-1);
        ::close(mFd);
    }
}

FolderLock::Result FolderLock::tryLock(const QString& folder)
{
    if (mFd >= 0)
        return Result::Ours;
    const int fd = ::open(QFile::encodeName(folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return Result::Unusable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unusable;
    }
    mFd = fd;
    ToolProcess::shareWithTools(mFd);
    return Result::Ours;
}

FolderLock::Holders FolderLock::holders(const QString& folder)
{
    Holders found;
    struct stat target
    {
    };
    if (::stat(QFile::encodeName(folder).constData(), &target) != 0)
        return found;
    const QString self = QString::number(::getpid());
    QHash<pid_t, ProcessEntry> holding;
    const QStringList pids =
        QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& pid : pids) {
        if (pid == self || !pid.front().isDigit())
            continue;
        const QString fds = u"/proc/"_s + pid + u"/fd"_s;
        for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat open
            {
            };
            if (::stat(QFile::encodeName(fds + u'/' + fd).constData(), &open) != 0 ||
                open.st_dev != target.st_dev || open.st_ino != target.st_ino)
                continue;
            holding.insert(static_cast<pid_t>(pid.toInt()),
                           {parentOf(pid), isCloseOnExec(pid, fd)});
            break;
        }
    }
    // A tool belongs to a live run when its line of holding parents reaches an application.
    for (auto it = holding.cbegin(); it != holding.cend(); ++it) {
        auto entry = it;
        for (int depth = 0; depth < 64 && !entry->application; ++depth) {
            const auto parent = holding.constFind(entry->parent);
            if (parent == holding.cend())
                break;
            entry = parent;
        }
        if (entry->application)
            found.liveApplication = true;
        else
            found.leftovers.append(it.key());
    }
    return found;
}
