#include "AppController.h"

#include <QApplication>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    // Debian's GStreamer cannot play MP3 without extra plugins; Qt's ffmpeg backend can.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Fablewick"_s);
    QApplication::setApplicationVersion(QStringLiteral(FABLEWICK_VERSION));
    QApplication::setDesktopFileName(u"fablewick"_s);

    AppController controller;
    QApplication::setQuitOnLastWindowClosed(
        controller.applicationShouldTerminateAfterLastWindowClosed());
    controller.awakeFromNib();

    // Every argument is a file opened with the application; "--" ends Qt's own options.
    QStringList files;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == u"--"_s)
            continue;
        files << QFileInfo(arguments.at(i)).absoluteFilePath();
    }
    if (!files.isEmpty())
        controller.applicationOpenFiles(files);

    return QApplication::exec();
}
