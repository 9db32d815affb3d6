// A finished book made by another tool, opened again: its chapters retitled
// and shifted, its tags changed, and saved without an encode, as ffprobe and
// mediainfo then read it; books that cannot be saved so are left alone; a
// chapter file beside the files is offered.
#include "AudiobookTableView.h"
#include "BookSplitter.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QMimeData>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

// A 30-s book with three chapters and a title, as ffmpeg makes one from an
// ffmetadata file, in the form that the extension says. Its tone rises, so
// that no stretch of it sounds like another.
bool makePeerBook(const QString& path, const QStringList& options = {})
{
    const QString metadata = QFileInfo(path).absolutePath() + u"/peer.ffmetadata"_s;
    QByteArray text = ";FFMETADATA1\ntitle=Peer Book\nartist=Some Author\n";
    const char* titles[] = {"Opening", "Middle", "Closing"};
    for (int i = 0; i < 3; ++i)
        text += QByteArray("[CHAPTER]\nTIMEBASE=1/1000\nSTART=") + QByteArray::number(i * 10000) +
                "\nEND=" + QByteArray::number(i * 10000 + 10000) + "\ntitle=" + titles[i] + "\n";
    const bool mp3 = path.endsWith(u".mp3"_s);
    // Without noise filling, whose random numbers start afresh in each
    // decoder, a file cut from the book decodes to the book's very samples.
    const QStringList encoder =
        mp3 ? QStringList{u"libmp3lame"_s} : QStringList{u"aac"_s, u"-aac_pns"_s, u"0"_s};
    return writeFile(metadata, text) &&
           runFfmpeg(QStringList{u"-f"_s, u"lavfi"_s, u"-i"_s,
                                 u"aevalsrc=sin(2*PI*(200+10*t)*t):s=44100:d=30"_s, u"-i"_s,
                                 metadata, u"-map"_s, u"0"_s, u"-map_metadata"_s, u"1"_s,
                                 u"-map_chapters"_s, u"1"_s, u"-c:a"_s}
                     << encoder << u"-b:a"_s << u"64k"_s << options << path);
}

QStringList chaptersRead(const AppController& c)
{
    auto* table = control<QTableView>(c, u"chapterTable"_s);
    if (QAccessibleInterface* old = QAccessible::queryAccessibleInterface(table))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
    QAccessibleTableInterface* read =
        QAccessible::queryAccessibleInterface(table)->tableInterface();
    QStringList chapters;
    for (int row = 0; row < read->rowCount(); ++row)
        chapters << read->cellAt(row, 0)->text(QAccessible::Name) + u" @ "_s +
                        read->cellAt(row, 1)->text(QAccessible::Name);
    return chapters;
}

// The book's chapters as ffprobe reads them: "title @ seconds".
QStringList probedChapters(const QString& path)
{
    QStringList chapters;
    for (const QJsonValue chapter : probe(path)[u"chapters"_s].toArray())
        chapters << chapter[u"tags"_s][u"title"_s].toString() + u" @ "_s +
                        QString::number(chapter[u"start_time"_s].toString().toDouble(), 'f', 3);
    return chapters;
}

void shiftBy(const AppController& c, const QString& time)
{
    QTest::keyClick(c.window(), Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    auto* field = control<QLineEdit>(c, u"shiftBy"_s);
    QTRY_VERIFY(field->isVisible());
    field->clear();
    QTest::keyClicks(field, time);
    QTest::mouseClick(control<QRadioButton>(c, u"shiftEvery"_s), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(c, u"shiftButton"_s), Qt::LeftButton);
}

} // namespace

class TestBook : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aPeerBookIsEditedAndSavedWithItsAudioAsItWas_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withPanel");
        QTest::newRow("an .m4b, by Open Book") << u"Peer Book.m4b"_s << true;
        QTest::newRow("an .mp3, opened with the application") << u"Peer Book.mp3"_s << false;
    }

    void aPeerBookIsEditedAndSavedWithItsAudioAsItWas()
    {
        QFETCH(QString, name);
        QFETCH(bool, withPanel);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString book = environment.sources() + u'/' + name;
        QVERIFY(makePeerBook(book));
        const QByteArray media = audioChecksum(book);
        const QByteArray samples = audioChecksum(book, AudioSum::DecodedSamples);
        QVERIFY(!media.isEmpty() && !samples.isEmpty());

        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        openBook(app, book, withPanel);
        QCOMPARE(chaptersRead(c),
                 (QStringList{u"Opening @ 0:00:00.000"_s, u"Middle @ 0:00:10.000"_s,
                              u"Closing @ 0:00:20.000"_s}));
        QTRY_COMPARE(control<QLineEdit>(c, u"title"_s)->text(), u"Peer Book"_s);
        QCOMPARE(control<QLineEdit>(c, u"artist"_s)->text(), u"Some Author"_s);
        QVERIFY(c.window()->windowTitle().startsWith(name));

        // A shift that would put a chapter past the end is refused in the sheet.
        shiftBy(c, u"+15"_s);
        QVERIFY(
            spokenName(control<QLabel>(c, u"shiftStatus"_s)).contains(u"past the book's end"_s));
        QVERIFY(control<QLineEdit>(c, u"shiftBy"_s)->isVisible());
        shiftBy(c, u"1.5"_s);
        QTRY_VERIFY(!control<QLineEdit>(c, u"shiftBy"_s)->isVisible());
        c.window()->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), c.window());
        auto* table = control<QTableView>(c, u"chapterTable"_s);
        const QRect middle = table->visualRect(table->model()->index(1, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, middle.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, middle.center());
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(editor && editor != table);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, u"The Middle"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::qWait(20);
        QTRY_COMPARE(chaptersRead(c),
                     (QStringList{u"Opening @ 0:00:00.000"_s, u"The Middle @ 0:00:11.500"_s,
                                  u"Closing @ 0:00:21.500"_s}));
        control<QLineEdit>(c, u"title"_s)->setText(u"Peer Book, Revised"_s);

        activate(c);
        QTest::keyClick(c.window(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(waitUntilSaved(c, name),
                 qPrintable(app.dialogs->allAlerts.value(0).detail +
                            spokenName(control<QLabel>(c, u"listSummary"_s))));
        QVERIFY(app.dialogs->allAlerts.isEmpty());
        const QStringList expected{u"Opening @ 0.000"_s, u"The Middle @ 11.500"_s,
                                   u"Closing @ 21.500"_s};
        QCOMPARE(probedChapters(book), expected);
        QCOMPARE(probe(book)[u"format"_s][u"tags"_s][u"title"_s].toString(),
                 u"Peer Book, Revised"_s);
        if (name.endsWith(u".m4b"_s)) {
            // Both of the book's chapter lists, the track and Nero's.
            const QStringList menu{u"00:00:00.000 Opening"_s, u"00:00:11.500 The Middle"_s,
                                   u"00:00:21.500 Closing"_s};
            QCOMPARE(mediaInfoMenus(book), (QList<QStringList>{menu, menu}));
        }
        QCOMPARE(audioChecksum(book), media);
        QCOMPARE(audioChecksum(book, AudioSum::DecodedSamples), samples);
        // Nothing is left beside it.
        QCOMPARE(QDir(environment.sources())
                     .entryList({u"*.m4b"_s, u"*.mp3"_s, u".*"_s}, QDir::Files | QDir::Hidden),
                 QStringList{name});

        // Save As writes a new file and leaves the book as it is.
        const QByteArray saved = readFile(book);
        const QString copy = environment.sources() + u"/Copy"_s;
        app.dialogs->savePanelAnswers.push_back(copy);
        QTest::keyClick(c.window(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
        const QString copied = copy + u'.' + QFileInfo(book).suffix();
        QVERIFY(waitUntilSaved(c, QFileInfo(copied).fileName()));
        QCOMPARE(probedChapters(copied), expected);
        QCOMPARE(audioChecksum(copied), media);
        QCOMPARE(readFile(book), saved);
        QVERIFY(c.window()->windowTitle().startsWith(QFileInfo(copied).fileName()));
    }

    void aBookIsSplitIntoOneFilePerChapter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("encoded");
        QTest::newRow("an .m4b") << u"Peer Book.m4b"_s << u"m4a"_s << false;
        QTest::newRow("an .mp3") << u"Peer Book.mp3"_s << u"mp3"_s << false;
        QTest::newRow("an .m4b, encoded as .mp3") << u"Peer Book.m4b"_s << u"mp3"_s << true;
        QTest::newRow("an .mp3, encoded as .m4a") << u"Peer Book.mp3"_s << u"m4a"_s << true;
    }

    void aBookIsSplitIntoOneFilePerChapter()
    {
        QFETCH(QString, name);
        QFETCH(QString, extension);
        QFETCH(bool, encoded);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString book = environment.sources() + u'/' + name;
        QVERIFY(makePeerBook(book));
        // Tags of another tagger's that the sheet has no place for, and a cover.
        const QString cover = environment.sources() + u"/cover.jpg"_s;
        QImage image(90, 60, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(cover, "JPEG"));
        QVERIFY(runTool(u"/usr/bin/python3"_s, {u"-c"_s, uR"(
import sys
import mutagen
from mutagen.id3 import APIC, TCOM, TXXX
from mutagen.mp4 import MP4Cover, MP4FreeForm
book = mutagen.File(sys.argv[1])
data = open(sys.argv[2], 'rb').read()
if sys.argv[1].endswith('.mp3'):
    book.tags.add(APIC(encoding=3, mime='image/jpeg', type=3, desc='Front', data=data))
    book.tags.add(TCOM(encoding=3, text=['The Narrator']))
    book.tags.add(TXXX(encoding=3, desc='ASIN', text=['B00ASIN123']))
else:
    book['covr'] = [MP4Cover(data, MP4Cover.FORMAT_JPEG)]
    book['\xa9wrt'] = ['The Narrator']
    book['----:com.apple.iTunes:ASIN'] = [MP4FreeForm(b'B00ASIN123')]
book.save()
)"_s, book, cover}));
        constexpr qsizetype kRate = 44100;
        const QList<qint16> whole = decodeMono(book, static_cast<int>(kRate));
        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        openBook(app, book, false);
        QTRY_COMPARE(control<QLineEdit>(c, u"title"_s)->text(), u"Peer Book"_s);
        QTest::keyClick(c.window(), Qt::Key_X,
                        Qt::ControlModifier | Qt::AltModifier |
                            (encoded ? Qt::ShiftModifier : Qt::NoModifier));
        auto* summary = control<QLabel>(c, u"listSummary"_s);
        QTRY_VERIFY_WITH_TIMEOUT(spokenName(summary).startsWith(u"Split into"_s), 60000);
        QVERIFY(app.dialogs->allAlerts.isEmpty());

        const QDir folder(environment.sources() + u"/Peer Book"_s);
        const QStringList titles{u"Opening"_s, u"Middle"_s, u"Closing"_s};
        QStringList expected;
        for (int i = 0; i < 3; ++i)
            expected << u"0%1 - %2.%3"_s.arg(i + 1).arg(titles.at(i), extension);
        QCOMPARE(folder.entryList(QDir::Files), expected);
        qsizetype samples = 0;
        for (int i = 0; i < 3; ++i) {
            const QString part = folder.filePath(expected.at(i));
            const QJsonObject tags = probe(part)[u"format"_s][u"tags"_s].toObject();
            QCOMPARE(tags[u"title"_s].toString(), titles.at(i));
            QCOMPARE(tags[u"track"_s].toString(), u"%1/3"_s.arg(i + 1));
            QCOMPARE(tags[u"artist"_s].toString(), u"Some Author"_s);
            // The book's tags and cover, of either kind.
            QCOMPARE(tags[u"composer"_s].toString(), u"The Narrator"_s);
            QCOMPARE(tags[u"ASIN"_s].toString(), u"B00ASIN123"_s);
            QCOMPARE(toolOutput(u"exiftool"_s,
                                {u"-q"_s, u"-b"_s, extension == u"mp3"_s ? u"-Picture"_s
                                                                         : u"-CoverArt"_s, part}),
                     std::optional(readFile(cover)));
            if (encoded) {
                // Encoded again, each plays its chapter's length.
                const double length = probe(part)[u"format"_s][u"duration"_s].toString().toDouble();
                QVERIFY2(std::abs(length - 10.0) < 0.06, qPrintable(QString::number(length)));
                continue;
            }
            const QList<qint16> decoded = decodeMono(part, static_cast<int>(kRate));
            samples += decoded.size();
            const qsizetype start = kRate * 10 * i;
            if (extension == u"m4a"_s) {
                // The chapter's samples exactly, though 10 s is no whole number of
                // frames: the edit skips the frame before, and ends the file
                // inside its last frame, which ffmpeg plays to its end.
                QCOMPARE(probe(part)[u"format"_s][u"duration"_s].toString().toDouble(), 10.0);
                QVERIFY(decoded.size() >= 10 * kRate && decoded.size() < 10 * kRate + 1024);
                QVERIFY(decoded.first(10 * kRate) == whole.mid(start, 10 * kRate));
                samples -= decoded.size() - 10 * kRate;
                continue;
            }
            // Cut at the frame nearest the chapter's start, after the decoder's
            // first frames, which lack the bits they kept in the frames before.
            constexpr qsizetype kSettled = qsizetype{5} * 1152;
            constexpr qsizetype kSpan = 4410;
            bool found = false;
            for (qsizetype at = start + kSettled - 1800; at <= start + kSettled + 1800 && !found;
                 ++at)
                found = decoded.mid(kSettled, kSpan) == whole.mid(at, kSpan);
            QVERIFY2(found, qPrintable(expected.at(i)));
        }
        QVERIFY(encoded || std::abs(samples - whole.size()) <= 2 * 1152 + 1105);
    }

    // A split into a folder that holds a file of one of its names stops
    // before writing anything, and that file stays as it was.
    void aSplitNeverTouchesAFileThatIsThere()
    {
        TestEnvironment environment;
        const QString folder = environment.sources() + u"/Peer Book"_s;
        QDir().mkpath(folder);
        const QString book = environment.sources() + u"/Peer Book.m4b"_s;
        QVERIFY(makePeerBook(book));
        QVERIFY(writeFile(folder + u"/02 - Middle.m4a"_s, "mine"));
        BookTag tag;
        tag.chapters = {{.title = u"Opening"_s, .startMs = 0, .endMs = 10000},
                        {.title = u"Middle"_s, .startMs = 10000, .endMs = 30000}};
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, BookSplitter::split(book, folder, tag, {}));
        QCOMPARE(readFile(folder + u"/02 - Middle.m4a"_s), QByteArray("mine"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"02 - Middle.m4a"_s});
    }

    void aBookThatCannotBeRewrittenIsLeftAlone_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("fragmented") << u"Streamed.m4b"_s << u"fragmented"_s;
        QTest::newRow("locked") << u"Locked.m4b"_s << u"DRM"_s;
        QTest::newRow("two tags") << u"Twice Tagged.mp3"_s << u"more than one ID3v2 tag"_s;
    }

    void aBookThatCannotBeRewrittenIsLeftAlone()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString book = environment.sources() + u'/' + name;
        if (reason == u"fragmented"_s) {
            QVERIFY(makePeerBook(book, {u"-movflags"_s, u"frag_keyframe+empty_moov"_s}));
        } else if (reason == u"DRM"_s) {
            // What FairPlay leaves of the sample description.
            QVERIFY(makePeerBook(book));
            QByteArray bytes = readFile(book);
            QVERIFY(bytes.contains("mp4a"));
            bytes.replace("mp4a", "drms");
            QVERIFY(writeFile(book, bytes));
        } else {
            QVERIFY(makePeerBook(book));
            const QByteArray bytes = readFile(book);
            QVERIFY(bytes.startsWith("ID3"));
            QVERIFY(writeFile(book, bytes.left(bytes.indexOf("\xff\xfb")) + bytes));
        }
        const QByteArray before = readFile(book);

        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        openBook(app, book, true);
        activate(c);
        QTest::keyClick(c.window(), Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE(app.dialogs->allAlerts.size(), 1);
        const AlertSpec& alert = app.dialogs->allAlerts.first();
        QCOMPARE(alert.title, u"Book Not Saved"_s);
        QVERIFY2(alert.detail.contains(reason), qPrintable(alert.detail));
        QVERIFY(alert.detail.endsWith(u"The book is as it was."_s));
        QCOMPARE(readFile(book), before);
        QCOMPARE(QDir(environment.sources()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // A book dropped on an empty list is opened as one; dropped on a list of
    // files, it is one more file.
    void aBookDroppedOnAnEmptyListIsOpened()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString book = environment.sources() + u"/Peer Book.m4b"_s;
        const QString other = environment.sources() + u"/Other.mp3"_s;
        QVERIFY(makePeerBook(book));
        QVERIFY(makeMp3(other, 5));
        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        const auto drop = [&c](const QString& path) {
            QWidget* viewport = c.table()->viewport();
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            const QPoint at(40, 40);
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &enter);
            QDragMoveEvent over(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &over);
            QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &dropped);
        };
        drop(book);
        QVERIFY(waitUntilListed(c));
        QVERIFY(c.window()->windowTitle().startsWith(u"Peer Book.m4b"_s));
        QTRY_COMPARE(control<QLineEdit>(c, u"title"_s)->text(), u"Peer Book"_s);
        QCOMPARE(chaptersRead(c).size(), 3);

        c.clearAllItems();
        c.applicationOpenFiles({other});
        QVERIFY(waitUntilListed(c));
        drop(book);
        QVERIFY(waitUntilListed(c));
        QCOMPARE(c.tableData().size(), 2);
        QCOMPARE(c.window()->windowTitle(), u"Fablewick"_s);
    }

    void aChapterFileBesideTheFilesIsOffered()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString file = environment.sources() + u"/Story.mp3"_s;
        QVERIFY(makeMp3(file, 20));
        QVERIFY(writeFile(environment.sources() + u"/Story.chapters.txt"_s,
                          "00:00:00.000 Start\n00:00:07.500 Later\n"));
        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        c.applicationOpenFiles({file});
        QVERIFY(waitUntilListed(c));
        QTRY_COMPARE(app.dialogs->alerts.size(), size_t(1));
        QCOMPARE(app.dialogs->alerts.front().shown.message,
                 u"Use the chapters in \u201CStory.chapters.txt\u201D?"_s);
        app.dialogs->answerAlert(1);
        QCOMPARE(chaptersRead(c),
                 (QStringList{u"Start @ 0:00:00.000"_s, u"Later @ 0:00:07.500"_s}));
    }
};

QTEST_MAIN(TestBook)
#include "tst_book.moc"
