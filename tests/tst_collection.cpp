// Tagged collections as they arrive: files from lame and ffmpeg with ID3v2.3
// and 2.4 tags, a large embedded cover, a file without tags, two discs,
// file names that say little. The window is driven as a user drives it.
#include "ArtworkWell.h"
#include "Resources.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeData>
#include <QProcess>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// What a screen reader reads in a field.
QString spokenValue(QWidget* widget)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Value) : QString();
}

// The title column as a screen reader reads it, row by row, with each
// row's description.
QStringList spokenTitles(const AppController& c, QStringList* descriptions = nullptr)
{
    QAccessibleTableInterface* table =
        QAccessible::queryAccessibleInterface(c.table())->tableInterface();
    QStringList titles;
    for (int row = 0; row < table->rowCount(); ++row) {
        titles << table->cellAt(row, 1)->text(QAccessible::Name);
        if (descriptions)
            *descriptions << table->cellAt(row, 1)->text(QAccessible::Description);
    }
    return titles;
}

void makeBook(AppController& c, const QString& encoding)
{
    c.joinAll();
    // Files without an album give no title to take the book's name from.
    auto* name = control<QLineEdit>(c, u"outputName"_s);
    if (name->text().isEmpty())
        name->setText(u"Book"_s);
    chooseEncoding(c, encoding);
    QTest::mouseClick(control<QPushButton>(c, u"outputStart"_s), Qt::LeftButton);
    QVERIFY(waitUntilIdle(c));
}

// Sixteen chapters on two discs of eight tracks, made by lame and by
// ffmpeg; the last file has no tags at all.
struct Collection
{
    Collection()
    {
        for (int i = 0; i < 16; ++i) {
            const int disc = i < 8 ? 1 : 2;
            const int track = i % 8 + 1;
            titles << u"Chapter %1: Part %2"_s.arg(i + 1).arg(QChar(u'A' + i));
            tones << QList<int>{400, 1000, 600, 1400, 800, 1800}.at(i % 6);
            SourceRecipe recipe;
            recipe.lame = i % 3 == 0;
            recipe.options = recipe.lame ? QStringList{u"-b"_s, u"64"_s}
                                     : QStringList{u"-b:a"_s, u"64k"_s};
            recipe.id3Version = i % 2 == 0 ? 4 : 3;
            recipe.coverSize = i == 2 ? 1400 : 0;
            recipe.tags = {{u"title"_s, titles.constLast()},
                         {u"album"_s, u"The Silent Sea"_s},
                         {u"artist"_s, u"Ann Author"_s},
                         {u"album_artist"_s, u"Ann Author"_s},
                         {u"composer"_s, u"Ned Narrator"_s},
                         {u"date"_s, u"2011"_s},
                         {u"track"_s, u"%1/8"_s.arg(track)},
                         {u"disc"_s, u"%1/2"_s.arg(disc)}};
            if (i == 15) {
                recipe = SourceRecipe();
                recipe.options = {u"-b:a"_s, u"64k"_s};
                recipe.id3Version = 0;
            }
            // Names that put neither plain nor natural order near track order.
            const QString name = u"%1 %2.mp3"_s.arg((i * 7) % 16).arg(i % 2 ? u"x"_s : u"y"_s);
            paths << environment.sources() + u'/' + name;
            if (!makeSource(paths.constLast(), 1.7 + 0.1 * (i % 4), tones.constLast(), 44100, 1,
                            recipe))
                qFatal("cannot make %s", qPrintable(name));
        }
        // Without tags, the last file's title is its name.
        titles.last() = QFileInfo(paths.constLast()).completeBaseName();
    }

    TestEnvironment environment;
    QStringList paths;
    QStringList titles;
    QList<int> tones;
};

// Where each chapter after the first starts, against where its tone starts
// as a player decodes the book: an MP3 book as VLC does, with mpg123.
double worstChapterStart(const QString& book, const QList<int>& tones)
{
    const QJsonArray chapters = probe(book)[u"chapters"_s].toArray();
    const QList<qint16> samples =
        book.endsWith(u".mp3"_s) ? decodeMonoWithMpg123(book) : decodeMono(book, 8000);
    const QList<double> found = toneBoundaries(samples, 8000, tones);
    double worst = chapters.size() == tones.size() ? 0 : 1e9;
    for (qsizetype i = 1; i < chapters.size() && i - 1 < found.size(); ++i)
        worst = std::max(worst, std::abs(chapters.at(i)[u"start_time"_s].toString().toDouble() -
                                         found.at(i - 1)));
    return worst;
}

} // namespace

class TestCollection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aTaggedCollectionBecomesATaggedBook_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("book");
        QTest::newRow("AAC bookmarkable") << u"Bookmark"_s << u"The Silent Sea.m4b"_s;
        QTest::newRow("MP3") << u"MP3"_s << u"The Silent Sea.mp3"_s;
    }

    // Listed in scrambled order: Sort by Track and Titles from Tags, with
    // the tag sheet as the files filled it, make the book.
    void aTaggedCollectionBecomesATaggedBook()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, book);
        Collection collection;
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(collection.paths);
        QVERIFY(waitUntilListed(c));
        activate(c);

        // The tag sheet, untouched, holds what the files agree on.
        QCOMPARE(spokenValue(control<QLineEdit>(c, u"title"_s)), u"The Silent Sea"_s);
        QCOMPARE(spokenValue(control<QLineEdit>(c, u"album"_s)), u"The Silent Sea"_s);
        QCOMPARE(spokenValue(control<QLineEdit>(c, u"artist"_s)), u"Ann Author"_s);
        QCOMPARE(spokenValue(control<QLineEdit>(c, u"narrator"_s)), u"Ned Narrator"_s);
        QCOMPARE(spokenValue(control<QLineEdit>(c, u"year"_s)), u"2011"_s);
        QCOMPARE(control<ArtworkWell>(c, u"artwork"_s)->image().size(), QSize(1400, 1400));

        QTest::keyClick(c.window(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(c.window(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(spokenTitles(c), collection.titles);

        makeBook(c, encoding);
        QVERIFY(app.dialogs->allAlerts.isEmpty());
        const QString path = collection.environment.desktop() + u'/' + book;
        const QJsonObject info = probe(path);
        const QJsonObject tags = info[u"format"_s][u"tags"_s].toObject();
        QCOMPARE(tags[u"title"_s].toString(), u"The Silent Sea"_s);
        QCOMPARE(tags[u"album"_s].toString(), u"The Silent Sea"_s);
        QCOMPARE(tags[u"artist"_s].toString(), u"Ann Author"_s);
        QCOMPARE(tags[u"composer"_s].toString(), u"Ned Narrator"_s);
        QCOMPARE(tags[u"date"_s].toString().left(4), u"2011"_s);
        QCOMPARE(tags[u"genre"_s].toString(), u"Audiobook"_s);
        // Nothing of the first file's own tags.
        QVERIFY2(!tags.contains(u"track"_s) && !tags.contains(u"disc"_s),
                 QJsonDocument(tags).toJson().constData());
        bool cover = false;
        for (const QJsonValue& stream : info[u"streams"_s].toArray())
            cover = cover || (stream[u"width"_s].toInt() == 1400 &&
                              stream[u"disposition"_s][u"attached_pic"_s].toInt() == 1);
        QVERIFY(cover);

        QStringList chapterTitles;
        for (const QJsonValue& chapter : info[u"chapters"_s].toArray())
            chapterTitles << chapter[u"tags"_s][u"title"_s].toString();
        QCOMPARE(chapterTitles, collection.titles);
        const double worst = worstChapterStart(path, collection.tones);
        QVERIFY2(worst <= 0.05, qPrintable(QString::number(worst)));

        if (encoding == u"MP3"_s) {
            // The frames are the sources' own, joined in track order.
            QStringList joined;
            for (const ItemRecordPtr& record : c.tableData())
                joined << record->pathColumn;
            QCOMPARE(bookFrames(path), sourceFrames(joined));
            QProcess exiftool;
            exiftool.start(u"exiftool"_s, {u"-s3"_s, u"-ID3v2_4:Title"_s, path});
            QVERIFY(exiftool.waitForFinished(30000));
            QCOMPARE(exiftool.readAllStandardOutput().trimmed(), QByteArray("The Silent Sea"));
        } else {
            QProcess atomicParsley;
            atomicParsley.start(
                Resources::pathForResource(u"AtomicParsley"_s, QString()).value_or(QString()),
                {path, u"-t"_s});
            QVERIFY(atomicParsley.waitForFinished(30000));
            const QByteArray said = atomicParsley.readAllStandardOutput();
            QVERIFY2(said.contains("Atom \"stik\" contains: Audiobook") &&
                         said.contains("Atom \"\xc2\xa9wrt\" contains: Ned Narrator"),
                     said.constData());
        }
    }

    // Three files of one chapter: the first files continue into one chapter
    // where the first of them starts, and the command toggles back.
    void severalFilesMakeOneChapter()
    {
        TestEnvironment environment;
        QStringList paths;
        const QList<int> tones{400, 1000, 600, 1400, 800};
        for (int i = 0; i < 5; ++i) {
            paths << environment.sources() + u"/%1.mp3"_s.arg(i + 1);
            QVERIFY(makeTone(paths.constLast(), 1.6, tones.at(i), 44100, 1,
                             {u"-b:a"_s, u"64k"_s}));
        }
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        activate(c);
        // Without tags, the files are put in natural order.
        QTest::keyClick(c.window(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        AudiobookTableView* table = c.table();
        const auto rowAt = [&](int row) {
            return table->visualRect(table->model()->index(row, 1)).center();
        };
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowAt(1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowAt(2));
        for (const bool joined : {true, false, true}) {
            QTest::keyClick(c.window(), Qt::Key_J, Qt::ControlModifier);
            QStringList descriptions;
            spokenTitles(c, &descriptions);
            const QString continues = joined ? u"Continues the chapter above"_s : QString();
            QCOMPARE(descriptions, (QStringList{{}, continues, continues, {}, {}}));
        }
        makeBook(c, u"Bookmark"_s);
        const QString book = environment.desktop() + u"/Book.m4b"_s;
        const QJsonArray chapters = probe(book)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        QCOMPARE(chapters.at(0)[u"tags"_s][u"title"_s].toString(), u"1"_s);
        QCOMPARE(chapters.at(1)[u"tags"_s][u"title"_s].toString(), u"4"_s);
        const QList<double> found = toneBoundaries(decodeMono(book, 8000), 8000, tones);
        QVERIFY(std::abs(chapters.at(1)[u"start_time"_s].toString().toDouble() - found.at(2)) <
                0.05);
    }

    void titlesComeFromTagsOrFileNames()
    {
        TestEnvironment environment;
        const QString tagged = environment.sources() + u"/01.mp3"_s;
        const QString plain = environment.sources() + u"/02.mp3"_s;
        SourceRecipe recipe;
        recipe.options = {u"-b:a"_s, u"32k"_s};
        recipe.tags = {{u"title"_s, u"Prologue"_s}};
        QVERIFY(makeSource(tagged, 0.5, 500, 22050, 1, recipe));
        QVERIFY(makeMp3(plain, 0.5, 22050, 1, 32));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({tagged, plain});
        QVERIFY(waitUntilListed(c));
        activate(c);
        // A title typed by hand stays until one of the commands is chosen.
        AudiobookTableView* table = c.table();
        table->setCurrentIndex(table->model()->index(1, 1));
        QTest::keyClick(table, Qt::Key_F2);
        auto* editor = table->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, u"Epilogue"_s);
        QTest::keyClick(editor, Qt::Key_Return); // saved on the next turn of the loop
        QTRY_COMPARE(spokenTitles(c), (QStringList{u"01"_s, u"Epilogue"_s}));
        QTest::keyClick(c.window(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(spokenTitles(c), (QStringList{u"Prologue"_s, u"Epilogue"_s}));
        QTest::keyClick(c.window(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(spokenTitles(c), (QStringList{u"01"_s, u"02"_s}));
    }

    // Files without numbers follow the numbered ones, in natural order.
    void sortByTrackPutsDiscsAndTracksFirst()
    {
        TestEnvironment environment;
        QStringList paths;
        const auto make = [&](const QString& name, const QString& track, const QString& disc) {
            SourceRecipe recipe;
            recipe.options = {u"-b:a"_s, u"32k"_s};
            if (!track.isEmpty())
                recipe.tags << std::pair(u"track"_s, track);
            if (!disc.isEmpty())
                recipe.tags << std::pair(u"disc"_s, disc);
            paths << environment.sources() + u'/' + name;
            return makeSource(paths.constLast(), 0.3, 500, 22050, 1, recipe);
        };
        QVERIFY(make(u"a.mp3"_s, u"2"_s, u"1"_s));
        QVERIFY(make(u"b.mp3"_s, u"1"_s, u"2"_s));
        QVERIFY(make(u"c.mp3"_s, u"1"_s, u"1"_s));
        QVERIFY(make(u"10.mp3"_s, {}, {}));
        QVERIFY(make(u"9.mp3"_s, {}, {}));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        activate(c);
        const bool direction = c.sortAscending();
        QTest::keyClick(c.window(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(spokenTitles(c), (QStringList{u"c"_s, u"a"_s, u"b"_s, u"9"_s, u"10"_s}));
        QCOMPARE(c.sortAscending(), direction);
    }

    // A folder with a subfolder for each disc, however it comes: its MP3
    // files and nothing else.
    void aFolderOfDiscsIsListed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("dropped on the list") << u"drop"_s;
        QTest::newRow("chosen with Add Folder") << u"menu"_s;
        QTest::newRow("opened with the application") << u"open"_s;
    }

    void aFolderOfDiscsIsListed()
    {
        QFETCH(QString, how);
        TestEnvironment environment;
        const QString folder = environment.sources() + u"/The Book"_s;
        QStringList expected;
        for (const QString& name : {u"CD1/01.mp3"_s, u"CD1/02.mp3"_s, u"CD2/01.mp3"_s,
                                    u"CD2/Part 10.MP3"_s}) {
            QDir().mkpath(QFileInfo(folder + u'/' + name).absolutePath());
            QVERIFY(makeMp3(folder + u'/' + name, 0.3, 22050, 1, 32));
            expected << folder + u'/' + name;
        }
        for (const QString& other : {u"cover.jpg"_s, u"CD1/notes.txt"_s, u"CD2/book.cue"_s})
            QVERIFY(writeFile(folder + u'/' + other, "not audio"));
        // Other audio is listed beside the MP3 files.
        QVERIFY(writeFile(folder + u"/CD2/bonus.wav"_s, "a bonus"));
        expected << folder + u"/CD2/bonus.wav"_s;
        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        if (how == u"drop"_s) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(folder)});
            const QPoint at(40, 40);
            QWidget* viewport = c.table()->viewport();
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &enter);
            QDragMoveEvent over(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &over);
            QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &drop);
        } else if (how == u"menu"_s) {
            QTest::keyClick(c.window(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(app.dialogs->openPanels.size(), 1u);
            QVERIFY(app.dialogs->openPanels.front().shown.choosesFolders);
            app.dialogs->openPanels.front().didEnd(1, {folder});
        } else {
            c.applicationOpenFiles({folder});
        }
        QVERIFY(waitUntilListed(c));
        QStringList listed;
        for (const ItemRecordPtr& record : c.tableData())
            listed << record->pathColumn;
        listed.sort();
        expected.sort();
        QCOMPARE(listed, expected);
    }
};

QTEST_MAIN(TestCollection)
#include "tst_collection.moc"
