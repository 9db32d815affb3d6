#include "AppController.h"
#include "InstanceChannel.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>

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

    // Files opened while Fablewick runs go to the running window.
    QStringList files;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == u"--"_s)
            continue;
        files << QFileInfo(arguments.at(i)).absoluteFilePath();
    }
    if (!files.isEmpty() && InstanceChannel::sendToRunningInstance(files))
        return 0;

    AppController controller;
    controller.awakeFromNib();

    InstanceChannel channel;
    QObject::connect(&channel, &InstanceChannel::filesReceived, &controller,
                     [&controller](const QStringList& opened) {
                         controller.applicationOpenFiles(opened);
                         controller.window()->raise();
                         controller.window()->activateWindow();
                     });
    channel.listen();

    // A logout, a shutdown or kill ends the application as Quit does.
    TerminationSignals endRequests;
    QObject::connect(&endRequests, &TerminationSignals::arrived, &controller,
                     &AppController::quitApplication);
    if (!files.isEmpty())
        controller.applicationOpenFiles(files);

    return QApplication::exec();
}
