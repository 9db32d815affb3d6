// fablewick-make, run as a user runs it: the same book as the window's,
// its exit statuses and words, its plan, a shelf, and Ctrl+C.
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

QString tool()
{
    return QCoreApplication::applicationDirPath() + u"/../bin/fablewick-make"_s;
}

Result make(const QStringList& arguments)
{
    QProcess process;
    process.start(tool(), arguments);
    process.waitForFinished(180000);
    if (process.exitStatus() != QProcess::NormalExit)
        qWarning("fablewick-make ended: %s", qPrintable(process.errorString()));
    return {.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            .out = QString::fromUtf8(process.readAllStandardOutput()),
            .err = QString::fromUtf8(process.readAllStandardError())};
}

// Three tagged parts of one book, in natural order by name.
QStringList makeParts(const QString& folder, const QString& album)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 1; i <= 3; ++i) {
        paths << folder + u"/%1 Part.mp3"_s.arg(i);
        if (!makeTone(paths.constLast(), 3 + i, 300 + 150 * i, 22050, 1,
                      {u"-b:a"_s, u"32k"_s, u"-metadata"_s, u"album="_s + album, u"-metadata"_s,
                       u"artist=Ann Author"_s, u"-metadata"_s, u"track=%1"_s.arg(i)}))
            return {};
    }
    return paths;
}

// What players read of a book: its chapters' times and titles, and its tags.
QStringList chaptersAndTags(const QString& book)
{
    const QJsonObject info = probe(book);
    QStringList read;
    for (const QJsonValue& chapter : info[u"chapters"_s].toArray())
        read << u"%1 %2"_s.arg(chapter[u"start_time"_s].toString(),
                               chapter[u"tags"_s][u"title"_s].toString());
    const QJsonObject tags = info[u"format"_s][u"tags"_s].toObject();
    for (const QString& key : tags.keys()) {
        if (key != u"encoder"_s)
            read << key + u'=' + tags.value(key).toString();
    }
    return read;
}

} // namespace

class TestMake : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void makesTheWindowsBook_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("extension");
        QTest::newRow("m4b") << u"Bookmark"_s << u"m4b"_s;
        QTest::newRow("mp3") << u"MP3"_s << u"mp3"_s;
    }
    void makesTheWindowsBook()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, extension);
        TestEnvironment environment;
        TestApp app;
        const QStringList parts = makeParts(environment.sources(), u"Same Book"_s);
        QCOMPARE(parts.size(), 3);
        AppController& c = *app.controller;
        c.applicationOpenFiles(parts);
        QVERIFY(waitUntilListed(c));
        nameBook(c, u"Window"_s, encoding);
        c.startJoin();
        QVERIFY(waitUntilIdle(c, 120000));
        const QString window = environment.desktop() + u"/Window."_s + extension;
        QVERIFY(QFile::exists(window));

        // The files in the order the window lists them.
        QStringList listed;
        for (const ItemRecordPtr& record : c.tableData())
            listed << record->pathColumn;
        const QString cli = environment.root() + u"/Cli."_s + extension;
        const Result made = make(QStringList{u"-o"_s, cli} + listed);
        QVERIFY2(made.status == 0,
                 qPrintable(u"status %1: %2%3"_s.arg(made.status).arg(made.out, made.err)));
        QCOMPARE(chaptersAndTags(cli), chaptersAndTags(window));
        QCOMPARE(audioChecksum(cli), audioChecksum(window));
        QVERIFY(chaptersAndTags(cli).contains(u"album=Same Book"_s));
    }

    void exitStatusesAndWords_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("unknown option") << QStringList{u"--bogus"_s} << 2 << u"Unknown option"_s;
        QTest::newRow("no files") << QStringList{} << 2 << u"Give the audio files"_s;
        QTest::newRow("missing file")
            << QStringList{u"PARTS/none.mp3"_s} << 2 << u"does not exist"_s;
        QTest::newRow("bad format") << QStringList{u"--format"_s, u"ogg"_s, u"PARTS"_s} << 2
                                    << u"--format is m4b, m4a or mp3"_s;
        QTest::newRow("bad even volume") << QStringList{u"--even-volume"_s, u"loud"_s, u"PARTS"_s}
                                         << 2 << u"--even-volume is off, book or each"_s;
        QTest::newRow("each without out")
            << QStringList{u"--each"_s, u"PARTS"_s} << 2 << u"--each needs --out"_s;
        QTest::newRow("chapters past the end")
            << QStringList{u"--chapters"_s, u"LATE"_s, u"PARTS"_s} << 1 << u"cannot be imported"_s;
        QTest::newRow("book already there") << QStringList{u"-o"_s, u"TAKEN"_s, u"PARTS"_s} << 1
                                            << u"already exists. Give --replace"_s;
        QTest::newRow("unreadable file")
            << QStringList{u"BROKEN"_s} << 1
            << u"Before the files were joined: These files cannot be joined"_s;
    }
    void exitStatusesAndWords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        TestEnvironment environment;
        const QString parts = environment.sources() + u"/Parts"_s;
        QVERIFY(!makeParts(parts, u"Book"_s).isEmpty());
        writeFile(environment.root() + u"/late.chapters.txt"_s,
                  "00:00:00.000 One\n00:09:00.000 Too late\n");
        writeFile(environment.root() + u"/taken.m4b"_s, "mine");
        writeFile(environment.sources() + u"/broken.mp3"_s, QByteArray(4000, 'x'));
        for (QString& argument : arguments)
            argument.replace(u"PARTS"_s, parts)
                .replace(u"LATE"_s, environment.root() + u"/late.chapters.txt"_s)
                .replace(u"TAKEN"_s, environment.root() + u"/taken.m4b"_s)
                .replace(u"BROKEN"_s, environment.sources() + u"/broken.mp3"_s);
        const Result result = make(arguments);
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(said), qPrintable(result.err));
        QCOMPARE(readFile(environment.root() + u"/taken.m4b"_s), QByteArray("mine"));
    }

    void helpAndVersionAreAnswered()
    {
        const Result help = make({u"--help"_s});
        QCOMPARE(help.status, 0);
        for (const QString& option : {u"--each"_s, u"--even-volume"_s, u"--dry-run"_s})
            QVERIFY2(help.out.contains(option), qPrintable(help.out));
        const Result version = make({u"--version"_s});
        QCOMPARE(version.status, 0);
        QVERIFY2(version.out.startsWith(u"fablewick-make "_s), qPrintable(version.out));
    }

    void aDryRunPrintsThePlanAndMakesNothing()
    {
        TestEnvironment environment;
        const QString parts = environment.sources() + u"/Parts"_s;
        QVERIFY(!makeParts(parts, u"Planned"_s).isEmpty());
        writeFile(environment.root() + u"/c.chapters.txt"_s,
                  "00:00:00.000 Opening\n00:00:05.500 Middle\n");
        const QString book = environment.root() + u"/Plan.mp3"_s;
        const Result result = make({u"--dry-run"_s, u"--order"_s, u"track"_s, u"--chapters"_s,
                                    environment.root() + u"/c.chapters.txt"_s, u"--narrator"_s,
                                    u"Ned"_s, u"-o"_s, book, parts});
        QCOMPARE(result.status, 0);
        for (const QString& line :
             {u"Steps: Join, Tags (the MP3 files joined as they are, not encoded)"_s,
              u"0:00:00.000  Opening"_s, u"0:00:05.500  Middle"_s, u"  title: Planned"_s,
              u"  narrator: Ned"_s, u"Disk space: about"_s, u"1. "_s + parts + u"/1 Part.mp3"_s})
            QVERIFY2(result.out.contains(line), qPrintable(result.out));
        QVERIFY(!QFile::exists(book));
    }

    void aShelfMakesEachBookAndSaysHowItWent()
    {
        TestEnvironment environment;
        const QString root = environment.sources() + u"/Shelf"_s;
        const QString out = environment.root() + u"/Books"_s;
        // Two discs of one book, a book without tags, and a folder of a broken file.
        QVERIFY(!makeParts(root + u"/Alpha/CD 1"_s, u"Alpha Tales"_s).isEmpty());
        QVERIFY(!makeParts(root + u"/Alpha/CD 2"_s, u"Alpha Tales"_s).isEmpty());
        QDir().mkpath(root + u"/Untagged"_s);
        QVERIFY(makeMp3(root + u"/Untagged/one.mp3"_s, 3, 22050, 1, 32));
        QDir().mkpath(root + u"/Broken"_s);
        writeFile(root + u"/Broken/bad.mp3"_s, QByteArray(4000, 'x'));

        const Result first = make({u"--each"_s, root, u"--out"_s, out});
        QCOMPARE(first.status, 1);
        QVERIFY2(first.out.contains(u"2 made, 1 failed, 0 skipped"_s), qPrintable(first.out));
        QVERIFY2(first.out.contains(u"failed: Broken: Before the files were joined"_s),
                 qPrintable(first.out));
        QCOMPARE(probe(out + u"/Alpha Tales.m4b"_s)[u"chapters"_s].toArray().size(), 6);
        // A book of untagged files is titled as its folder, for players to show.
        QCOMPARE(probe(out + u"/Untagged.m4b"_s)[u"format"_s][u"tags"_s][u"title"_s].toString(),
                 u"Untagged"_s);

        const Result again =
            make({u"--each"_s, root, u"--out"_s, out, u"--skip-existing"_s, u"--json"_s});
        QList<QJsonObject> events;
        for (const QString& line : again.out.split(u'\n', Qt::SkipEmptyParts))
            events << QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY(!events.isEmpty());
        const QJsonObject summary = events.constLast();
        QCOMPARE(summary[u"event"_s].toString(), u"summary"_s);
        QCOMPARE(summary[u"made"_s].toInt(), 0);
        QCOMPARE(summary[u"skipped"_s].toInt(), 2);
        QCOMPARE(summary[u"failed"_s].toInt(), 1);
    }

    // The library's layout: an author's folder, no series folder where the
    // book has none, and an untagged book under its own name alone.
    void aLayoutPutsEachBookInItsFolders()
    {
        TestEnvironment environment;
        const QString root = environment.sources() + u"/Shelf"_s;
        const QString out = environment.root() + u"/Library"_s;
        QVERIFY(!makeParts(root + u"/Alpha"_s, u"Alpha Tales"_s).isEmpty());
        QDir().mkpath(root + u"/Untagged"_s);
        QVERIFY(makeMp3(root + u"/Untagged/one.mp3"_s, 3, 22050, 1, 32));
        const Result made = make(
            {u"--each"_s, root, u"--out"_s, out, u"--layout"_s, u"{author}/{series}/{title}"_s});
        QVERIFY2(made.status == 0, qPrintable(made.out + made.err));
        QVERIFY(QFile::exists(out + u"/Ann Author/Alpha Tales/Alpha Tales.m4b"_s));
        QVERIFY(QFile::exists(out + u"/Untagged/Untagged.m4b"_s));
        const Result wrong =
            make({u"--each"_s, root, u"--out"_s, out, u"--layout"_s, u"{author}/{genre}"_s});
        QCOMPARE(wrong.status, 2);
        QVERIFY2(wrong.err.contains(u"not {genre}"_s), qPrintable(wrong.err));
    }

    // A watched folder: folders copied in over time are made once each, not
    // before they settle; a broken one is told and tried again once it
    // changes; a restart makes nothing again; the sources stay as they were.
    void aWatchedFolderMakesEachSettledFolderOnce()
    {
        TestEnvironment environment;
        const QString inbox = environment.sources() + u"/Inbox"_s;
        const QString staging = environment.root() + u"/Staging"_s;
        const QString out = environment.root() + u"/Books"_s;
        QDir().mkpath(inbox);
        QVERIFY(!makeParts(staging + u"/Alpha"_s, u"Alpha Tales"_s).isEmpty());
        const QStringList beta = makeParts(staging + u"/Beta"_s, u"Beta Tales"_s);
        QCOMPARE(beta.size(), 3);
        // Settling takes four times the gap between the files written below.
        const QStringList arguments{u"--watch"_s, inbox, u"--out"_s, out, u"--settle"_s, u"2"_s};
        QString said;
        auto watcher = std::make_unique<QProcess>();
        watcher->setProcessChannelMode(QProcess::MergedChannels);
        connect(watcher.get(), &QProcess::readyRead, this,
                [&] { said += QString::fromUtf8(watcher->readAll()); });
        watcher->start(tool(), arguments);
        QVERIFY(watcher->waitForStarted());

        QVERIFY(QDir().rename(staging + u"/Alpha"_s, inbox + u"/Alpha"_s));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + u"/Alpha Tales.m4b"_s), 90000);
        const QDateTime alphaMade = QFileInfo(out + u"/Alpha Tales.m4b"_s).lastModified();

        // Written a file at a time, more often than it settles.
        QDir().mkpath(inbox + u"/Beta"_s);
        for (const QString& part : beta) {
            QVERIFY(QFile::copy(part, inbox + u"/Beta/"_s + QFileInfo(part).fileName()));
            QTest::qWait(500);
            QVERIFY(!QFile::exists(out + u"/Beta Tales.m4b"_s));
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + u"/Beta Tales.m4b"_s), 90000);
        QCOMPARE(probe(out + u"/Beta Tales.m4b"_s)[u"chapters"_s].toArray().size(), 3);

        QDir().mkpath(inbox + u"/Broken"_s);
        QVERIFY(writeFile(inbox + u"/Broken/bad.mp3"_s, QByteArray(4000, 'x')));
        QTRY_VERIFY_WITH_TIMEOUT(said.contains(u"Before the files were joined"_s), 90000);
        QTest::qWait(5000);
        QCOMPARE(said.count(u"Making Broken"_s), 1);
        // Mended, it is tried again.
        QVERIFY(QFile::remove(inbox + u"/Broken/bad.mp3"_s));
        QVERIFY(makeMp3(inbox + u"/Broken/good.mp3"_s, 3, 22050, 1, 32));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + u"/Broken.m4b"_s), 90000);

        watcher->terminate();
        QVERIFY(watcher->waitForFinished(30000));
        said.clear();
        watcher->start(tool(), arguments);
        QVERIFY(watcher->waitForStarted());
        QTest::qWait(5000);
        QVERIFY2(!said.contains(u"Making"_s), qPrintable(said));
        QCOMPARE(QFileInfo(out + u"/Alpha Tales.m4b"_s).lastModified(), alphaMade);
        watcher->terminate();
        QVERIFY(watcher->waitForFinished(30000));
        QCOMPARE(QDir(inbox + u"/Beta"_s).entryList(QDir::Files).size(), 3);
    }

    void ctrlCStopsAndRemovesThePartialFiles()
    {
        TestEnvironment environment;
        const QString long1 = environment.sources() + u"/long.mp3"_s;
        QVERIFY(makeMp3(long1, 1800, 44100, 2, 128));
        const QString book = environment.root() + u"/Stopped.m4b"_s;
        QProcess process;
        process.start(tool(), {u"-o"_s, book, u"--bitrate"_s, u"128k"_s, long1});
        QVERIFY(QTest::qWaitFor([&] { return process.readAllStandardOutput().contains("Encode"); },
                                60000));
        const QString folder = environment.tmp() + u"/Fablewick-make-%1"_s.arg(process.processId());
        QVERIFY(QFileInfo(folder).isDir());
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("its partial files were removed"));
        QVERIFY(!QFile::exists(book));
        QVERIFY(!QFileInfo::exists(folder));
    }
};

QTEST_MAIN(TestMake)
#include "tst_make.moc"
