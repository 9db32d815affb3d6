#include "DiskSpace.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/statvfs.h>

std::optional<qint64> DiskSpace::available(const QString& path)
{
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(existing) && existing != QFileInfo(existing).absolutePath())
        existing = QFileInfo(existing).absolutePath();
    struct statvfs info
    {
    };
    if (::statvfs(QFile::encodeName(existing).constData(), &info) != 0)
        return std::nullopt;
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

bool DiskSpace::meansFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}
