#include "ArtworkWell.h"
#include "ShellQuote.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kCriticalTitle = u"Fablewick encountered a critical error"_s;

// Every file under a folder with its bytes, and every link with its target.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        if (info.isSymLink())
            files.insert(path, "link:" + QFile::encodeName(info.symLinkTarget()));
        else if (info.isFile())
            files.insert(path, readFile(path));
        else
            files.insert(path, "folder");
    }
    return files;
}

struct Run
{
    Run()
    {
        sources = {environment.sources() + u"/01 Intro.mp3"_s,
                   environment.sources() + u"/02 it's \"$HOME\".mp3"_s,
                   environment.sources() + u"/03 Ünï `x`.mp3"_s};
        for (const QString& path : sources)
            makeMp3(path, 2, 22050, 1, 32);
        app.controller->applicationOpenFiles(sources);
        for (int i = 0; i < 2 && app.controller->tableData().at(0)->pathColumn != sources[0]; ++i)
            app.controller->autoSort();
    }

    AppController& c() { return *app.controller; }
    void make(const QString& name, const QString& encoding = u"MP3"_s)
    {
        c().joinAll();
        control<QLineEdit>(c(), u"outputName"_s)->setText(name);
        chooseEncoding(c(), encoding);
        c().startJoin();
        QVERIFY(waitUntilIdle(c()));
    }
    QString onDesktop(const QString& name) const { return environment.desktop() + u'/' + name; }

    TestEnvironment environment;
    TestApp app;
    QStringList sources;
};

} // namespace

class TestProduction : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void makesAnMp3AudiobookOnTheDesktop()
    {
        Run run;
        AppController& c = run.c();
        QVERIFY(!QFile::exists(run.environment.desktop()));
        control<QLineEdit>(c, u"title"_s)->setText(u"The Tale"_s);
        c.joinAll();
        QVERIFY(control<QLineEdit>(c, u"outputName"_s)->window()->isVisible());
        QCOMPARE(control<QLineEdit>(c, u"outputName"_s)->text(), u"The Tale"_s);
        chooseEncoding(c, u"MP3"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));

        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(bookFrames(run.onDesktop(u"The Tale.mp3"_s)), sourceFrames(run.sources));
        // Players take the book's length from its first frame: the whole
        // book's (mediainfo reads it; the sources' names are not ASCII).
        double parts = 0;
        for (const QString& source : run.sources)
            parts += probe(source)[u"format"_s][u"duration"_s].toString().toDouble() * 1000;
        const double book = toolOutput(u"mediainfo"_s, {u"--Inform=Audio;%Duration%"_s,
                                                        run.onDesktop(u"The Tale.mp3"_s)})
                                .value_or("0")
                                .trimmed()
                                .toDouble();
        QVERIFY2(qAbs(book - parts) < 100, qPrintable(u"%1 ms of %2"_s.arg(book).arg(parts)));
        QCOMPARE(*run.app.soundsPlayed, 1);
        QVERIFY(!control<QLabel>(c, u"joinProgressDescription"_s)->window()->isVisible());
        // The book's own tag, with its chapters, was the last step.
        QCOMPARE(control<QLabel>(c, u"joinProgressDescription"_s)->text(),
                 u"Writing the tags and chapters.."_s);
        QVERIFY(run.app.dialogs->allAlerts.isEmpty());
        // The joiner wrote the playing times into the list's own records.
        QCOMPARE(c.tableData().at(0)->secs, u"2"_s);

        // A second run works, and reuses the emptied temporary folder.
        const QString temp = *c.tempFolderPath();
        QVERIFY(writeFile(temp + u"/leftover"_s, "old"));
        run.make(u"Second"_s);
        QCOMPARE(bookFrames(run.onDesktop(u"Second.mp3"_s)), sourceFrames(run.sources));
        QCOMPARE(*c.tempFolderPath(), temp);
        QVERIFY(!QFile::exists(temp + u"/leftover"_s));
        QVERIFY(QFileInfo(temp + u"/Originals/2.mp3"_s).isSymLink());
    }

    void theOutputSheetNeedsAListAndAName()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        QWidget* sheet = control<QLineEdit>(c, u"outputName"_s)->window();
        c.joinAll();
        QVERIFY(!sheet->isVisible());

        c.createItem(u"/x/a.mp3"_s);
        control<QLineEdit>(c, u"outputName"_s)->setText(u"Mine"_s);
        control<QLineEdit>(c, u"title"_s)->setText(u"Title"_s);
        c.joinAll();
        QVERIFY(sheet->isVisible());
        QCOMPARE(control<QLineEdit>(c, u"outputName"_s)->text(), u"Mine"_s);
        c.closeJoinStart();
        QVERIFY(!sheet->isVisible());

        control<QLineEdit>(c, u"outputName"_s)->clear();
        control<QLineEdit>(c, u"title"_s)->clear();
        c.joinAll();
        c.startJoin();
        QVERIFY(sheet->isVisible());
        QCOMPARE(c.state(), RunState::Idle);
        c.closeJoinStart();

        c.startTagging();
        QVERIFY(control<QLineEdit>(c, u"title"_s)->window()->isVisible());
        control<QLineEdit>(c, u"artist"_s)->setText(u"Kept"_s);
        c.stopTagging();
        QVERIFY(!control<QLineEdit>(c, u"title"_s)->window()->isVisible());
        QCOMPARE(control<QLineEdit>(c, u"artist"_s)->text(), u"Kept"_s);
    }

    void stopDuringTheJoinDeliversNothing()
    {
        Run run;
        AppController& c = run.c();
        const QString fakes = run.environment.root() + u"/bin"_s;
        QVERIFY(QDir().mkpath(fakes));
        makeFakeTool(fakes, u"cat"_s, u"sleep 30"_s);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(fakes) + ':' + oldPath);
        RunState stateDuringJoin = RunState::Idle;
        bool sheetShown = false;
        QString spokenProgress;
        QTimer::singleShot(400, [&] {
            stateDuringJoin = c.state();
            spokenProgress =
                spokenName(c.window()->findChild<QLabel*>(u"joinProgressDescription"_s));
            sheetShown = control<QPushButton>(c, u"stopConvertingButton"_s)->isVisible();
            c.startMaking(); // a second run is not started while one is under way
            QCOMPARE(c.state(), RunState::Joining);
            c.stopJoin();
            // Its cat has ended when the stop returns.
            QCOMPARE(c.state(), RunState::Idle);
        });
        QElapsedTimer clock;
        clock.start();
        run.make(u"Stopped"_s);
        qputenv("PATH", oldPath);
        QVERIFY(clock.elapsed() < 20000);
        QCOMPARE(stateDuringJoin, RunState::Joining);
        QVERIFY(sheetShown);
        QCOMPARE(spokenProgress, u"Joining file 1 of 3..."_s);
        QCOMPARE(c.state(), RunState::Idle);
        QVERIFY(!control<QLabel>(c, u"joinProgressDescription"_s)->window()->isVisible());
        QVERIFY(!QFile::exists(run.onDesktop(u"Stopped.mp3"_s)));
        QCOMPARE(*run.app.soundsPlayed, 0);
        QVERIFY(run.app.dialogs->allAlerts.isEmpty());
        QCOMPARE(control<QLabel>(c, u"joinProgressDescription"_s)->text(),
                 u"Joining file 1 of 3..."_s);

        run.make(u"After"_s);
        QCOMPARE(bookFrames(run.onDesktop(u"After.mp3"_s)), sourceFrames(run.sources));
        QCOMPARE(c.state(), RunState::Idle);
        c.stopJoin(); // idle: nothing to stop
        QCOMPARE(c.state(), RunState::Idle);
    }

    void aFailedJoinShowsTheCriticalError()
    {
        Run run;
        AppController& c = run.c();
        const QByteArray middle = readFile(run.sources[1]);
        QVERIFY(QFile::remove(run.sources[1]));
        run.make(u"Broken"_s);
        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(run.app.dialogs->allAlerts.size(), 1);
        const AlertSpec alert = run.app.dialogs->allAlerts.at(0);
        QCOMPARE(alert.title, kCriticalTitle);
        QCOMPARE(alert.message, u"A critical error has occurred during the conversion process. "
                                u"The creation of this audiobook has been aborted."_s);
        QCOMPARE(alert.defaultButton, u"Ok"_s);
        QVERIFY(alert.alternateButton.isEmpty() && alert.otherButton.isEmpty());
        QCOMPARE(run.app.dialogs->lastWindow, c.window());
        QVERIFY(!control<QLabel>(c, u"joinProgressDescription"_s)->window()->isVisible());
        QVERIFY(!QFile::exists(run.onDesktop(u"Broken.mp3"_s)));
        run.app.dialogs->answerAlert(1);

        QVERIFY(writeFile(run.sources[1], middle));
        run.make(u"Mended"_s);
        QCOMPARE(bookFrames(run.onDesktop(u"Mended.mp3"_s)), sourceFrames(run.sources));
    }

    // Files that hold no audio, or are gone, stop the run before the join, and
    // the list shows which they are.
    void filesThatCannotBeJoinedStopTheRunFirst()
    {
        Run run;
        AppController& c = run.c();
        const QString corrupt = run.environment.sources() + u"/01b corrupt.mp3"_s;
        QVERIFY(writeFile(corrupt, QByteArray(3000, 'x')));
        c.applicationOpenFiles({corrupt});
        QVERIFY(waitUntilListed(c));
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.table());
        auto spokenProblem = [&](const QString& path) {
            for (int row = 0; row < c.tableData().size(); ++row) {
                if (c.tableData().at(row)->pathColumn == path)
                    return table->tableInterface()->cellAt(row, 1)->text(QAccessible::Description);
            }
            return QString();
        };
        QCOMPARE(spokenProblem(corrupt), u"This file cannot be joined: it is not an MP3 file."_s);
        QVERIFY(spokenProblem(run.sources[2]).isEmpty());
        QVERIFY(QFile::remove(run.sources[2]));
        const QString stereo = run.environment.sources() + u"/04 stereo.mp3"_s;
        QVERIFY(makeMp3(stereo, 1, 44100, 2, 64));
        c.applicationOpenFiles({stereo});
        QVERIFY(QDir().mkpath(run.environment.tmp() + u"/Fablewick"_s));
        QVERIFY(writeFile(run.environment.tmp() + u"/Fablewick/m4b-tagged.m4b"_s, "last book"));

        run.make(u"Holes"_s);
        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(run.app.dialogs->allAlerts.size(), 1);
        const AlertSpec alert = run.app.dialogs->allAlerts.at(0);
        QCOMPARE(alert.title, kCriticalTitle);
        QVERIFY2(alert.detail.contains(u"“01b corrupt.mp3” is not an MP3 file"_s) &&
                     alert.detail.contains(u"“03 Ünï `x`.mp3” no longer exists"_s) &&
                     alert.detail.contains(u"“04 stereo.mp3” is 44100 Hz stereo, unlike the first "
                                           u"file, “01 Intro.mp3” (22050 Hz mono)"_s),
                 qPrintable(alert.detail));
        QVERIFY(spokenProblem(run.sources[2]).contains(u"no longer exists"_s));
        QVERIFY(!QFile::exists(run.onDesktop(u"Holes.mp3"_s)));
        // Nothing was touched: the last run's book is still in the temporary folder.
        QCOMPARE(readFile(run.environment.tmp() + u"/Fablewick/m4b-tagged.m4b"_s),
                 QByteArray("last book"));
    }

    void aTemporaryFolderThatIsNotOursIsNeverEmptied()
    {
        Run run;
        const QString victim = run.environment.root() + u"/victim"_s;
        QVERIFY(QDir().mkpath(victim));
        QVERIFY(writeFile(victim + u"/thesis.txt"_s, "years of work"));
        QVERIFY(QFile::link(victim, run.environment.tmp() + u"/Fablewick"_s));
        run.make(u"Book"_s);
        QCOMPARE(run.c().state(), RunState::Idle);
        QCOMPARE(run.app.dialogs->allAlerts.value(0).title, kCriticalTitle);
        QVERIFY(run.app.dialogs->allAlerts.value(0).detail.contains(run.environment.tmp() +
                                                                    u"/Fablewick is a link"_s));
        QCOMPARE(readFile(victim + u"/thesis.txt"_s), QByteArray("years of work"));
        QVERIFY(!QFile::exists(run.onDesktop(u"Book.mp3"_s)));
    }

    void aTakenNameAsksWhatToDo()
    {
        Run run;
        AppController& c = run.c();
        run.make(u"Book"_s);
        QCOMPARE(bookFrames(run.onDesktop(u"Book.mp3"_s)), sourceFrames(run.sources));
        c.deleteRow(); // nothing selected: the list stays
        c.table()->selectRowIndexes({0}, false);
        c.deleteRow();
        const QByteArray shorter = sourceFrames(run.sources.mid(1));

        // Cancel: the Desktop is untouched, the file stays in the temporary folder.
        run.make(u"Book"_s);
        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(run.app.dialogs->alerts.size(), 1u);
        const AlertSpec conflict = run.app.dialogs->alerts.front().shown;
        QCOMPARE(conflict.title, u"Book.mp3 already exists. Do you want to replace it?"_s);
        QCOMPARE(conflict.message,
                 u"A file or folder with the same name already exists on the Desktop. "
                 u"Replacing it will overwrite its current contents."_s);
        QCOMPARE(conflict.defaultButton, u"Replace"_s);
        QCOMPARE(conflict.alternateButton, u"Rename"_s);
        QCOMPARE(conflict.otherButton, u"Cancel"_s);
        const auto desktopBefore = snapshot(run.environment.desktop());
        run.app.dialogs->answerAlert(-1);
        QCOMPARE(snapshot(run.environment.desktop()), desktopBefore);
        QCOMPARE(bookFrames(*c.tempFolderPath() + u"/mp3-tagged.mp3"_s), shorter);
        QCOMPARE(*run.app.soundsPlayed, 1);

        // Replace.
        run.make(u"Book"_s);
        run.app.dialogs->answerAlert(1);
        QCOMPARE(bookFrames(run.onDesktop(u"Book.mp3"_s)), shorter);
        QCOMPARE(*run.app.soundsPlayed, 2);

        // Replace a folder of that name.
        QVERIFY(QDir().mkpath(run.onDesktop(u"Folder.mp3/inside"_s)));
        run.make(u"Folder"_s);
        run.app.dialogs->answerAlert(1);
        QCOMPARE(bookFrames(run.onDesktop(u"Folder.mp3"_s)), shorter);

        // Rename, cancelled: nothing moves.
        run.make(u"Book"_s);
        run.app.dialogs->answerAlert(0);
        QCOMPARE(run.app.dialogs->savePanels.size(), 1);
        const SavePanelSpec panel = run.app.dialogs->savePanels.at(0);
        QCOMPARE(panel.directory, run.environment.desktop());
        QCOMPARE(panel.allowedFileType, u"mp3"_s);
        QVERIFY(panel.canCreateDirectories);
        QVERIFY(QFile::exists(*c.tempFolderPath() + u"/mp3.mp3"_s));

        // Rename to a name that is taken as well: that item goes.
        QVERIFY(writeFile(run.onDesktop(u"Other.mp3"_s), "old"));
        run.make(u"Book"_s);
        run.app.dialogs->savePanelAnswers.push_back(run.onDesktop(u"Other.mp3"_s));
        const int sounds = *run.app.soundsPlayed;
        run.app.dialogs->answerAlert(0);
        QCOMPARE(bookFrames(run.onDesktop(u"Other.mp3"_s)), shorter);
        QCOMPARE(*run.app.soundsPlayed, sounds + 1);
        QVERIFY(!QFile::exists(*c.tempFolderPath() + u"/mp3-tagged.mp3"_s));

        // A Desktop that cannot be written is reported, not taken for success.
        run.make(u"Book"_s);
        run.app.dialogs->savePanelAnswers.push_back(run.environment.root() + u"/no/such/x.mp3"_s);
        run.app.dialogs->answerAlert(0);
        QCOMPARE(run.app.dialogs->allAlerts.constLast().title, u"File Creation Error"_s);
        QCOMPARE(*run.app.soundsPlayed, sounds + 1);
    }

    // Replace where the old item resists removal: the book is never lost.
    void aReplaceThatFailsKeepsTheBook_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("a folder holding a file that cannot be deleted") << u"folder"_s << true;
        QTest::newRow("a file that may not be deleted") << u"file"_s << false;
        QTest::newRow("a busy mount point") << u"mount"_s << false;
    }

    void aReplaceThatFailsKeepsTheBook()
    {
        QFETCH(QString, obstacle);
        QFETCH(bool, delivered);
        Run run;
        const QString book = run.onDesktop(u"Book.mp3"_s);
        const bool root = ::geteuid() == 0;
        auto sh = [](const QString& command) {
            return QProcess::execute(u"/bin/sh"_s,
                                     {u"-c"_s, u"{ "_s + command + u"; } 2>/dev/null"_s}) == 0;
        };
        const QString desktop = ShellQuote::single(run.environment.desktop());
        // Whatever the test did to the Desktop is undone, so that it can be removed.
        const auto undo = qScopeGuard(
            [&] { sh(u"umount %1/Book.mp3; chattr -R -i %1; chmod -R u+w %1"_s.arg(desktop)); });
        QVERIFY(QDir().mkpath(run.environment.desktop()));
        if (obstacle == u"folder"_s) {
            QVERIFY(QDir().mkpath(book + u"/locked"_s));
            QVERIFY(writeFile(book + u"/locked/old.txt"_s, "old"));
            if (!sh(root ? u"chattr +i %1/Book.mp3/locked/old.txt"_s.arg(desktop)
                         : u"chmod a-w %1/Book.mp3/locked"_s.arg(desktop)))
                QSKIP("this file system cannot protect a file from deletion");
        } else if (obstacle == u"file"_s) {
            QVERIFY(writeFile(book, "old"));
            if (!root || !sh(u"chattr +i %1/Book.mp3"_s.arg(desktop)))
                QSKIP("protecting a file from its owner needs root and chattr");
        } else {
            QVERIFY(QDir().mkpath(book));
            if (!root || !sh(u"mount -t tmpfs fablewick-test %1/Book.mp3"_s.arg(desktop)))
                QSKIP("mounting a file system needs root");
            QVERIFY(writeFile(book + u"/on the other disk"_s, "keep"));
        }
        run.make(u"Book"_s);
        run.app.dialogs->answerAlert(1);

        const QString temporary = *run.c().tempFolderPath() + u"/mp3-tagged.mp3"_s;
        if (delivered) {
            QCOMPARE(bookFrames(book), sourceFrames(run.sources));
            QVERIFY(!QFile::exists(temporary));
            QCOMPARE(run.app.dialogs->allAlerts.size(), 1); // the question only
            QCOMPARE(*run.app.soundsPlayed, 1);
            return;
        }
        QCOMPARE(bookFrames(temporary), sourceFrames(run.sources));
        QCOMPARE(*run.app.soundsPlayed, 0);
        const AlertSpec alert = run.app.dialogs->allAlerts.constLast();
        QCOMPARE(alert.title, u"File Creation Error"_s);
        QCOMPARE(alert.message, u"Unable to create file Book.mp3 on Desktop!"_s);
        QVERIFY2(alert.detail.contains(u"kept at "_s + temporary), qPrintable(alert.detail));
        if (obstacle == u"mount"_s)
            QCOMPARE(readFile(book + u"/on the other disk"_s), QByteArray("keep"));
        else
            QCOMPARE(readFile(book), QByteArray("old"));
    }

    // The reason and what follows it are sentences of their own.
    void aDesktopThatIsAFileKeepsTheBook()
    {
        Run run;
        QVERIFY(writeFile(run.environment.desktop(), "not a folder"));
        run.make(u"Book"_s);
        const QString temporary = *run.c().tempFolderPath() + u"/mp3-tagged.mp3"_s;
        QCOMPARE(bookFrames(temporary), sourceFrames(run.sources));
        const AlertSpec alert = run.app.dialogs->allAlerts.constLast();
        QCOMPARE(alert.message, u"Unable to create file Book.mp3 on Desktop!"_s);
        QVERIFY2(alert.detail.startsWith(u"Not a directory. The audiobook is kept at "_s + temporary +
                                         u". "_s),
                 qPrintable(alert.detail));
    }

    void nothingToMoveIsReported()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.createItem(u"/music/track.txt"_s); // listed, but not audio to join
        c.joinAll();
        control<QLineEdit>(c, u"outputName"_s)->setText(u"Empty"_s);
        chooseEncoding(c, u"MP3"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(app.dialogs->allAlerts.size(), 1);
        QCOMPARE(app.dialogs->allAlerts.at(0).title, u"File Creation Error"_s);
        QCOMPARE(app.dialogs->allAlerts.at(0).message,
                 u"Unable to create file Empty.mp3 on Desktop!"_s);
        QCOMPARE(app.dialogs->allAlerts.at(0).defaultButton, u"Ok"_s);
        QCOMPARE(*app.soundsPlayed, 0);
    }

    void aSlashInTheNameStaysOnTheDesktop()
    {
        Run run;
        run.make(u"../Part 1/2"_s);
        QCOMPARE(bookFrames(run.onDesktop(u"..-Part 1-2.mp3"_s)), sourceFrames(run.sources));
    }

    // Runs, stops and failures never touch a source, wherever it lies.
    void sourcesAreNeverChanged()
    {
        Run run;
        AppController& c = run.c();
        const QString real = run.environment.sources() + u"/real"_s;
        const QString odd = run.environment.sources() + u"/mp3 stuff"_s;
        QVERIFY(QDir().mkpath(real));
        QVERIFY(QDir().mkpath(odd));
        QVERIFY(makeMp3(real + u"/a.mp3"_s, 1, 22050, 1, 32));
        QVERIFY(QFile::link(real + u"/a.mp3"_s, run.environment.sources() + u"/link.mp3"_s));
        QVERIFY(makeMp3(odd + u"/b.wav"_s, 1, 22050, 1, 32));
        c.createItem(run.environment.sources() + u"/link.mp3"_s);
        c.createItem(odd + u"/b.wav"_s);
        const auto before = snapshot(run.environment.sources());

        run.make(u"All"_s);
        QVERIFY(QFile::exists(run.onDesktop(u"All.mp3"_s)));
        run.make(u"All"_s);
        run.app.dialogs->answerAlert(1);
        QTimer::singleShot(0, [&] { c.stopJoin(); });
        run.make(u"Stopped"_s);
        c.createItem(run.environment.sources() + u"/vanished.mp3"_s);
        run.make(u"Failed"_s);
        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(snapshot(run.environment.sources()), before);
    }
};

QTEST_MAIN(TestProduction)
#include "tst_production.moc"
