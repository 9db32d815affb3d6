// Renders the main window and its sheets to PNG files, for looking at the
// interface without a display: render_mainwindow OUTDIR
#include "ArtworkWell.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QPixmap>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {
bool save(QWidget* widget, const QString& path)
{
    widget->adjustSize();
    QApplication::processEvents();
    return widget->grab().save(path);
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_mainwindow OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    TestEnvironment environment;
    TestApp testApp;
    AppController& c = *testApp.controller;
    QMainWindow* window = c.window();
    window->resize(900, 560);
    QApplication::processEvents();
    bool ok = window->grab().save(out + u"/empty.png"_s);

    const QString dir = environment.sources() + u"/The Hobbit"_s;
    QDir().mkpath(dir);
    const QStringList names{u"01 An Unexpected Party.mp3"_s, u"02 Roast Mutton.mp3"_s,
                            u"03 A Short Rest.mp3"_s, u"04 Over Hill and Under Hill.mp3"_s};
    QStringList paths;
    for (const QString& name : names) {
        paths << dir + u'/' + name;
        makeMp3(paths.constLast(), 2.0, paths.size() % 2 ? 44100 : 22050, paths.size() % 2 ? 2 : 1,
                paths.size() % 2 ? 128 : 64);
    }
    // One file that is not audio, to show how the list marks it.
    writeFile(dir + u"/04b Notes.mp3"_s, "plain text, not audio");
    paths << dir + u"/04b Notes.mp3"_s;
    c.applicationOpenFiles(paths);
    ok = ok && waitUntilListed(c);
    c.table()->selectRow(1);
    QApplication::processEvents();
    ok = ok && window->grab().save(out + u"/main.png"_s);

    c.startTagging();
    control<QLineEdit>(c, u"title"_s)->setText(u"The Hobbit"_s);
    control<QLineEdit>(c, u"artist"_s)->setText(u"J. R. R. Tolkien"_s);
    ok = ok && save(control<QLineEdit>(c, u"title"_s)->window(), out + u"/tags.png"_s);
    c.stopTagging();
    c.joinAll();
    ok = ok && save(control<QLineEdit>(c, u"outputName"_s)->window(), out + u"/output.png"_s);
    c.closeJoinStart();
    QWidget* progress = control<QLabel>(c, u"joinProgressDescription"_s)->window();
    control<QLabel>(c, u"joinProgressDescription"_s)->setText(u"Joining file 2 of 4..."_s);
    control<QProgressBar>(c, u"joinProgressIndicator"_s)->setRange(0, 4);
    control<QProgressBar>(c, u"joinProgressIndicator"_s)->setValue(2);
    progress->show();
    ok = ok && save(progress, out + u"/progress.png"_s);
    progress->hide();

    // The update notice, as a check that found a newer version shows it.
    UpdateChecker checker(u"http://127.0.0.1:9/feed.xml"_s);
    checker.setAutoUpdate(false);
    c.autoUpdateDidFinish(&checker, std::nullopt);
    ok = ok && save(c.updateSheet(), out + u"/update.png"_s);
    c.closeUpdateWindow();
    return ok ? 0 : 1;
}
