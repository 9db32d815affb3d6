#include "Desktop.h"

#include <QDir>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

QString Desktop::folder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return desktop.isEmpty() ? QDir::homePath() + u"/Desktop"_s : desktop;
}

QString Desktop::pathFor(QString name, const QString& extension)
{
    name.replace(u'/', u'-');
    return folder() + u'/' + name + u'.' + extension;
}
