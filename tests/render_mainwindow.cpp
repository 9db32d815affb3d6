// Renders the main window with a few listed files to a PNG, for looking at the
// interface without a display: render_mainwindow OUT.png [empty]
#include "TestSupport.h"

#include <QApplication>
#include <QMainWindow>
#include <QPixmap>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_mainwindow OUT.png [empty]\n");
        return 2;
    }
    TestEnvironment environment;
    TestApp testApp;
    if (argc < 3) {
        const QString dir = environment.sources() + u"/The Hobbit"_s;
        QDir().mkpath(dir);
        const QStringList names{u"01 An Unexpected Party.mp3"_s, u"02 Roast Mutton.mp3"_s,
                                u"03 A Short Rest.mp3"_s, u"04 Over Hill and Under Hill.mp3"_s};
        QStringList paths;
        for (const QString& name : names) {
            paths << dir + u'/' + name;
            makeMp3(paths.constLast(), 2.0, paths.size() % 2 ? 44100 : 22050,
                    paths.size() % 2 ? 2 : 1, paths.size() % 2 ? 128 : 64);
        }
        testApp.controller->applicationOpenFiles(paths);
        testApp.controller->table()->selectRow(1);
    }
    QMainWindow* window = testApp.controller->window();
    window->resize(900, 560);
    QApplication::processEvents();
    const bool saved = window->grab().save(QString::fromLocal8Bit(argv[1]));
    return saved ? 0 : 1;
}
