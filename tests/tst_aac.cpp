#include "ArtworkWell.h"
#include "Resources.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kCriticalTitle = u"Fablewick encountered a critical error"_s;

struct Book
{
    Book()
    {
        sources = {environment.sources() + u"/01 Prologue.mp3"_s,
                   environment.sources() + u"/02 Ünïcødé Kapitel.mp3"_s,
                   environment.sources() + u"/03 The End.mp3"_s};
        makeMp3(sources[0], 70, 44100, 2, 128);
        makeMp3(sources[1], 20, 44100, 2, 128);
        makeMp3(sources[2], 15, 44100, 2, 128);
        app.controller->applicationOpenFiles(sources);
        for (int i = 0; i < 2 && c().tableData().at(0)->pathColumn != sources[0]; ++i)
            c().autoSort();
    }
    AppController& c() { return *app.controller; }
    void fillTags()
    {
        control<QLineEdit>(c(), u"title"_s)->setText(u"Das Buch"_s);
        control<QLineEdit>(c(), u"artist"_s)->setText(u"Anna \"A\" $Autor"_s);
        control<QLineEdit>(c(), u"album"_s)->setText(u"Album"_s);
        control<QLineEdit>(c(), u"albumArtist"_s)->setText(u"Album Artist"_s);
        control<QLineEdit>(c(), u"comment"_s)->setText(u"Ein `Kommentar`"_s);
        QImage cover(64, 64, QImage::Format_ARGB32);
        cover.fill(Qt::transparent);
        QPainter(&cover).fillRect(8, 8, 48, 48, Qt::darkGreen);
        control<ArtworkWell>(c(), u"artwork"_s)->setImage(cover);
    }
    void start(const QString& name, const QString& encoding)
    {
        c().joinAll();
        control<QLineEdit>(c(), u"outputName"_s)->setText(name);
        chooseEncoding(c(), encoding);
        c().startJoin();
    }
    bool finish(int timeoutMs = 180000)
    {
        QElapsedTimer clock;
        clock.start();
        while (c().state() != RunState::Idle && clock.elapsed() < timeoutMs)
            QTest::qWait(50);
        return c().state() == RunState::Idle;
    }
    QString onDesktop(const QString& name) const { return environment.desktop() + u'/' + name; }
    bool waitForState(RunState state)
    {
        QElapsedTimer clock;
        clock.start();
        while (c().state() != state && clock.elapsed() < 60000)
            QTest::qWait(20);
        return c().state() == state;
    }

    TestEnvironment environment;
    TestApp app;
    QStringList sources;
};

} // namespace

class TestAac : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void makesABookmarkableAudiobook()
    {
        Book book;
        book.fillTags();
        AppController& c = book.c();
        const QProgressBar* bar = control<QProgressBar>(c, u"joinProgressIndicator"_s);
        QList<int> convertingValues;
        bool stopShownWhileConverting = false;
        bool stopShownWhileTagging = false;
        int chapterBarMaximum = -1;
        QStringList descriptions;
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            if (c.state() == RunState::Encoding) {
                convertingValues << value;
                stopShownWhileConverting =
                    control<QPushButton>(c, u"stopConvertingButton"_s)->isVisible();
            }
            // The tagger's progress comes while it tags, however short that is.
            if (c.state() == RunState::Tagging)
                stopShownWhileTagging =
                    control<QPushButton>(c, u"stopConvertingButton"_s)->isVisible();
        });
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            descriptions << control<QLabel>(c, u"joinProgressDescription"_s)->text();
            if (c.state() == RunState::WritingChapters)
                chapterBarMaximum = bar->maximum();
            if (c.state() == RunState::Tagging)
                stopShownWhileTagging =
                    control<QPushButton>(c, u"stopConvertingButton"_s)->isVisible();
        });
        watcher.start(10);
        book.start(u"Das Buch"_s, u"Bookmark"_s);
        QVERIFY(book.finish());
        watcher.stop();

        QVERIFY(book.app.dialogs->allAlerts.isEmpty());
        QCOMPARE(*book.app.soundsPlayed, 1);
        QVERIFY(std::any_of(convertingValues.begin(), convertingValues.end(),
                            [](int v) { return v > 0; }));
        QVERIFY(stopShownWhileConverting);
        QVERIFY(stopShownWhileTagging);
        QCOMPARE(chapterBarMaximum, 0);
        QVERIFY(std::any_of(descriptions.begin(), descriptions.end(), [](const QString& d) {
            return d.startsWith(u"Converting to AAC - "_s) && d.endsWith(u'%');
        }));
        QVERIFY(!control<QLabel>(c, u"joinProgressDescription"_s)->window()->isVisible());

        const QString out = book.onDesktop(u"Das Buch.m4b"_s);
        const QJsonObject info = probe(out);
        const QJsonArray chapters = info[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        const QStringList titles{u"01 Prologue"_s, u"02 Ünïcødé Kapitel"_s, u"03 The End"_s};
        const QList<double> starts{0, 70, 90};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject chapter = chapters.at(i).toObject();
            QCOMPARE(chapter[u"tags"_s].toObject()[u"title"_s].toString(), titles[i]);
            // Exact to the file's frames, which end a little after its 70 or 20 s.
            const double start = chapter[u"start_time"_s].toString().toDouble();
            QVERIFY2(start >= starts[i] && start < starts[i] + 0.1,
                     qPrintable(QString::number(start)));
        }
        const QJsonObject format = info[u"format"_s].toObject();
        const QJsonObject tags = format[u"tags"_s].toObject();
        QCOMPARE(tags[u"title"_s].toString(), u"Das Buch"_s);
        QCOMPARE(tags[u"artist"_s].toString(), u"Anna \"A\" $Autor"_s);
        QCOMPARE(tags[u"album"_s].toString(), u"Album"_s);
        QCOMPARE(tags[u"album_artist"_s].toString(), u"Album Artist"_s);
        QCOMPARE(tags[u"comment"_s].toString(), u"Ein `Kommentar`"_s);
        QCOMPARE(tags[u"genre"_s].toString(), u"Audiobook"_s);
        QVERIFY(qAbs(format[u"duration"_s].toString().toDouble() - 105.0) < 1.0);
        bool jpegCover = false;
        for (const QJsonValue& s : info[u"streams"_s].toArray()) {
            const QJsonObject stream = s.toObject();
            jpegCover =
                jpegCover || (stream[u"codec_name"_s].toString() == u"mjpeg"_s &&
                              stream[u"disposition"_s].toObject()[u"attached_pic"_s].toInt());
        }
        QVERIFY(jpegCover);
        QCOMPARE(readFile(*c.tempFolderPath() + u"/art1.jpg"_s).left(2), QByteArray("\xff\xd8"));
    }

    void makesAStandardAacFile()
    {
        Book book;
        book.fillTags();
        bool stopShownWhileTagging = true;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (book.c().state() == RunState::Tagging)
                stopShownWhileTagging =
                    control<QPushButton>(book.c(), u"stopConvertingButton"_s)->isVisible();
        });
        watcher.start(5);
        book.start(u"Standard"_s, u"Standard"_s);
        QVERIFY(book.finish());
        QVERIFY(!stopShownWhileTagging);
        const QJsonObject info = probe(book.onDesktop(u"Standard.m4a"_s));
        QVERIFY(info[u"chapters"_s].toArray().isEmpty());
        QCOMPARE(info[u"format"_s].toObject()[u"tags"_s].toObject()[u"genre"_s].toString(),
                 u"Audiobook"_s);
        QCOMPARE(*book.app.soundsPlayed, 1);

        // Without tags or artwork the file is only copied, and no artwork is given.
        control<ArtworkWell>(book.c(), u"artwork"_s)->setImage({});
        for (const QString& name :
             {u"title"_s, u"artist"_s, u"album"_s, u"albumArtist"_s, u"comment"_s})
            control<QLineEdit>(book.c(), name)->clear();
        book.start(u"Plain"_s, u"Standard"_s);
        QVERIFY(book.finish());
        QVERIFY(!QFile::exists(*book.c().tempFolderPath() + u"/art1.jpg"_s));
        QVERIFY(QFile::exists(book.onDesktop(u"Plain.m4a"_s)));
        QVERIFY(!probe(book.onDesktop(u"Plain.m4a"_s))[u"format"_s]
                     .toObject()[u"tags"_s]
                     .toObject()
                     .contains(u"genre"_s));
    }

    void encoderOptionsFollowTheSheet_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("channels");
        QTest::addColumn<QString>("mp3info");
        QTest::addColumn<QStringList>("expected");
        // The sources are 128 kbit/s at 44.1 kHz.
        QTest::newRow("same as the source")
            << u"Same"_s << u"Same"_s << u"Mono"_s << QString()
            << QStringList{u"-ab 128k"_s, u"-ar 44100"_s, u"-ac 1"_s};
        QTest::newRow("a source mp3info cannot put in numbers")
            << u"Same"_s << u"Same"_s << u"Stereo"_s
            << u"case \"$2\" in %r|%Q) printf Variable;; *) exec '%1/mp3info' \"$@\";; esac"_s.arg(
                   QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR))
            << QStringList{u"-ab 128k"_s, u"-ar 44100"_s, u"-ac 2"_s};
        QTest::newRow("chosen") << u"96k"_s << u"22050"_s << u"Stereo"_s << QString()
                                << QStringList{u"-ab 96k"_s, u"-ar 22050"_s, u"-ac 2"_s};
    }

    // The sheet's choices reach every encoder of the split encode.
    void encoderOptionsFollowTheSheet()
    {
        QFETCH(QString, rate);
        QFETCH(QString, frequency);
        QFETCH(QString, channels);
        QFETCH(QString, mp3info);
        QFETCH(QStringList, expected);
        Book book;
        AppController& c = book.c();
        const QString calls = book.environment.root() + u"/ffmpeg-calls.txt"_s;
        const QString tools = toolsWithStandIn(book.environment.root(), u"ffmpeg"_s,
                                               u"echo \"$*\" >> '%1'; exit 1"_s.arg(calls));
        if (!mp3info.isEmpty()) {
            QFile::remove(tools + u"/mp3info"_s);
            makeFakeTool(tools, u"mp3info"_s, mp3info);
        }
        chooseItem(control<QComboBox>(c, u"outputRate"_s), rate);
        chooseItem(control<QComboBox>(c, u"outputFrequency"_s), frequency);
        chooseItem(control<QComboBox>(c, u"outputChannels"_s), channels);
        book.start(u"Options"_s, u"Bookmark"_s);
        QVERIFY(book.finish());
        QFile file(calls);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).trimmed().split(u'\n');
        QVERIFY(!lines.isEmpty());
        for (const QString& line : lines) {
            for (const QString& option : expected)
                QVERIFY2(line.contains(u' ' + option + u' '), qPrintable(line));
        }
    }

    // Every listed rate and frequency is a value the encoder takes as it stands.
    void theSheetOffersValuesTheEncoderTakes()
    {
        Book book;
        for (const QComboBox* box : {control<QComboBox>(book.c(), u"outputRate"_s),
                                     control<QComboBox>(book.c(), u"outputFrequency"_s)}) {
            for (int i = 0; i < box->count(); ++i)
                QVERIFY(box->itemText(i).contains(u"Same"_s) || !box->itemText(i).contains(u' '));
        }
    }

    // A second launch hands over a file while the book is being made.
    void filesArrivingDuringARunWaitForTheNext()
    {
        Book book;
        const QString late = book.environment.sources() + u"/00 Late.mp3"_s;
        QVERIFY(makeMp3(late, 5));
        book.start(u"During"_s, u"Bookmark"_s);
        QVERIFY(book.waitForState(RunState::Encoding));
        book.c().applicationOpenFiles({late});
        QVERIFY(book.finish());
        QVERIFY(book.app.dialogs->allAlerts.isEmpty());
        QStringList titles;
        for (const QJsonValue& chapter :
             probe(book.onDesktop(u"During.m4b"_s))[u"chapters"_s].toArray())
            titles << chapter[u"tags"_s][u"title"_s].toString();
        QCOMPARE(titles, (QStringList{u"01 Prologue"_s, u"02 Ünïcødé Kapitel"_s, u"03 The End"_s}));
        QCOMPARE(book.c().tableData().size(), 4);
    }

    // Stop in each step returns to idle at once; the stopped worker's late
    // report does not move the next run on.
    void stopWorksInEveryStep()
    {
        const QList<QPair<QString, RunState>> steps{{u"ffmpeg"_s, RunState::Encoding},
                                                    {u"ChapterTool"_s, RunState::WritingChapters},
                                                    {u"AtomicParsley"_s, RunState::Tagging}};
        for (const auto& [tool, state] : steps) {
            Book book;
            book.fillTags();
            toolsWithStandIn(book.environment.root(), tool, u"exec sleep 30"_s);
            book.start(u"Stopped"_s, u"Bookmark"_s);
            QVERIFY2(book.waitForState(state), qPrintable(tool));
            QVERIFY(control<QPushButton>(book.c(), u"stopConvertingButton"_s)->isVisible());
            QElapsedTimer clock;
            clock.start();
            book.c().stopJoin();
            QCOMPARE(book.c().state(), RunState::Idle);
            QVERIFY(
                !control<QLabel>(book.c(), u"joinProgressDescription"_s)->window()->isVisible());

            // The next run starts at once, so the stopped step reports during it.
            Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
            book.start(u"Again"_s, u"Bookmark"_s);
            QVERIFY(book.finish());
            QVERIFY2(book.app.dialogs->allAlerts.isEmpty(), qPrintable(tool));
            QVERIFY(!QFile::exists(book.onDesktop(u"Stopped.m4b"_s)));
            const QJsonObject again = probe(book.onDesktop(u"Again.m4b"_s));
            QCOMPARE(again[u"chapters"_s].toArray().size(), 3);
            const double seconds = again[u"format"_s][u"duration"_s].toString().toDouble();
            QVERIFY2(qAbs(seconds - 105) < 1, qPrintable(QString::number(seconds)));
            QCOMPARE(*book.app.soundsPlayed, 1);
        }
    }

    void aFailingStepShowsTheCriticalError()
    {
        const QList<QPair<QString, QString>> failures{
            {u"ffmpeg"_s, u"exit 1"_s},
            {u"ChapterTool"_s, u"echo broken >&2; exit 1"_s},
            {u"AtomicParsley"_s, u"kill -9 $$"_s}};
        for (const auto& [tool, body] : failures) {
            Book book;
            book.fillTags();
            toolsWithStandIn(book.environment.root(), tool, body);
            book.start(u"Failed"_s, u"Bookmark"_s);
            QVERIFY(book.finish());
            QCOMPARE(book.app.dialogs->allAlerts.size(), 1);
            QCOMPARE(book.app.dialogs->allAlerts.at(0).title, kCriticalTitle);
            // The alert says which tool failed, and how.
            const QString detail = book.app.dialogs->allAlerts.at(0).detail;
            QVERIFY2(detail.contains(tool) && (detail.contains(u"exited with status"_s) ||
                                               detail.contains(u"killed by signal"_s)),
                     qPrintable(detail));
            if (tool == u"ChapterTool"_s)
                QVERIFY2(detail.contains(u"saying: broken"_s), qPrintable(detail));
            QVERIFY(
                !control<QLabel>(book.c(), u"joinProgressDescription"_s)->window()->isVisible());
            QVERIFY(QDir(book.environment.desktop()).isEmpty());
            QCOMPARE(*book.app.soundsPlayed, 0);
            if (tool == u"ChapterTool"_s) {
                QCOMPARE(control<QProgressBar>(book.c(), u"joinProgressIndicator"_s)->maximum(),
                         100);
            }
            book.app.dialogs->answerAlert(1);
            Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
            book.start(u"Mended"_s, u"Standard"_s);
            QVERIFY(book.finish());
            QVERIFY2(QFile::exists(book.onDesktop(u"Mended.m4a"_s)), qPrintable(tool));
        }
    }

    void aCorruptJoinedFileFailsTheConversion()
    {
        Book book;
        for (const QString& path : book.sources)
            QVERIFY(writeFile(path, QByteArray(4096, '\x42')));
        // mp3info still reads these as "0_SPLIT_0" plus a size; ffmpeg cannot.
        book.start(u"Corrupt"_s, u"Standard"_s);
        QVERIFY(book.finish());
        QCOMPARE(book.app.dialogs->allAlerts.value(0).title, kCriticalTitle);
        QVERIFY(!QFile::exists(book.onDesktop(u"Corrupt.m4a"_s)));
    }
};

QTEST_MAIN(TestAac)
#include "tst_aac.moc"
