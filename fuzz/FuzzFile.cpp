#include "FuzzFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

QString FuzzFile::write(const std::uint8_t* data, std::size_t size)
{
    static const QString path = [] {
        const QString folder =
            QFileInfo(u"/dev/shm"_s).isWritable() ? u"/dev/shm"_s : QDir::tempPath();
        return folder + u"/fablewick-fuzz-%1"_s.arg(::getpid());
    }();
    static const bool removed = [] {
        std::atexit([] { QFile::remove(path); });
        return true;
    }();
    (void)removed;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        std::abort();
    return path;
}
