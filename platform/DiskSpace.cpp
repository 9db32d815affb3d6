#include "DiskSpace.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>
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

// Two significant figures: the container and the encoder make the last ones a guess.
QString DiskSpace::roundedSize(double bytes)
{
    if (bytes < 1000)
        return QLocale::c().formattedDataSize(static_cast<qint64>(std::max(0.0, bytes)), 0,
                                              QLocale::DataSizeSIFormat);
    const double exponent = std::floor(std::log10(bytes));
    const double step = std::pow(10.0, exponent - 1);
    const double rounded = std::round(bytes / step) * step;
    const double inUnits = rounded / std::pow(1000.0, std::floor(exponent / 3));
    return QLocale::c().formattedDataSize(static_cast<qint64>(rounded), inUnits < 10 ? 1 : 0,
                                          QLocale::DataSizeSIFormat);
}

QString DiskSpace::fullText(const QString& folder, qint64 needed)
{
    const qint64 free = available(folder).value_or(0);
    return QStringLiteral("The disk that holds %1 is full: %2 free, and this book needs about %3.")
        .arg(folder, roundedSize(double(free)), roundedSize(double(needed)));
}
