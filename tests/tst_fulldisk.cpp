// Full disks, made for real: the test runs itself again in a mount namespace
// of its own, where a few megabytes of memory are the temporary folder's
// disk and another few the Desktop's.
#include "TestSupport.h"
#include "ToolProcess.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const char* const kDisks = "FABLEWICK_SMALL_DISKS";

// Where the small disks are mounted; empty when they could not be made.
QString disks()
{
    return qEnvironmentVariable(kDisks);
}

// Fills a disk until nothing more goes on it, in a file of its own.
void fill(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray block(64 << 10, 'x');
    while (file.write(block) > 0 && file.flush()) {
    }
}

struct SmallDisks
{
    SmallDisks()
    {
        // The book's working files on the small temporary disk, the book on
        // the small Desktop, the sources on the real disk.
        qputenv("TMPDIR", QFile::encodeName(tmp));
        QDir().rmdir(environment.desktop());
        QFile::link(desktop, environment.desktop());
        for (int i = 0; i < 4; ++i) {
            sources << environment.sources() + u"/%1 part.mp3"_s.arg(i + 1);
            makeMp3(sources.constLast(), 25, 44100, 1, 128); // 400 kB each
        }
        app.controller->applicationOpenFiles(sources);
    }
    ~SmallDisks()
    {
        for (const QString& folder : {tmp, desktop}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
    }
    void make(const QString& encoding)
    {
        AppController& c = *app.controller;
        QVERIFY(waitUntilListed(c));
        c.joinAll();
        control<QLineEdit>(c, u"outputName"_s)->setText(u"Book"_s);
        chooseEncoding(c, encoding);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
    }
    [[nodiscard]] AlertSpec lastAlert() const
    {
        return app.dialogs->allAlerts.isEmpty() ? AlertSpec{} : app.dialogs->allAlerts.constLast();
    }

    const QString tmp = disks() + u"/tmp"_s;
    const QString desktop = disks() + u"/desktop"_s;
    TestEnvironment environment;
    TestApp app;
    QStringList sources;
};

} // namespace

class TestFullDisk : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (disks().isEmpty())
            QSKIP("no mount namespace could be made here for a small disk (unshare)");
    }

    // Four files of 400 kB on a disk of 4.2 MB: an MP3 book, joined and then
    // tagged, fits; an AAC book, which needs room for its own files too, does not.
    void aBookTheDiskCannotHoldIsRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<bool>("refused");
        QTest::newRow("MP3") << u"MP3"_s << false;
        QTest::newRow("AAC") << u"Bookmark"_s << true;
    }

    void aBookTheDiskCannotHoldIsRefusedAtOnce()
    {
        QFETCH(QString, encoding);
        QFETCH(bool, refused);
        SmallDisks disk;
        disk.make(encoding);
        const QString folder = disk.tmp + u"/Fablewick"_s;
        if (!refused) {
            QVERIFY2(disk.app.dialogs->allAlerts.isEmpty(),
                     qPrintable(disk.lastAlert().message + u' ' + disk.lastAlert().detail));
            QVERIFY(QFile::exists(disk.desktop + u"/Book.mp3"_s));
            return;
        }
        QVERIFY2(disk.lastAlert().detail.startsWith(
                     u"Before the files were joined: The disk that holds %1 is full: 4.3 MB "
                     u"free, and this book needs about 4.8 MB. Free some space on it, and make "
                     u"the audiobook again."_s.arg(folder)),
                 qPrintable(disk.lastAlert().detail));
        QVERIFY(!QFile::exists(folder + u"/mp3.mp3"_s));
    }

    // The disk fills up while cat joins the files.
    void aDiskThatFillsUpDuringTheJoinIsNamed()
    {
        SmallDisks disk;
        AppController& c = *disk.app.controller;
        QTimer filler;
        connect(&filler, &QTimer::timeout, this, [&] {
            if (c.state() == RunState::Joining) {
                filler.stop();
                fill(disk.tmp + u"/filler"_s);
            }
        });
        filler.start(0);
        disk.make(u"MP3"_s);
        const QString detail = disk.lastAlert().detail;
        QVERIFY2(detail.startsWith(u"While joining the files: The disk that holds %1/Fablewick is "
                                   u"full: 0 bytes free, and this book needs about 3.2 MB."_s.arg(
                                       disk.tmp)),
                 qPrintable(detail));
    }

    // The Desktop on another disk, without room for the book: the book is kept.
    void aDesktopWithoutRoomKeepsTheBook()
    {
        SmallDisks disk;
        const QString filler = disk.desktop + u"/filler"_s;
        fill(filler);
        QFile::resize(filler, QFileInfo(filler).size() - (1 << 20));
        disk.make(u"MP3"_s);
        const QString kept = disk.tmp + u"/Fablewick/mp3-tagged.mp3"_s;
        QCOMPARE(bookFrames(kept), sourceFrames(disk.sources));
        const AlertSpec alert = disk.lastAlert();
        QCOMPARE(alert.message, u"Unable to create file Book.mp3 on Desktop!"_s);
        QVERIFY2(alert.detail.startsWith(
                     u"The disk that holds %1 is full: 1.0 MB free, and this book needs about "
                     u"1.6 MB. The audiobook is kept at %2."_s.arg(disk.environment.desktop(),
                                                                   kept)),
                 qPrintable(alert.detail));
        QCOMPARE(QDir(disk.desktop).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"filler"_s});
    }

    // A finished book on a disk without room for its new copy is not touched.
    void aBookWithoutRoomForItsCopyIsRefusedUpFront()
    {
        SmallDisks disk;
        const QString book = disk.desktop + u"/Book.mp3"_s;
        QVERIFY(QFile::copy(disk.sources.first(), book));
        fill(disk.desktop + u"/filler"_s);
        const QByteArray before = readFile(book);
        AppController& c = *disk.app.controller;
        QVERIFY(waitUntilListed(c));
        c.bookActions().openBookFile(book);
        QVERIFY(waitUntilListed(c));
        activate(c);
        QTest::keyClick(c.window(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(disk.lastAlert().title, u"Book Not Saved"_s);
        QVERIFY2(disk.lastAlert().detail.startsWith(u"The disk has 0 bytes free, and the new copy "
                                                    "that is written before it takes the book's "
                                                    "place needs about 1.4 MB."_s),
                 qPrintable(disk.lastAlert().detail));
        QCOMPARE(readFile(book), before);
        QCOMPARE(QDir(disk.desktop).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"Book.mp3"_s, u"filler"_s}));
    }

    // A tool that fails for want of space can still say why.
    void aToolsWordsSurviveAFullDisk()
    {
        SmallDisks disk;
        fill(disk.tmp + u"/filler"_s);
        ToolProcess tool(u"sh -c \"echo 'it went wrong' >&2; exit 1\""_s);
        tool.launch(ToolOutput::Inherited);
        tool.waitUntilExit();
        QCOMPARE(QString::fromStdString(tool.errorTail()), u"it went wrong"_s);
    }
};

// Runs the tests in a namespace with the small disks mounted, made afresh;
// where no namespace can be made, they say so and skip.
int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet(kDisks)) {
        QTemporaryDir root;
        QDir().mkpath(root.path() + u"/tmp"_s);
        QDir().mkpath(root.path() + u"/desktop"_s);
        QStringList arguments{u"--user"_s, u"--map-root-user"_s, u"--mount"_s, u"/bin/sh"_s,
                              u"-c"_s,
                              u"mount -t tmpfs -o size=4200k fablewick \"$1/tmp\" && "
                              u"mount -t tmpfs -o size=3m fablewick \"$1/desktop\" && "
                              u"shift && exec \"$@\""_s,
                              u"sh"_s, root.path(), QFile::symLinkTarget(u"/proc/self/exe"_s)};
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QProcess inner;
        inner.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kDisks), root.path());
        inner.setProcessEnvironment(environment);
        inner.start(u"unshare"_s, arguments);
        inner.waitForFinished(-1);
        if (QFile::exists(root.path() + u"/ran"_s))
            return inner.exitStatus() == QProcess::NormalExit ? inner.exitCode() : 1;
        qputenv(kDisks, "");
    } else {
        QFile ran(disks() + u"/ran"_s);
        if (!ran.open(QIODevice::WriteOnly))
            return 1;
    }
    QApplication app(argc, argv);
    TestFullDisk test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fulldisk.moc"
