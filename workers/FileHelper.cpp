#include "FileHelper.h"

#include <QDir>
#include <QFile>
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
        if (record->pathColumn.toLower().contains(u"mp3"_s))
            selected.append(record);
    }
    return selected;
}
