#include "Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {
QString& overriddenDirectory()
{
    static QString directory;
    return directory;
}
} // namespace

QString Resources::directory()
{
    if (!overriddenDirectory().isEmpty())
        return overriddenDirectory();
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + u"/../share/fablewick"_s);
}

void Resources::setDirectory(const QString& directory)
{
    overriddenDirectory() = directory;
}

std::optional<QString> Resources::pathForResource(const QString& name, const QString& type)
{
    if (name.isEmpty() || name.contains(u'/'))
        return std::nullopt;
    const QString fileName = type.isEmpty() ? name : name + u'.' + type;
    const QString path = directory() + u'/' + fileName;
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}
