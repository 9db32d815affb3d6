#include "FileMover.h"

#include "FileCopy.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Outcome = FileMover::Outcome;

std::string native(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString fromNative(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString fileName(const std::string& path)
{
    return QFileInfo(fromNative(path)).fileName();
}

bool exists(const std::string& path, struct stat* info = nullptr)
{
    struct stat ignored
    {
    };
    return ::lstat(path.c_str(), info ? info : &ignored) == 0;
}

// A free hidden name beside path, such as ".Book.m4b.partial-123456".
std::string hiddenNameBeside(const std::string& path, const char* purpose)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::string::size_type slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (;;) {
        std::string hidden = folder;
        hidden.append(".").append(name).append(".").append(purpose).append("-");
        hidden.append(std::to_string(random() % 1000000));
        if (!exists(hidden))
            return hidden;
    }
}

// Removes a folder and what it holds, but never crosses into another file
// system mounted inside it. False when anything is left.
bool removeTree(const std::string& path, dev_t device)
{
    struct stat info
    {
    };
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return ::unlink(path.c_str()) == 0;
    if (info.st_dev != device)
        return false;
    bool all = true;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = path;
            child.append("/").append(name);
            all = removeTree(child, device) && all;
        }
        ::closedir(dir);
    } else {
        all = false;
    }
    return ::rmdir(path.c_str()) == 0 && all;
}

// Copies source to a new file at target with its permissions; 0, or the
// system's error. The room is taken first, so a full disk fails at once.
int copyFile(const std::string& source, const std::string& target, const struct stat& info)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                           info.st_mode & 07777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    if (::fallocate(out, 0, 0, info.st_size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        error = errno;
    if (error == 0)
        error = FileCopy::range(in, 0, info.st_size, out);
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    return error;
}

// The file went to a staging path beside the destination; it goes back.
Outcome putBack(const std::string& source, const std::string& staged, bool copied,
                const QString& reason, int error)
{
    if (copied) {
        ::unlink(staged.c_str());
        return {.moved = false, .keptAt = fromNative(source), .reason = reason, .error = error};
    }
    if (::rename(staged.c_str(), source.c_str()) == 0)
        return {.moved = false, .keptAt = fromNative(source), .reason = reason, .error = error};
    return {.moved = false, .keptAt = fromNative(staged), .reason = reason, .error = error};
}

// Renames staged to destination only when nothing stands there.
bool renameNoReplace(const std::string& staged, const std::string& destination)
{
    if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: link, then unlink, never replaces either.
    if (::link(staged.c_str(), destination.c_str()) != 0)
        return false;
    ::unlink(staged.c_str());
    return true;
}

Outcome moveTo(const QString& sourcePath, const QString& destinationPath, bool replacing)
{
    const std::string source = native(sourcePath);
    const std::string destination = native(destinationPath);
    struct stat sourceInfo
    {
    };
    if (::stat(source.c_str(), &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode))
        return {.moved = false,
                .keptAt = {},
                .reason = u"The finished file was not made."_s,
                .error = 0};
    struct stat existing
    {
    };
    const bool taken = exists(destination, &existing);
    if (taken && !replacing)
        return {.moved = false,
                .keptAt = sourcePath,
                .reason = u"%1 already exists."_s.arg(fileName(destination)),
                .error = EEXIST};

    // Stage the bytes beside the destination: a rename on one file system, a
    // copy across two, so the final step is always a rename.
    const std::string staged = hiddenNameBeside(destination, "partial");
    bool copied = false;
    if (::rename(source.c_str(), staged.c_str()) != 0) {
        if (const int error = errno; error != EXDEV)
            return {.moved = false, .keptAt = sourcePath, .reason = errorText(error), .error = error};
        if (const int error = copyFile(source, staged, sourceInfo); error != 0) {
            ::unlink(staged.c_str());
            return {.moved = false, .keptAt = sourcePath, .reason = errorText(error), .error = error};
        }
        copied = true;
    }

    if (!taken) {
        if (!renameNoReplace(staged, destination)) {
            const int error = errno;
            return putBack(source, staged, copied, errorText(error), error);
        }
    } else if (!S_ISDIR(existing.st_mode)) {
        // One rename replaces a file or link: the old or the new one is always there.
        if (::rename(staged.c_str(), destination.c_str()) != 0) {
            const int error = errno;
            return putBack(
                source, staged, copied,
                u"%1 could not be replaced: %2."_s.arg(fileName(destination), errorText(error)),
                error);
        }
    } else {
        // A folder cannot be renamed over: it is put aside first, and
        // comes back should the new file not go in.
        const std::string aside = hiddenNameBeside(destination, "replaced");
        if (::rename(destination.c_str(), aside.c_str()) != 0) {
            const int error = errno;
            return putBack(source, staged, copied,
                           u"The folder %1 could not be replaced: %2."_s.arg(fileName(destination),
                                                                             errorText(error)),
                           error);
        }
        if (!renameNoReplace(staged, destination)) {
            const int error = errno;
            ::rename(aside.c_str(), destination.c_str());
            return putBack(source, staged, copied, errorText(error), error);
        }
        if (!removeTree(aside, existing.st_dev))
            std::fprintf(stderr,
                         "fablewick: what could not be removed of the replaced folder "
                         "is left in %s\n",
                         aside.c_str());
    }
    if (copied)
        ::unlink(source.c_str());
    return {.moved = true, .keptAt = {}, .reason = {}, .error = 0};
}

} // namespace

FileMover::Outcome FileMover::move(const QString& source, const QString& destination)
{
    return moveTo(source, destination, false);
}

FileMover::Outcome FileMover::moveReplacing(const QString& source, const QString& destination)
{
    return moveTo(source, destination, true);
}

bool FileMover::itemExists(const QString& path)
{
    return exists(native(path));
}
