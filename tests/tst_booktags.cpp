// Finished books made and tagged by other tools keep everything they carry
// when they are opened and saved again: every tag, known or not, every
// picture, the chapters, the file's mode, and links to the file. The tag
// sheet shows what they carry, an edit changes its own field only, and
// covers are read from every kind of file that is listed.
#include "ArtworkWell.h"
#include "BookSaver.h"
#include "SourceTags.h"
#include "TaggedBooks.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QPlainTextEdit>
#include <QSet>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString listed(const QStringList& lines)
{
    return lines.join(u"\n  "_s);
}

// What a screen reader reads of a field of the tag sheet.
QString shown(QWidget* field)
{
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(field);
    if (!read)
        return {};
    if (QAccessibleTextInterface* text = read->textInterface())
        return text->text(0, text->characterCount());
    return read->text(QAccessible::Value);
}

// Types into a field of the tag sheet as a user does, in place of its text.
void retype(QWidget* field, const QString& text)
{
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

ino_t inodeOf(const QString& path)
{
    struct stat info{};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

mode_t modeOf(const QString& path)
{
    struct stat info{};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Saves with Ctrl+S and waits until the new file has taken the book's place.
bool saveWithKeys(const AppController& c, const QString& book)
{
    const ino_t before = inodeOf(book);
    QTest::keyClick(c.window(), Qt::Key_S, Qt::ControlModifier);
    return QTest::qWaitFor([&] { return inodeOf(book) != before; }, 60000) &&
           waitUntilSaved(c, QFileInfo(book).fileName());
}

} // namespace

Q_DECLARE_METATYPE(Tagger)

class TestBookTags : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aSaveKeepsWhatWasNotEdited_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Tagger>("tagger");
        QTest::newRow("m4b, AtomicParsley") << u"Book.m4b"_s << Tagger::AtomicParsley;
        QTest::newRow("m4b, mutagen") << u"Book.m4b"_s << Tagger::Mutagen;
        QTest::newRow("m4b, TagLib") << u"Book.m4b"_s << Tagger::TagLib;
        QTest::newRow("m4b, ffmpeg") << u"Book.m4b"_s << Tagger::Ffmpeg;
        QTest::newRow("mp3, mutagen") << u"Book.mp3"_s << Tagger::Mutagen;
        QTest::newRow("mp3, ffmpeg") << u"Book.mp3"_s << Tagger::Ffmpeg;
    }

    // Opened and saved with nothing edited, a book reads as it did to
    // every reader, covers and mode included; with the narrator edited,
    // only the narrator differs.
    void aSaveKeepsWhatWasNotEdited()
    {
        QFETCH(QString, name);
        QFETCH(Tagger, tagger);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const Covers covers = makeCovers(environment.sources());
        const QString book = environment.sources() + u'/' + name;
        QVERIFY(makeTaggedBook(book, tagger, covers));
        QVERIFY(::chmod(QFile::encodeName(book).constData(), 0640) == 0);
        const QStringList before = tagsRead(book);
        const QByteArray audio = audioChecksum(book);

        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        openBook(app, book, true);
        QTest::keyClick(c.window(), Qt::Key_T, Qt::ControlModifier);
        auto* narrator = control<QLineEdit>(c, u"narrator"_s);
        QTRY_VERIFY(narrator->isVisible());
        // The sheet shows what the book carries.
        QTRY_COMPARE(shown(control<QLineEdit>(c, u"title"_s)), u"Tagged Book"_s);
        const QList<std::pair<QString, QString>> fields{
            {u"artist"_s, u"The Author"_s}, {u"album"_s, u"The Album"_s},
            {u"narrator"_s, u"The Narrator"_s}, {u"year"_s, u"2004"_s},
            {u"series"_s, u"The Series"_s}, {u"seriesNumber"_s, u"3"_s},
            {u"comment"_s, u"A comment"_s}};
        for (const auto& [field, value] : fields)
            QCOMPARE(shown(control<QLineEdit>(c, field)), value);
        QCOMPARE(shown(control<QPlainTextEdit>(c, u"description"_s)), kLongDescription);
        auto* well = control<ArtworkWell>(c, u"artwork"_s);
        QCOMPARE(QAccessible::queryAccessibleInterface(well)->text(QAccessible::Description),
                 u"A cover of 120 \u00d7 90 pixels; drop another image here to replace it"_s);
        QTest::mouseClick(control<QPushButton>(c, u"tagDone"_s), Qt::LeftButton);
        QTRY_VERIFY(!narrator->isVisible());
        activate(c);
        QVERIFY(saveWithKeys(c, book));
        QVERIFY(app.dialogs->allAlerts.isEmpty());
        const QStringList after = tagsRead(book);
        QVERIFY2(after == before, qPrintable(u"before:\n  %1\nafter:\n  %2"_s.arg(
                                      listed(before), listed(after))));
        QCOMPARE(modeOf(book), mode_t(0640));
        QCOMPARE(audioChecksum(book), audio);

        // One field edited: only its lines differ.
        activate(c);
        QTest::keyClick(c.window(), Qt::Key_T, Qt::ControlModifier);
        QTRY_VERIFY(narrator->isVisible());
        retype(narrator, u"Another Reader"_s);
        QTest::mouseClick(control<QPushButton>(c, u"tagDone"_s), Qt::LeftButton);
        QTRY_VERIFY(!narrator->isVisible());
        activate(c);
        QVERIFY(saveWithKeys(c, book));
        const QStringList edited = tagsRead(book);
        const QSet<QString> old(before.begin(), before.end());
        const QSet<QString> now(edited.begin(), edited.end());
        const QStringList gone = QSet(old).subtract(now).values();
        const QStringList added = QSet(now).subtract(old).values();
        const QString report = u"gone:\n  %1\nadded:\n  %2"_s.arg(listed(gone), listed(added));
        QVERIFY2(!gone.isEmpty() && !added.isEmpty(), qPrintable(report));
        for (const QString& line : gone)
            QVERIFY2(line.contains(u"The Narrator"_s), qPrintable(report));
        for (const QString& line : added)
            QVERIFY2(line.contains(u"Another Reader"_s), qPrintable(report));
        QCOMPARE(modeOf(book), mode_t(0640));
        QCOMPARE(audioChecksum(book), audio);
    }

    void aCoverIsReadFromEveryKindOfFile_data()
    {
        QTest::addColumn<QString>("name");
        // Whether the kind marks a front cover, so that a back cover can
        // come first and be passed over.
        QTest::addColumn<bool>("typed");
        QTest::newRow("mp3, ID3v2 APIC") << u"a.mp3"_s << true;
        QTest::newRow("m4a, covr") << u"a.m4a"_s << false;
        QTest::newRow("flac, PICTURE") << u"a.flac"_s << true;
        QTest::newRow("ogg, METADATA_BLOCK_PICTURE") << u"a.ogg"_s << true;
        QTest::newRow("opus, METADATA_BLOCK_PICTURE") << u"a.opus"_s << true;
        QTest::newRow("wma, WM/Picture") << u"a.wma"_s << true;
    }

    void aCoverIsReadFromEveryKindOfFile()
    {
        QFETCH(QString, name);
        QFETCH(bool, typed);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const Covers covers = makeCovers(environment.sources());
        const QString path = environment.sources() + u'/' + name;
        QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=d=2"_s, path}));
        // mutagen writes each kind's pictures as its own taggers do.
        QVERIFY(python(uR"(
import base64, sys
import mutagen
from mutagen.asf import ASFByteArrayAttribute
from mutagen.flac import Picture
from mutagen.id3 import APIC
from mutagen.mp4 import MP4Cover
path, front, back, typed = sys.argv[1], open(sys.argv[2], 'rb').read(), open(sys.argv[3], 'rb').read(), sys.argv[4] == '1'
audio = mutagen.File(path)
def picture(data, mime, kind):
    p = Picture()
    p.data, p.mime, p.type = data, mime, kind
    return p
pictures = [(back, 'image/png', 4), (front, 'image/jpeg', 3)] if typed else [(front, 'image/jpeg', 3)]
if path.endswith('.mp3'):
    if audio.tags is None:
        audio.add_tags()
    for data, mime, kind in pictures:
        audio.tags.add(APIC(encoding=3, mime=mime, type=kind, desc=str(kind), data=data))
elif path.endswith('.m4a'):
    audio['covr'] = [MP4Cover(front, MP4Cover.FORMAT_JPEG), MP4Cover(back, MP4Cover.FORMAT_PNG)]
elif path.endswith('.flac'):
    for data, mime, kind in pictures:
        audio.add_picture(picture(data, mime, kind))
elif path.endswith('.wma'):
    import struct
    def wm(data, mime, kind):
        text = lambda s: s.encode('utf-16-le') + b'\0\0'
        return ASFByteArrayAttribute(struct.pack('<BI', kind, len(data)) + text(mime) + text('') + data)
    audio['WM/Picture'] = [wm(*each) for each in pictures]
else:
    audio['METADATA_BLOCK_PICTURE'] = [base64.b64encode(picture(*each).write()).decode() for each in pictures]
audio.save()
)"_s,
                       {path, covers.front, covers.back, typed ? u"1"_s : u"0"_s}));
        QVERIFY(SourceTags::read(path).hasCover);
        const SourceTags::Picture cover = SourceTags::cover(path);
        QCOMPARE(cover.data, readFile(covers.front));
        QCOMPARE(cover.mimeType, u"image/jpeg"_s);
    }

    // Files that carry covers, none of them MP3, give the book the first
    // file's cover without the user choosing one.
    void aBookTakesTheFirstFilesCoverOfAnyKind()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        QStringList files;
        const QList<std::pair<QString, Qt::GlobalColor>> made{
            {u"1.flac"_s, Qt::blue}, {u"2.ogg"_s, Qt::yellow}, {u"3.m4a"_s, Qt::magenta}};
        for (const auto& [name, colour] : made) {
            const QString path = environment.sources() + u'/' + name;
            const QString image = path + u".png"_s;
            QImage cover(64, 64, QImage::Format_RGB32);
            cover.fill(colour);
            QVERIFY(cover.save(image));
            QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=d=2"_s, path}));
            QVERIFY(python(uR"(
import base64, sys
import mutagen
from mutagen.flac import Picture
from mutagen.mp4 import MP4Cover
audio = mutagen.File(sys.argv[1])
data = open(sys.argv[2], 'rb').read()
p = Picture()
p.data, p.mime, p.type = data, 'image/png', 3
if sys.argv[1].endswith('.flac'):
    audio.add_picture(p)
elif sys.argv[1].endswith('.m4a'):
    audio['covr'] = [MP4Cover(data, MP4Cover.FORMAT_PNG)]
else:
    audio['METADATA_BLOCK_PICTURE'] = [base64.b64encode(p.write()).decode()]
audio.save()
)"_s,
                           {path, image}));
            files << path;
        }
        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        QTest::keyClick(c.window(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(app.dialogs->openPanels.size(), size_t(1));
        app.dialogs->openPanels.front().didEnd(1, files);
        app.dialogs->openPanels.pop_front();
        QVERIFY(waitUntilListed(c));
        auto* well = control<ArtworkWell>(c, u"artwork"_s);
        QTRY_VERIFY(QAccessible::queryAccessibleInterface(well)
                        ->text(QAccessible::Description)
                        .startsWith(u"A cover of 64 \u00d7 64 pixels"_s));
        nameBook(c, u"Covered"_s, u"Bookmark"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        const QString book = environment.desktop() + u"/Covered.m4b"_s;
        const QImage cover = QImage::fromData(
            toolOutput(u"exiftool"_s, {u"-b"_s, u"-CoverArt"_s, book}).value_or(QByteArray()));
        QVERIFY(!cover.isNull());
        // The first file's blue, encoded again as JPEG.
        const QColor middle = cover.pixelColor(32, 32);
        QVERIFY2(middle.blue() > 200 && middle.red() < 60 && middle.green() < 60,
                 qPrintable(middle.name()));
    }

    void aSaveReplacesTheFileThatALinkNames_data()
    {
        QTest::addColumn<bool>("symbolic");
        QTest::newRow("a symbolic link") << true;
        QTest::newRow("a hard link") << false;
    }

    // Saved through one of its names, a book is changed for all of them,
    // and keeps its mode.
    void aSaveReplacesTheFileThatALinkNames()
    {
        QFETCH(bool, symbolic);
        TestEnvironment environment;
        QDir().mkpath(environment.sources() + u"/shelf"_s);
        const Covers covers = makeCovers(environment.sources());
        const QString book = environment.sources() + u"/shelf/Book.m4b"_s;
        QVERIFY(makeTaggedBook(book, Tagger::AtomicParsley, covers));
        QVERIFY(::chmod(QFile::encodeName(book).constData(), 0604) == 0);
        const QString link = environment.sources() + u"/Linked.m4b"_s;
        QVERIFY(symbolic ? QFile::link(book, link)
                         : ::link(QFile::encodeName(book).constData(),
                                  QFile::encodeName(link).constData()) == 0);
        const QStringList before = tagsRead(book);
        BookTag tag;
        tag.title = u"Renamed Book"_s;
        tag.written = BookTag::Field::Title;
        QCOMPARE(BookSaver::save(link, link, tag), QString());
        QCOMPARE(QFileInfo(link).isSymLink(), symbolic);
        for (const QString& path : {book, link}) {
            QCOMPARE(probe(path)[u"format"_s][u"tags"_s][u"title"_s].toString(),
                     u"Renamed Book"_s);
            QCOMPARE(modeOf(path), mode_t(0604));
        }
        if (!symbolic)
            QCOMPARE(inodeOf(book), inodeOf(link));
        QStringList after = tagsRead(book);
        after.replaceInStrings(u"Renamed Book"_s, u"Tagged Book"_s);
        QCOMPARE(after, before);
        // Nothing is left beside either name.
        QCOMPARE(QDir(environment.sources() + u"/shelf"_s)
                     .entryList({u"*.m4b"_s, u".*"_s}, QDir::Files | QDir::Hidden),
                 QStringList{u"Book.m4b"_s});
    }
};

QTEST_MAIN(TestBookTags)
#include "tst_booktags.moc"
