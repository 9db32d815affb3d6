// The chapter list under the files: chapters typed, nudged, retitled, added
// at the preview's place and removed, every change undone and redone, and
// the book made with them; files keep their chapters wherever they go.
#include "ChapterFile.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QJsonArray>
#include <QMenu>
#include <QPointer>
#include <QTableView>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QTableView* chapterTable(const AppController& c)
{
    return control<QTableView>(c, u"chapterTable"_s);
}

// Without a screen reader, Qt keeps a table's accessible cells as first
// read; each reading here starts afresh, as a screen reader told of the
// change would.
QAccessibleTableInterface* readOut(QTableView* table)
{
    if (QAccessibleInterface* old = QAccessible::queryAccessibleInterface(table))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
    return QAccessible::queryAccessibleInterface(table)->tableInterface();
}

// Each chapter as a screen reader reads it: "title @ start".
QStringList chaptersRead(const AppController& c)
{
    QAccessibleTableInterface* table = readOut(chapterTable(c));
    QStringList read;
    for (int row = 0; row < table->rowCount(); ++row)
        read << table->cellAt(row, 0)->text(QAccessible::Name) + u" @ "_s +
                    table->cellAt(row, 1)->text(QAccessible::Name);
    return read;
}

QPoint centre(QTableView* table, int row, int column)
{
    return table->visualRect(table->model()->index(row, column)).center();
}

void clickRow(QTableView* table, int row)
{
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centre(table, row, 0));
}

// Double-clicks a cell, types over what it holds, and presses Return.
void typeInto(QTableView* table, int row, int column, const QString& text)
{
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centre(table, row, column));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centre(table, row, column));
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != table);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, text);
    const QPointer<QWidget> open = editor;
    QTest::keyClick(editor, Qt::Key_Return);
    // The editor commits and closes in queued steps, and the change is
    // asked for in one more; a busy machine may need several turns.
    QTRY_VERIFY(open.isNull());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

bool makeFlac(const QString& path, int seconds)
{
    return runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s,
                      u"sine=frequency=440:duration=%1"_s.arg(seconds), u"-ar"_s, u"44100"_s,
                      u"-ac"_s, u"1"_s, path});
}

// A window with the files listed, in the order given.
std::unique_ptr<TestApp> listedInOrder(const QStringList& paths)
{
    auto app = std::make_unique<TestApp>();
    AppController& c = *app->controller;
    activate(c);
    c.applicationOpenFiles(paths);
    if (!waitUntilListed(c))
        return nullptr;
    if (c.tableData().first()->pathColumn != paths.first())
        QTest::mouseClick(control<QPushButton>(c, u"sortButton"_s), Qt::LeftButton);
    return app;
}

} // namespace

class TestChapterList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chaptersEditedInTheListAreTheBooks_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("extension");
        QTest::newRow("an .m4b") << u"Bookmark"_s << u"m4b"_s;
        QTest::newRow("an .mp3") << u"MP3"_s << u"mp3"_s;
    }

    void chaptersEditedInTheListAreTheBooks()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, extension);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString first = environment.sources() + u"/01 Opening.flac"_s;
        const QString second = environment.sources() + u"/02 Closing.flac"_s;
        QVERIFY(makeFlac(first, 6));
        QVERIFY(makeFlac(second, 6));
        const auto listed = listedInOrder({first, second});
        QVERIFY(listed);
        TestApp& app = *listed;
        AppController& c = *app.controller;
        QTableView* table = chapterTable(c);
        QCOMPARE(chaptersRead(c),
                 (QStringList{u"01 Opening @ 0:00:00.000"_s, u"02 Closing @ 0:00:06.000"_s}));

        // A start typed as a time in the book moves the chapter into the
        // second file; the keys nudge it by a second and by tenths.
        typeInto(table, 1, 1, u"0:00:08.500"_s);
        QCOMPARE(chaptersRead(c).value(1), u"02 Closing @ 0:00:08.500"_s);
        QCOMPARE(readOut(table)->cellAt(1, 3)->text(QAccessible::Name),
                 u"02 Closing at 0:00:02.500"_s);
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Right, Qt::AltModifier);
        QTest::keyClick(table, Qt::Key_Left, Qt::AltModifier | Qt::ShiftModifier);
        QTest::keyClick(table, Qt::Key_Left, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(chaptersRead(c).value(1), u"02 Closing @ 0:00:09.300"_s);
        // The book's first chapter stays at its start.
        clickRow(table, 0);
        QTest::keyClick(table, Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(chaptersRead(c).value(0), u"01 Opening @ 0:00:00.000"_s);

        typeInto(table, 1, 0, u"Middle"_s);
        QCOMPARE(chaptersRead(c).value(1), u"Middle @ 0:00:09.300"_s);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(chaptersRead(c).value(1), u"02 Closing @ 0:00:09.300"_s);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(chaptersRead(c).value(1), u"Middle @ 0:00:09.300"_s);

        // A chapter at the preview's place, 2.5 s into the first file, is
        // numbered by its place in the book; Delete removes it, Undo brings it back.
        QTest::mouseClick(c.table()->viewport(), Qt::LeftButton, {},
                          c.table()->visualRect(c.table()->model()->index(0, 1)).center());
        QTRY_VERIFY(app.movie());
        app.movie()->advance(2500);
        QTest::keyClick(c.window(), Qt::Key_M, Qt::ControlModifier);
        const QStringList three{u"01 Opening @ 0:00:00.000"_s, u"Chapter 2 @ 0:00:02.500"_s,
                                u"Middle @ 0:00:09.300"_s};
        QCOMPARE(chaptersRead(c), three);
        clickRow(table, 1);
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(chaptersRead(c).size(), 2);
        QCOMPARE(c.tableData().size(), 2);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(chaptersRead(c), three);

        // Play starts the preview at the chapter, in its file.
        clickRow(table, 2);
        QTest::keyClick(table, Qt::Key_P, Qt::ControlModifier);
        QTRY_VERIFY(app.movie() && app.movie()->rate() != 0);
        QVERIFY(app.movieLog->seeks.contains(3300));

        nameBook(c, u"Edited"_s, encoding);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QVERIFY2(app.dialogs->allAlerts.isEmpty(),
                 qPrintable(app.dialogs->allAlerts.value(0).detail));
        const QJsonArray chapters =
            probe(environment.desktop() + u"/Edited."_s + extension)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        const QList<double> starts{0, 2.5, 9.3};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(chapters.at(i)[u"tags"_s][u"title"_s].toString(),
                     three.at(i).section(u" @ "_s, 0, 0));
            const double start = chapters.at(i)[u"start_time"_s].toString().toDouble();
            // Within one AAC frame, and for an MP3 book the first file's encoder delay.
            QVERIFY2(qAbs(start - starts.at(i)) < 0.024 + (extension == u"mp3"_s ? 0.03 : 0),
                     qPrintable(u"chapter %1 at %2"_s.arg(i + 1).arg(start)));
        }
    }

    // AAC files kept as they are: a chapter inside one lies where it lies in
    // an encoded book, its file's chapter start plus its time in the file.
    void aChapterInsideACopiedFileIsPlacedAsInAnEncodedOne_data()
    {
        QTest::addColumn<QString>("bitRate");
        QTest::newRow("copied") << u"Same"_s;
        QTest::newRow("encoded") << u"64k"_s;
    }

    void aChapterInsideACopiedFileIsPlacedAsInAnEncodedOne()
    {
        QFETCH(QString, bitRate);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        QStringList paths;
        for (const QString& name : {u"01 a.m4a"_s, u"02 b.m4a"_s}) {
            paths << environment.sources() + u"/"_s + name;
            QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=500:duration=3"_s,
                               u"-ar"_s, u"44100"_s, u"-ac"_s, u"1"_s, u"-c:a"_s, u"aac"_s,
                               paths.constLast()}));
        }
        const auto listed = listedInOrder(paths);
        QVERIFY(listed);
        TestApp& app = *listed;
        AppController& c = *app.controller;
        // A second chapter start in b, where its preview is 1.5 s in.
        QTest::mouseClick(c.table()->viewport(), Qt::LeftButton, {},
                          c.table()->visualRect(c.table()->model()->index(1, 1)).center());
        QTRY_VERIFY(app.movie());
        app.movie()->advance(1500);
        QTest::keyClick(c.table(), Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(chaptersRead(c).size(), 3);
        nameBook(c, u"Kept"_s, u"Bookmark"_s);
        chooseItem(control<QComboBox>(c, u"outputRate"_s), bitRate);
        chooseItem(control<QComboBox>(c, u"outputFrequency"_s), u"Same"_s);
        chooseItem(control<QComboBox>(c, u"outputChannels"_s), u"Mono"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QVERIFY2(app.dialogs->allAlerts.isEmpty(),
                 qPrintable(app.dialogs->allAlerts.value(0).detail));
        const QJsonArray chapters =
            probe(environment.desktop() + u"/Kept.m4b"_s)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        const auto start = [&](int i) {
            return chapters.at(i)[u"start_time"_s].toString().toDouble();
        };
        QVERIFY2(qAbs(start(1) - 3) < 0.05, qPrintable(QString::number(start(1))));
        QVERIFY2(qAbs(start(2) - start(1) - 1.5) < 0.0015, qPrintable(QString::number(start(2))));
    }

    // A chapter file's times are times in the book: its chapters replace the
    // list's, each in the file that plays then; one that cannot be this
    // book's is named in an alert, and nothing changes.
    void importedChaptersArePlacedAcrossTheFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("chapters");
        QTest::addColumn<QString>("alert");
        QTest::newRow("a CUE sheet")
            << u"book.cue"_s
            << QByteArray("FILE \"book.m4b\" MP4\n  TRACK 01 AUDIO\n"
                          "    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                          "  TRACK 02 AUDIO\n    TITLE \"Two\"\n"
                          "    INDEX 01 00:02:30\n  TRACK 03 AUDIO\n"
                          "    TITLE \"Three\"\n    INDEX 01 00:06:00\n")
            << QStringList{u"One @ 0:00:00.000"_s, u"Two @ 0:00:02.400"_s, u"Three @ 0:00:06.000"_s}
            << QString();
        QTest::newRow("a time past the end")
            << u"book.chapters.txt"_s << QByteArray("00:00:00.000 One\n00:00:09.000 Late\n")
            << QStringList{u"a @ 0:00:00.000"_s, u"b @ 0:00:04.000"_s}
            << u"Chapter 2, \u201CLate\u201D, starts at 00:00:09.000, past the book's end at "
               "00:00:08.000. The chapter list is as it was."_s;
    }

    void importedChaptersArePlacedAcrossTheFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, chapters);
        QFETCH(QString, alert);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QStringList paths{environment.sources() + u"/a.flac"_s,
                                environment.sources() + u"/b.flac"_s};
        for (const QString& path : paths)
            QVERIFY(makeFlac(path, 4));
        const QString chapterFile = environment.root() + u"/"_s + name;
        QVERIFY(writeFile(chapterFile, file));
        const auto listed = listedInOrder(paths);
        QVERIFY(listed);
        AppController& c = *listed->controller;
        QTest::keyClick(c.table(), Qt::Key_I, Qt::ControlModifier);
        QCOMPARE(listed->dialogs->openPanels.size(), 1u);
        listed->dialogs->openPanels.front().didEnd(1, {chapterFile});
        QCOMPARE(chaptersRead(c), chapters);
        QCOMPARE(listed->dialogs->allAlerts.value(0).detail, alert);
    }

    // The chapters are saved in the form the name ends in, as the book will
    // have them: read back, they are the list's.
    void exportedChaptersReadBackAsTheList_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::newRow("chapters.txt")
            << u"Book.chapters.txt"_s << int(ChapterFile::Kind::ChaptersTxt);
        QTest::newRow("ffmetadata") << u"Book.ffmetadata"_s << int(ChapterFile::Kind::FfMetadata);
        QTest::newRow("CUE sheet") << u"Book.cue"_s << int(ChapterFile::Kind::Cue);
    }

    void exportedChaptersReadBackAsTheList()
    {
        QFETCH(QString, name);
        QFETCH(int, kind);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QStringList paths{environment.sources() + u"/a.flac"_s,
                                environment.sources() + u"/b.flac"_s};
        for (const QString& path : paths)
            QVERIFY(makeFlac(path, 4));
        const auto listed = listedInOrder(paths);
        QVERIFY(listed);
        AppController& c = *listed->controller;
        typeInto(chapterTable(c), 1, 1, u"5.2"_s);
        const QString out = environment.root() + u"/"_s + name;
        listed->dialogs->savePanelAnswers.push_back(out);
        QTest::keyClick(c.table(), Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(listed->dialogs->savePanels.value(0).fileName, u"sources.chapters.txt"_s);
        const ChapterMarks read =
            ChapterFile::read(readFile(out), static_cast<ChapterFile::Kind>(kind));
        QStringList readBack;
        for (const ChapterMark& chapter : read)
            readBack << u"%1 @ %2"_s.arg(chapter.title).arg(chapter.start, 0, 'f', 3);
        QCOMPARE(readBack, (QStringList{u"a @ 0.000"_s, u"b @ 5.200"_s}));
    }

    // Chapters belong to their files: a file moved up takes its chapters
    // along, a removed one takes them away, and Undo puts both back.
    void filesKeepTheirChaptersWhereverTheyGo()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        QStringList paths;
        for (const QString& name : {u"a"_s, u"b"_s, u"c"_s}) {
            paths << environment.sources() + u"/"_s + name + u".flac"_s;
            QVERIFY(makeFlac(paths.constLast(), 4));
        }
        const auto listed = listedInOrder(paths);
        QVERIFY(listed);
        TestApp& app = *listed;
        AppController& c = *app.controller;
        QTableView* table = chapterTable(c);
        typeInto(table, 1, 1, u"5.5"_s);
        typeInto(table, 1, 0, u"Inside b"_s);
        // b's chapter now starts inside it, so b continues a's chapter until then.
        QCOMPARE(chaptersRead(c), (QStringList{u"a @ 0:00:00.000"_s, u"Inside b @ 0:00:05.500"_s,
                                               u"c @ 0:00:08.000"_s}));

        c.table()->setFocus();
        c.table()->selectRow(1);
        QTest::keyClick(c.table(), Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(
            chaptersRead(c).mid(0, 3),
            (QStringList{u"b @ 0:00:00.000"_s, u"Inside b @ 0:00:01.500"_s, u"a @ 0:00:04.000"_s}));
        c.table()->selectRow(0);
        QTest::keyClick(c.table(), Qt::Key_Delete);
        QCOMPARE(chaptersRead(c), (QStringList{u"a @ 0:00:00.000"_s, u"c @ 0:00:04.000"_s}));
        QTest::keyClick(c.table(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(c.table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(chaptersRead(c).value(1), u"Inside b @ 0:00:05.500"_s);
        QCOMPARE(c.tableData().size(), 3);

        // One Chapter per File drops it, Chapters from Files brings back the files' own.
        const auto trigger = [&c](const QString& text) {
            QMenu* menu = nullptr;
            for (QMenu* each : c.window()->findChildren<QMenu*>()) {
                if (each->title() == u"&Chapters"_s)
                    menu = each;
            }
            QVERIFY(menu);
            for (QAction* action : menu->actions()) {
                if (action->text().remove(u'&') == text)
                    action->trigger();
            }
        };
        trigger(u"One Chapter per File"_s);
        QCOMPARE(chaptersRead(c),
                 (QStringList{u"a @ 0:00:00.000"_s, u"b @ 0:00:04.000"_s, u"c @ 0:00:08.000"_s}));
        QTest::keyClick(c.table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(chaptersRead(c).size(), 3);
        QCOMPARE(chaptersRead(c).value(1), u"Inside b @ 0:00:05.500"_s);
    }
};

QTEST_MAIN(TestChapterList)
#include "tst_chapterlist.moc"
