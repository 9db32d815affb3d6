// Renders the main window and its sheets to PNG files, for looking at the
// interface without a display: render_mainwindow OUTDIR
#include "ArtworkWell.h"
#include "CatalogueServer.h"
#include "TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTableView>
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
    // The catalogues answer from here, with one book and its cover.
    CatalogueServer catalogues;
    catalogues.answer = [](const QUrl& url) -> CatalogueServer::Reply {
        if (url.path().startsWith(u"/ol/"_s))
            return {
                .body =
                    R"({"numFound":2,"docs":[{"title":"The Hobbit","author_name":["J. R. R. Tolkien"],
                "first_publish_year":1937,"publisher":["George Allen & Unwin"],"cover_i":1},
                {"title":"The Hobbit, or There and Back Again","author_name":["J. R. R. Tolkien"],
                "first_publish_year":1966,"publisher":["Ballantine"]}]})"};
        if (url.path().startsWith(u"/google/"_s))
            return {.body = R"({"kind":"books#volumes","totalItems":0})"};
        QImage cover(400, 600, QImage::Format_RGB32);
        cover.fill(QColor(0x2e, 0x5e, 0x3e));
        QPainter(&cover).fillRect(60, 80, 280, 120, QColor(0xd8, 0xc0, 0x7a));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        cover.save(&buffer, "PNG");
        return {.body = bytes, .type = "image/png"};
    };
    TestApp testApp(u"http://127.0.0.1:9/feed.xml"_s, {}, environment.home() + u"/.cache/peaks"_s);
    AppController& c = *testApp.controller;
    QMainWindow* window = c.window();
    window->resize(960, 760);
    QApplication::processEvents();
    bool ok = window->grab().save(out + u"/empty.png"_s);

    const QString dir = environment.sources() + u"/The Hobbit"_s;
    QDir().mkpath(dir);
    // A tagged rip: the file names say little, the tags say the rest.
    const QStringList titles{u"An Unexpected Party"_s, u"Roast Mutton"_s, u"A Short Rest"_s,
                             u"Over Hill and Under Hill"_s};
    QStringList paths;
    for (qsizetype i = 0; i < titles.size(); ++i) {
        paths << dir + u"/Track %1.mp3"_s.arg(i + 1);
        SourceRecipe recipe;
        recipe.options = {u"-b:a"_s, i % 2 ? u"64k"_s : u"128k"_s};
        recipe.tags = {{u"title"_s, titles.at(i)},
                     {u"album"_s, u"The Hobbit"_s},
                     {u"artist"_s, u"J. R. R. Tolkien"_s},
                     {u"composer"_s, u"Andy Serkis"_s},
                     {u"date"_s, u"1937"_s},
                     {u"track"_s, QString::number(i + 1)}};
        recipe.coverSize = i == 0 ? 600 : 0;
        makeSource(paths.constLast(), 2.0 + i, 300 + 100 * i, i % 2 ? 22050 : 44100,
                   i % 2 ? 1 : 2, recipe);
    }
    // One file that is not audio, and one cut short, to show how the list marks them.
    writeFile(dir + u"/04b Notes.mp3"_s, "plain text, not audio");
    paths << dir + u"/04b Notes.mp3"_s;
    paths << dir + u"/Track 5.mp3"_s;
    makeMp3(paths.constLast(), 20, 44100, 2, 64);
    writeFile(paths.constLast(), readFile(paths.constLast()).first(60000));
    c.applicationOpenFiles(paths);
    ok = ok && waitUntilListed(c);
    c.window()->findChild<QAction*>(u"actionSortByTrack"_s)->trigger();
    c.window()->findChild<QAction*>(u"actionTitlesFromTags"_s)->trigger();
    // The third file continues the second's chapter.
    c.table()->selectRow(2);
    c.window()->findChild<QAction*>(u"actionJoinChapter"_s)->trigger();
    c.table()->selectRow(1);
    QApplication::processEvents();
    ok = ok && window->grab().save(out + u"/main.png"_s);
    auto* editMenu = window->findChild<QMenu*>(u"editMenu"_s);
    editMenu->popup(window->mapToGlobal(QPoint(60, 30)));
    QApplication::processEvents();
    ok = ok && editMenu->grab().save(out + u"/edit-menu.png"_s);
    editMenu->hide();

    // The tag sheet as the files filled it.
    c.startTagging();
    ok = ok && save(control<QLineEdit>(c, u"title"_s)->window(), out + u"/tags.png"_s);
    c.stopTagging();
    c.joinAll();
    ok = ok && save(control<QLineEdit>(c, u"outputName"_s)->window(), out + u"/output.png"_s);
    // With Even Volume on, the sheet says what levelling costs.
    control<QComboBox>(c, u"outputEvenVolume"_s)->setCurrentIndex(2);
    ok = ok && save(control<QLineEdit>(c, u"outputName"_s)->window(), out + u"/output-even.png"_s);
    control<QComboBox>(c, u"outputEvenVolume"_s)->setCurrentIndex(0);
    c.closeJoinStart();
    QWidget* progress = control<QLabel>(c, u"joinProgressDescription"_s)->window();
    control<QLabel>(c, u"joinProgressDescription"_s)->setText(u"Joining file 2 of 4..."_s);
    control<QProgressBar>(c, u"joinProgressIndicator"_s)->setRange(0, 4);
    control<QProgressBar>(c, u"joinProgressIndicator"_s)->setValue(2);
    progress->show();
    ok = ok && save(progress, out + u"/progress.png"_s);
    progress->hide();

    // One long file, chaptered by its silences: one proposal taken, two waiting.
    c.clearAllItems();
    const QString whole = dir + u"/The Hobbit (whole book).flac"_s;
    runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s,
               u"aevalsrc='if(lt(mod(t,70),66),0.3*sin(2*PI*220*t)*sin(2*PI*3*t),0)':s=22050:d=280"_s,
               whole});
    c.applicationOpenFiles({whole});
    ok = ok && waitUntilListed(c);
    c.window()->findChild<QAction*>(u"actionFindChapters"_s)->trigger();
    auto* sheet = window->findChild<QDialog*>(u"silenceSheet"_s);
    ok = ok && save(sheet, out + u"/silence.png"_s);
    sheet->findChild<QDoubleSpinBox*>(u"chapterMinutes"_s)->setValue(0.5);
    sheet->findChild<QPushButton*>(u"silenceSearch"_s)->click();
    QElapsedTimer waited;
    waited.start();
    while (sheet->isVisible() && waited.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    auto* chapters = window->findChild<QTableView*>(u"chapterTable"_s);
    chapters->selectRow(1);
    c.window()->findChild<QAction*>(u"actionTakeProposal"_s)->trigger();
    chapters->selectRow(2);
    // The waveform's summary is made as it is first drawn.
    window->grab();
    waited.restart();
    while (waited.elapsed() < 4000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    ok = ok && window->grab().save(out + u"/chapters.png"_s);
    auto* strip = window->findChild<QWidget*>(u"waveform"_s);
    strip->resize(900, 130);
    ok = ok && strip->grab().save(out + u"/waveform.png"_s);
    QImage twice(strip->size() * 2, QImage::Format_ARGB32);
    twice.setDevicePixelRatio(2);
    strip->render(&twice);
    ok = ok && twice.save(out + u"/waveform-200.png"_s);
    QPalette dark;
    for (const auto& [role, color] : {std::pair{QPalette::Base, QColor(0x1e, 0x1e, 0x1e)},
                                      {QPalette::Window, QColor(0x2b, 0x2b, 0x2b)},
                                      {QPalette::Text, QColor(0xe8, 0xe8, 0xe8)},
                                      {QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8)},
                                      {QPalette::Highlight, QColor(0x3d, 0x8e, 0xe6)}})
        dark.setColor(role, color);
    strip->setPalette(dark);
    ok = ok && strip->grab().save(out + u"/waveform-dark.png"_s);
    strip->setPalette(QPalette());

    // A finished book opened again, and the sheet that shifts its chapters.
    const QString metadata = dir + u"/book.ffmetadata"_s;
    QByteArray text = ";FFMETADATA1\ntitle=The Hobbit\nartist=J. R. R. Tolkien\n";
    for (qsizetype i = 0; i < titles.size(); ++i)
        text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + QByteArray::number(i * 45000) +
                "\nEND=" + QByteArray::number(i * 45000 + 45000) + "\ntitle=" +
                titles.at(i).toUtf8() + "\n";
    writeFile(metadata, text);
    const QString book = dir + u"/The Hobbit.m4b"_s;
    runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=220:duration=180"_s, u"-i"_s,
               metadata, u"-map_metadata"_s, u"1"_s, u"-map_chapters"_s, u"1"_s, u"-c:a"_s,
               u"aac"_s, u"-b:a"_s, u"64k"_s, book});
    c.bookActions().openBookFile(book);
    ok = ok && waitUntilListed(c);
    chapters->selectRow(1);
    QApplication::processEvents();
    ok = ok && window->grab().save(out + u"/book.png"_s);
    c.window()->findChild<QAction*>(u"actionShiftChapters"_s)->trigger();
    ok = ok && save(window->findChild<QDialog*>(u"shiftSheet"_s), out + u"/shift.png"_s);
    window->findChild<QDialog*>(u"shiftSheet"_s)->reject();

    // Find Book Details, with a result chosen and its cover shown.
    c.window()->findChild<QAction*>(u"actionFindBookDetails"_s)->trigger();
    auto* details = window->findChild<QDialog*>(u"detailsSheet"_s);
    details->findChild<QLineEdit*>(u"detailsTitle"_s)->setText(u"The Hobbit"_s);
    details->findChild<QPushButton*>(u"detailsSearch"_s)->click();
    // Each request waits its turn at the one local server: the cover comes third.
    waited.restart();
    while (waited.elapsed() < 4000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    ok = ok && save(details, out + u"/details.png"_s);
    details->reject();

    // The update notice, as a check that found a newer version shows it.
    UpdateChecker checker(u"http://127.0.0.1:9/feed.xml"_s);
    checker.setAutoUpdate(false);
    c.updateNotice().autoUpdateDidFinish(&checker, std::nullopt);
    ok = ok && save(c.updateNotice().updateSheet(), out + u"/update.png"_s);
    c.updateNotice().closeUpdateWindow();
    return ok ? 0 : 1;
}
