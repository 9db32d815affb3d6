// Files that carry chapter marks of their own, as other tools and library
// loans make them: each mark becomes a chapter of the book, in its place.
#include "TestSupport.h"

#include <QAccessible>
#include <QJsonArray>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTone = u"sine=frequency=440:duration=8"_s;

} // namespace

class TestMarks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aFilesOwnMarksAreChaptersOfTheBook_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("note");
        QTest::newRow("ID3 chapter frames, as an .m4b")
            << u"id3"_s << u"Bookmark"_s << u"2 chapters of its own."_s;
        QTest::newRow("ID3 chapter frames, as an .mp3")
            << u"id3"_s << u"MP3"_s << u"2 chapters of its own."_s;
        QTest::newRow("OverDrive MediaMarkers")
            << u"overdrive"_s << u"Bookmark"_s << u"2 chapters of its own."_s;
        QTest::newRow("a CUE sheet beside a FLAC file")
            << u"cue"_s << u"Bookmark"_s << u"2 chapters of its own."_s;
        QTest::newRow("Vorbis chapter comments in an Ogg file")
            << u"vorbis ogg"_s << u"Bookmark"_s << u"2 chapters of its own."_s;
        QTest::newRow("Vorbis chapter comments in an Opus file, as an .mp3")
            << u"vorbis opus"_s << u"MP3"_s << u"2 chapters of its own."_s;
        QTest::newRow("MP4 chapters in an .m4a")
            << u"mp4 m4a"_s << u"Bookmark"_s << u"2 chapters of its own."_s;
        QTest::newRow("marks out of order and past the end")
            << u"bad cue"_s << u"Bookmark"_s
            << u"2 chapters of its own; 2 chapter marks were dropped: they lie past the file's "
               u"end, or not after the mark before."_s;
    }

    void aFilesOwnMarksAreChaptersOfTheBook()
    {
        QFETCH(QString, kind);
        QFETCH(QString, encoding);
        QFETCH(QString, note);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString plain = environment.sources() + u"/01 plain.mp3"_s;
        QVERIFY(makeMp3(plain, 3));
        const bool cue = kind.endsWith(u"cue"_s);
        const QString extension = cue ? u"flac"_s : kind.contains(u' ') ? kind.section(u' ', 1) : u"mp3"_s;
        const QString marked = environment.sources() + u"/02 marked."_s + extension;
        const QString metadata = environment.root() + u"/chapters.txt"_s;
        QVERIFY(writeFile(metadata,
                          ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=4000\n"
                          "title=Inner A\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=4000\n"
                          "END=8000\ntitle=Inner B\n"));
        if (kind == u"id3"_s || kind == u"mp4 m4a"_s) {
            QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, kTone, u"-i"_s, metadata,
                               u"-map_chapters"_s, u"1"_s, u"-ar"_s, u"44100"_s, u"-ac"_s, u"2"_s,
                               marked}));
        } else if (kind.startsWith(u"vorbis"_s)) {
            // Written as the comments CHAPTER001=00:00:00.000 and CHAPTER001NAME=Inner A.
            QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, kTone, u"-ar"_s, u"48000"_s, u"-ac"_s,
                               u"2"_s, u"-metadata"_s, u"CHAPTER001=00:00:00.000"_s, u"-metadata"_s,
                               u"CHAPTER001NAME=Inner A"_s, u"-metadata"_s,
                               u"CHAPTER002=00:00:04.000"_s, u"-metadata"_s,
                               u"CHAPTER002NAME=Inner B"_s, marked}));
        } else if (kind == u"overdrive"_s) {
            QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, kTone, u"-ar"_s, u"44100"_s, u"-ac"_s,
                               u"2"_s, u"-metadata"_s,
                               u"OverDrive MediaMarkers=<Markers><Marker><Name>Inner A</Name>"
                               u"<Time>0:00.000</Time></Marker><Marker><Name>Inner B</Name>"
                               u"<Time>0:04.000</Time></Marker></Markers>"_s,
                               marked}));
        } else {
            QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, kTone, u"-ac"_s, u"2"_s, marked}));
            QByteArray sheet = "REM made by a ripper\nFILE \"02 marked.wav\" WAVE\n"
                               "  TRACK 01 AUDIO\n    TITLE \"Inner A\"\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n    TITLE \"Inner B\"\n    INDEX 01 00:04:00\n";
            if (kind == u"bad cue"_s)
                sheet += "  TRACK 03 AUDIO\n    TITLE \"Back\"\n    INDEX 01 00:02:00\n"
                         "  TRACK 04 AUDIO\n    TITLE \"Past\"\n    INDEX 01 09:00:00\n";
            QVERIFY(writeFile(environment.sources() + u"/Book.cue"_s, sheet));
        }

        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({plain, marked});
        QVERIFY(waitUntilListed(c));
        if (c.tableData().at(0)->pathColumn != plain)
            c.autoSort();
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.table());
        QCOMPARE(table->tableInterface()->cellAt(1, 1)->text(QAccessible::Description), note);

        nameBook(c, u"Marked"_s, encoding);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QVERIFY2(app.dialogs->allAlerts.isEmpty(),
                 qPrintable(app.dialogs->allAlerts.value(0).detail));
        const QString book =
            environment.desktop() + (encoding == u"MP3"_s ? u"/Marked.mp3"_s : u"/Marked.m4b"_s);
        const QJsonArray chapters = probe(book)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        const QStringList titles{u"01 plain"_s, u"Inner A"_s, u"Inner B"_s};
        QList<double> starts;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(chapters.at(i)[u"tags"_s][u"title"_s].toString(), titles.at(i));
            starts << chapters.at(i)[u"start_time"_s].toString().toDouble();
        }
        // The marked file starts where the plain one ends, give or take
        // what an MP3 book keeps of the encoders' delays; its second mark lies
        // 4 s into it, to within one AAC frame.
        QVERIFY2(qAbs(starts.at(1) - 3) < 0.06, qPrintable(u"file at %1"_s.arg(starts.at(1))));
        QVERIFY2(qAbs(starts.at(2) - starts.at(1) - 4) < 0.024,
                 qPrintable(u"mark at %1"_s.arg(starts.at(2))));
    }
};

QTEST_MAIN(TestMarks)
#include "tst_marks.moc"
