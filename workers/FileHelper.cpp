#include "FileHelper.h"

#include "AudioKind.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
namespace fs = std::filesystem;

namespace {

QString appendingPathComponent(const QString& base, const QString& component)
{
    if (base.endsWith(u'/'))
        return base + component;
    return base + u'/' + component;
}

std::optional<QString> makeFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) == 0) {
        // Reusing someone else's folder, or a link, would let a run empty it.
        if (S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
            return path;
        return std::nullopt;
    }
    if (::mkdir(native.constData(), 0700) != 0)
        return std::nullopt;
    ::chmod(native.constData(), 0700);
    return path;
}

} // namespace

std::optional<QString> FileHelper::makeNewTempFolder(const std::optional<QString>& folderName)
{
    const QString temp = QDir::tempPath();
    if (!folderName)
        return temp;
    return makeFolder(appendingPathComponent(temp, *folderName));
}

QString FileHelper::whyTempFolderRefused(const QString& folderName)
{
    const QString path = appendingPathComponent(QDir::tempPath(), folderName);
    const QByteArray native = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) != 0) {
        const int error = errno;
        return u"The temporary folder %1 cannot be made: %2."_s.arg(
            path, QString::fromLocal8Bit(std::strerror(error)));
    }
    if (S_ISLNK(info.st_mode))
        return u"The temporary folder %1 is a link; it is not used, so that nothing it "
               u"points to is emptied."_s.arg(path);
    if (!S_ISDIR(info.st_mode))
        return u"%1 is not a folder, so it cannot be the temporary folder."_s.arg(path);
    if (info.st_uid != ::geteuid())
        return u"The temporary folder %1 belongs to another user; it is not used."_s.arg(path);
    return u"The temporary folder %1 cannot be used."_s.arg(path);
}

std::optional<QString> FileHelper::makeNewSubFolder(const QString& base, const QString& folderName)
{
    return makeFolder(appendingPathComponent(base, folderName));
}

bool FileHelper::deleteContentOfDirectory(const QString& path)
{
    const fs::path folder(QFile::encodeName(path).toStdString());
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() != fs::file_type::directory)
        return false;
    bool all = true;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
        all = all && !removeError;
    }
    return all && !ec;
}

ItemList FileHelper::selectMp3Files(const ItemList& records)
{
    ItemList selected;
    for (const ItemRecordPtr& record : records) {
        if (AudioKind::isListed(record->pathColumn))
            selected.append(record);
    }
    return selected;
}
