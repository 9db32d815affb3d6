// Chapters found by silence: where ffmpeg's silencedetect is run and how its
// findings become proposed starts, and speech with known pauses searched
// through the window, its proposals taken and made into a book.
#include "SilenceFinder.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QProcess>
#include <QTableView>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

using Silence = SilenceFinder::Silence;
using Piece = SilenceFinder::Piece;
Q_DECLARE_METATYPE(QList<Silence>)
Q_DECLARE_METATYPE(QList<Piece>)

namespace {

// The book's speech: three passages with pauses of 3 s and 2.5 s between.
const QStringList kPassages{
    u"This is the first chapter of the book. It is short, and it ends in a long pause."_s,
    u"Here the second chapter begins. It has a sentence or two, and then it stops."_s,
    u"The third chapter is the last one. It goes on for a while, with a sentence more than the "
    "others, and then another one. After it, the book is over."_s};

bool speak(const QString& text, const QString& path)
{
    return QProcess::execute(u"espeak-ng"_s, {u"-w"_s, path, text}) == 0;
}

// The book's audio as 16-bit mono samples at 22050 Hz, read by ffmpeg alone.
QList<qint16> samplesOf(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start(u"ffmpeg"_s, {u"-v"_s, u"error"_s, u"-i"_s, path, u"-f"_s, u"s16le"_s, u"-ac"_s,
                               u"1"_s, u"-ar"_s, u"22050"_s, u"-"_s});
    ffmpeg.waitForFinished(60000);
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    QList<qint16> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.constData(), static_cast<std::size_t>(samples.size()) * 2);
    return samples;
}

QStringList cellsOf(QTableView* table, int column)
{
    if (QAccessibleInterface* old = QAccessible::queryAccessibleInterface(table))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
    QAccessibleTableInterface* read =
        QAccessible::queryAccessibleInterface(table)->tableInterface();
    QStringList cells;
    for (int row = 0; row < read->rowCount(); ++row)
        cells << read->cellAt(row, column)->text(QAccessible::Name);
    return cells;
}

double seconds(const QString& bookTime)
{
    const QStringList parts = bookTime.split(u':');
    return parts.at(0).toDouble() * 3600 + parts.at(1).toDouble() * 60 + parts.at(2).toDouble();
}

void typeInto(QDoubleSpinBox* box, const QString& text)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}

QPushButton* buttonNamed(const AppController& c, const QString& text)
{
    for (QPushButton* button : c.window()->findChildren<QPushButton*>()) {
        if (button->text() == text && button->isVisible())
            return button;
    }
    qFatal("no button %s", qPrintable(text));
}

} // namespace

class TestSilence : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void longFilesAreSearchedInPieces_data()
    {
        QTest::addColumn<QList<double>>("lengths");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QList<Piece>>("pieces");
        QTest::newRow("short files whole, the longest first")
            << QList<double>{60, 240, 0} << 2 << QList<Piece>{{1, 0, 0}, {0, 0, 0}, {2, 0, 0}};
        // 10 h on 2 cores: eight pieces of 75 min, so that neither core waits.
        QList<Piece> eight;
        for (int k = 0; k < 8; ++k)
            eight.append({0, 4500.0 * k, 4500});
        QTest::newRow("one long file in equal pieces") << QList<double>{36000} << 2 << eight;
        QTest::newRow("pieces no shorter than five minutes")
            << QList<double>{900} << 8 << QList<Piece>{{0, 0, 300}, {0, 300, 300}, {0, 600, 300}};
    }

    void longFilesAreSearchedInPieces()
    {
        QFETCH(QList<double>, lengths);
        QFETCH(int, jobs);
        QFETCH(QList<Piece>, pieces);
        QList<SilenceFinder::Source> sources;
        for (const double length : lengths)
            sources.append({u"x"_s, length});
        QCOMPARE(SilenceFinder::pieces(sources, jobs), pieces);
    }

    void silencesAcrossPiecesAreOne()
    {
        // One silence from 299 s to 303 s, seen by the piece before 300 s (to
        // its overlap's end) and by the piece after it (from its start).
        const QByteArray before =
            "[silencedetect @ 0x1] silence_start: 299\r\nframe=1 time=00:05:00\r"
            "[silencedetect @ 0x1] silence_end: 302.5 | silence_duration: 3.5\n";
        const QByteArray after = "[silencedetect @ 0x2] silence_start: 0\n[silencedetect @ 0x2] "
                                 "silence_end: 3 | silence_duration: 3\n[silencedetect @ 0x2] "
                                 "silence_start: 10.25\n";
        QList<Silence> found = SilenceFinder::parsed(before, 0) + SilenceFinder::parsed(after, 300);
        QCOMPARE(SilenceFinder::merged(found), (QList<Silence>{{299, 303}}));
    }

    void proposalsLieJustBeforeTheSpeech_data()
    {
        QTest::addColumn<QList<Silence>>("silences");
        QTest::addColumn<double>("shortestChapter");
        QTest::addColumn<QList<double>>("proposed");
        QTest::newRow("0.3 s before the sound, or half a short silence")
            << QList<Silence>{{100, 102}, {300, 300.4}} << 60.0 << QList<double>{101.7, 300.2};
        QTest::newRow("the longer of two near silences wins")
            << QList<Silence>{{200, 202}, {230, 235}} << 60.0 << QList<double>{234.7};
        QTest::newRow("none near the file's start, its end, or after a last silence")
            << QList<Silence>{{10, 13}, {500, 503}, {590, 600}} << 60.0 << QList<double>{502.7};
    }

    void proposalsLieJustBeforeTheSpeech()
    {
        QFETCH(QList<Silence>, silences);
        QFETCH(double, shortestChapter);
        QFETCH(QList<double>, proposed);
        QCOMPARE(SilenceFinder::proposals(silences, 600, {0}, shortestChapter), proposed);
    }

    // Speech with known pauses: the window proposes a start before each
    // long pause's end, where the speech resumes 0.3 s later; taken, they
    // are the book's chapters. Split Long Chapters cuts at the same places.
    void speechIsChapteredAtItsPauses()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        QStringList args;
        for (qsizetype i = 0; i < kPassages.size(); ++i) {
            const QString part = environment.root() + u"/part%1.wav"_s.arg(i);
            QVERIFY2(speak(kPassages.at(i), part), "espeak-ng did not speak");
            args << u"-i"_s << part;
        }
        const QString book = environment.sources() + u"/Spoken.flac"_s;
        QVERIFY(
            runFfmpeg(args + QStringList{u"-filter_complex"_s,
                                         u"aevalsrc=0:d=3:s=22050[p1];aevalsrc=0:d=2.5:s=22050[p2];"
                                         "[0][p1][1][p2][2]concat=n=5:v=0:a=1"_s,
                                         u"-ac"_s, u"1"_s, book}));

        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        c.applicationOpenFiles({book});
        QVERIFY(waitUntilListed(c));
        QTest::keyClick(c.window(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        auto* sheet = c.window()->findChild<QDialog*>(u"silenceSheet"_s);
        QVERIFY(sheet && sheet->isVisible());
        typeInto(sheet->findChild<QDoubleSpinBox*>(u"chapterMinutes"_s), u"0.1"_s);
        QTest::mouseClick(sheet->findChild<QPushButton*>(u"silenceSearch"_s), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!sheet->isVisible(), 60000);

        auto* table = c.window()->findChild<QTableView*>(u"chapterTable"_s);
        const QStringList titles = cellsOf(table, 0);
        QCOMPARE(titles, (QStringList{u"Spoken"_s, u"Proposed start"_s, u"Proposed start"_s}));
        QList<double> proposed;
        for (const QString& start : cellsOf(table, 1).mid(1))
            proposed << seconds(start);

        // Read from the audio itself: quiet up to each proposal, sound 0.3 s after it.
        const QList<qint16> samples = samplesOf(book);
        const auto loud = [](qint16 s) { return std::abs(s) > 583; }; // -35 dBFS
        for (const double at : proposed) {
            const auto index = static_cast<qsizetype>(at * 22050);
            QVERIFY(std::none_of(samples.begin() + index - 11025, samples.begin() + index, loud));
            const auto sound = std::find_if(samples.begin() + index, samples.end(), loud);
            const double resumes = static_cast<double>(sound - samples.begin()) / 22050;
            QVERIFY2(resumes - at > 0.28 && resumes - at < 0.32,
                     qPrintable(u"proposed %1, speech at %2"_s.arg(at).arg(resumes)));
        }

        QTest::mouseClick(buttonNamed(c, u"Take All"_s), Qt::LeftButton);
        QCOMPARE(cellsOf(table, 0), (QStringList{u"Spoken"_s, u"Chapter 2"_s, u"Chapter 3"_s}));
        nameBook(c, u"Spoken"_s, u"Bookmark"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        const QJsonArray chapters =
            probe(environment.desktop() + u"/Spoken.m4b"_s)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), 3);
        for (int i = 1; i < 3; ++i) {
            const double start = chapters.at(i)[u"start_time"_s].toString().toDouble();
            QVERIFY2(qAbs(start - proposed.at(i - 1)) < 0.024,
                     qPrintable(u"chapter %1 at %2"_s.arg(i + 1).arg(start)));
        }

        // Chapters over 9 s are cut at the silence nearest each 9 s from the last cut.
        activate(c);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(cellsOf(table, 0),
                 (QStringList{u"Spoken"_s, u"Proposed start"_s, u"Proposed start"_s}));
        QTest::mouseClick(buttonNamed(c, u"Drop All"_s), Qt::LeftButton);
        QCOMPARE(cellsOf(table, 0), QStringList{u"Spoken"_s});
        c.window()->findChild<QAction*>(u"actionSplitLongChapters"_s)->trigger();
        typeInto(sheet->findChild<QDoubleSpinBox*>(u"chapterMinutes"_s), u"0.15"_s);
        QTest::mouseClick(sheet->findChild<QPushButton*>(u"silenceSearch"_s), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!sheet->isVisible(), 60000);
        QList<double> cuts;
        for (const QString& start : cellsOf(table, 1).mid(1))
            cuts << seconds(start);
        QCOMPARE(cuts, proposed);
    }
};

QTEST_MAIN(TestSilence)
#include "tst_silence.moc"
