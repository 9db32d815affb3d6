// Even Volume: books made of speech recorded at three loudnesses, levelled
// for each file, for the whole book, or not, and read by ffmpeg's own
// EBU R128 meter.
#include "BookRun.h"
#include "ItemTableModel.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

struct R128
{
    double integrated = 0;
    double truePeak = 0;
};

// ffmpeg's ebur128 filter on a stretch of a file, or all of it.
R128 measured(const QString& path, double start = 0, double length = 0)
{
    QStringList arguments{u"-nostdin"_s, u"-hide_banner"_s};
    if (length > 0)
        arguments << u"-ss"_s << QString::number(start) << u"-t"_s << QString::number(length);
    arguments << u"-i"_s << path << u"-af"_s << u"ebur128=peak=true"_s << u"-f"_s << u"null"_s
              << u"-"_s;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG), arguments);
    ffmpeg.waitForFinished(120000);
    const QString said = QString::fromUtf8(ffmpeg.readAllStandardError());
    const qsizetype summary = said.lastIndexOf(u"Summary:"_s);
    const auto number = [&](const QString& label) {
        const QRegularExpression pattern(label + u":\\s+(-?[0-9.]+|-inf)"_s);
        const QRegularExpressionMatch match = pattern.match(said, summary);
        return match.hasMatch() ? match.captured(1).toDouble() : NAN;
    };
    return {.integrated = number(u"I"_s), .truePeak = number(u"Peak"_s)};
}

// A spoken passage as an MP3 file at a given loudness; with a click, a
// burst near full scale at its start that any gain would push past the
// ceiling. The voice is first compressed, as the masters of audiobooks are,
// so that even the loudest file has room for its peaks.
bool speak(const QString& path, const QString& text, double loudness, bool click = false)
{
    const QString raw = path + u".raw.wav"_s;
    const QString wav = path + u".wav"_s;
    if (QProcess::execute(u"espeak-ng"_s, {u"-w"_s, raw, text}) != 0 ||
        QProcess::execute(QStringLiteral(FABLEWICK_FFMPEG),
                          {u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-i"_s, raw, u"-af"_s,
                           u"volume=8dB,alimiter=limit=0.3:level=disabled"_s, wav}) != 0 ||
        !QFile::remove(raw))
        return false;
    const double gain = loudness - measured(wav).integrated;
    QStringList arguments{u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-i"_s, wav};
    if (click)
        arguments << u"-f"_s << u"lavfi"_s << u"-i"_s << u"sine=f=1000:d=0.05"_s
                  << u"-filter_complex"_s
                  << u"[0]volume=%1dB[s];[1]volume=17.5dB[c];[c][s]concat=n=2:v=0:a=1"_s.arg(gain);
    else
        arguments << u"-af"_s << u"volume=%1dB"_s.arg(gain);
    arguments << u"-ar"_s << u"22050"_s << u"-ac"_s << u"1"_s << u"-b:a"_s << u"64k"_s << path;
    return QProcess::execute(QStringLiteral(FABLEWICK_FFMPEG), arguments) == 0 &&
           QFile::remove(wav);
}

const QStringList kPassages{
    u"The first part of the story begins on a quiet morning, when the house was still asleep "
    "and nobody had yet come down to light the stove in the kitchen."_s,
    u"In the second part the travellers reach the river, and they argue for a long time about "
    "whether to cross it before the evening or to wait for the ferry."_s,
    u"The third part tells how the letter was found at last, folded twice and hidden behind "
    "the portrait of the old captain above the fireplace."_s};

struct Book
{
    TestEnvironment environment;
    ItemList records;
    QList<double> starts;
    QList<double> lengths;

    // Speech at each loudness, with a click in the file where asked.
    bool make(const QList<double>& loudness, int clickIn = -1)
    {
        double start = 0;
        for (qsizetype i = 0; i < loudness.size(); ++i) {
            const QString path = environment.sources() + u"/%1.mp3"_s.arg(i + 1);
            if (!speak(path, kPassages.at(i % kPassages.size()), loudness.at(i), i == clickIn))
                return false;
            auto record = std::make_shared<ItemRecord>();
            record->pathColumn = path;
            record->titleColumn = ItemRecord::titleForPath(path);
            record->lengthColumn = measuredLength(path);
            records << record;
            starts << start;
            lengths << *record->lengthColumn;
            start += lengths.constLast();
        }
        return true;
    }
    static double measuredLength(const QString& path)
    {
        return probe(path)[u"format"_s][u"duration"_s].toString().toDouble();
    }

    // The book made by a run with no window, delivered to path.
    bool run(EvenVolume even, BookFormat format, const QString& path)
    {
        RunRequest request{.files = {},
                           .format = format,
                           .bitRate = u"64k"_s,
                           .sampleRate = u"44100"_s,
                           .mono = true,
                           .tags = {},
                           .outputName = {},
                           .encoders = 0,
                           .evenVolume = even};
        for (const ItemRecordPtr& record : std::as_const(records))
            request.files << *record;
        BookRun book(request, u"Fablewick-levels"_s);
        bool made = false;
        bool ended = false;
        QObject::connect(&book, &Job::succeeded, [&] { made = ended = true; });
        QObject::connect(&book, &Job::failed, [&](const QString& cause) {
            ended = true;
            qWarning("%s", qPrintable(cause));
        });
        book.start();
        return QTest::qWaitFor([&] { return ended; }, 120000) && made && book.deliver(path, false);
    }

    // Each chapter's loudness, inside its file's stretch of the book.
    QList<R128> chapters(const QString& path) const
    {
        QList<R128> found;
        for (qsizetype i = 0; i < starts.size(); ++i)
            found << measured(path, starts.at(i) + 0.2, lengths.at(i) - 0.4);
        return found;
    }
};

} // namespace

class TestEvenVolume : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void levelsTheBook_data()
    {
        QTest::addColumn<int>("even");
        QTest::addColumn<int>("format");
        QTest::newRow("each file, m4b")
            << int(EvenVolume::EachFile) << int(BookFormat::AacBookmark);
        QTest::newRow("each file, mp3") << int(EvenVolume::EachFile) << int(BookFormat::Mp3);
        QTest::newRow("whole book") << int(EvenVolume::WholeBook) << int(BookFormat::AacBookmark);
        QTest::newRow("off") << int(EvenVolume::Off) << int(BookFormat::AacBookmark);
    }
    void levelsTheBook()
    {
        QFETCH(int, even);
        QFETCH(int, format);
        Book book;
        const QList<double> recorded{-30, -14, -22};
        QVERIFY(book.make(recorded));
        const QList<R128> before{measured(book.records.at(0)->pathColumn),
                                 measured(book.records.at(1)->pathColumn),
                                 measured(book.records.at(2)->pathColumn)};
        const QString path =
            book.environment.root() + (format == int(BookFormat::Mp3) ? u"/b.mp3"_s : u"/b.m4b"_s);
        QVERIFY(book.run(static_cast<EvenVolume>(even), static_cast<BookFormat>(format), path));
        const R128 whole = measured(path);
        const QList<R128> chapters = book.chapters(path);
        const QList<R128> sources{
            measured(book.records.at(0)->pathColumn, 0.2, book.lengths.at(0) - 0.4),
            measured(book.records.at(1)->pathColumn, 0.2, book.lengths.at(1) - 0.4),
            measured(book.records.at(2)->pathColumn, 0.2, book.lengths.at(2) - 0.4)};
        const auto say = [&] {
            QStringList words{u"book %1 LUFS, %2 dBTP"_s.arg(whole.integrated).arg(whole.truePeak)};
            for (const R128& c : chapters)
                words << u"%1 LUFS, %2 dBTP"_s.arg(c.integrated).arg(c.truePeak);
            return words.join(u"; "_s);
        };
        if (even == int(EvenVolume::Off)) {
            // As it was: the quiet file as quiet as it was, the loud one as loud.
            QVERIFY2(std::abs(chapters.at(0).integrated - sources.at(0).integrated) < 1,
                     qPrintable(say()));
            QVERIFY2(chapters.at(1).integrated - chapters.at(0).integrated > 13, qPrintable(say()));
            QVERIFY(std::abs(before.at(1).integrated - recorded.at(1)) < 1);
            return;
        }
        QVERIFY2(std::abs(whole.integrated - RunRequest::kTargetLoudness) <= 0.5,
                 qPrintable(say()));
        QVERIFY2(whole.truePeak <= -1.5, qPrintable(say()));
        if (even == int(EvenVolume::EachFile)) {
            const auto [quietest, loudest] = std::minmax_element(
                chapters.begin(), chapters.end(),
                [](const R128& a, const R128& b) { return a.integrated < b.integrated; });
            QVERIFY2(loudest->integrated - quietest->integrated <= 1, qPrintable(say()));
        }
        for (qsizetype i = 0; i < chapters.size(); ++i) {
            if (even == int(EvenVolume::EachFile)) {
                QVERIFY2(std::abs(chapters.at(i).integrated - RunRequest::kTargetLoudness) <= 1,
                         qPrintable(say()));
            } else {
                // One gain for all: their differences are kept.
                const double was = sources.at(i).integrated - sources.at(1).integrated;
                const double is = chapters.at(i).integrated - chapters.at(1).integrated;
                QVERIFY2(std::abs(is - was) <= 1, qPrintable(say()));
            }
        }
    }

    void aPeakThatTheGainWouldClipIsLimited()
    {
        Book book;
        QVERIFY(book.make({-30, -18}, 0));
        QVERIFY2(measured(book.records.at(0)->pathColumn).truePeak > -2.0, "the click is no peak");
        const QString path = book.environment.root() + u"/limited.m4b"_s;
        QVERIFY(book.run(EvenVolume::EachFile, BookFormat::AacBookmark, path));
        const QList<R128> chapters = book.chapters(path);
        const R128 first = measured(path, 0, book.lengths.at(0));
        QVERIFY2(first.truePeak <= -1.5, qPrintable(QString::number(first.truePeak)));
        // Limited where it peaks, not turned down as a whole.
        QVERIFY2(std::abs(chapters.at(0).integrated - RunRequest::kTargetLoudness) <= 1,
                 qPrintable(QString::number(chapters.at(0).integrated)));
    }

    // The sheet's choice, by the keyboard, makes a levelled book, and the
    // list shows each file's loudness to a screen reader.
    void theSheetLevelsAndTheListShowsTheLoudness()
    {
        Book book;
        QVERIFY(book.make({-30, -14}));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({book.records.at(0)->pathColumn, book.records.at(1)->pathColumn});
        QVERIFY(waitUntilListed(c));
        nameBook(c, u"Level"_s, u"MP3"_s);
        auto* even = control<QComboBox>(c, u"outputEvenVolume"_s);
        auto* note = control<QLabel>(c, u"outputEvenVolumeNote"_s);
        QVERIFY(!note->isVisible());
        even->setFocus();
        QTest::keyClick(even, Qt::Key_Down);
        QTest::keyClick(even, Qt::Key_Down);
        QCOMPARE(QAccessible::queryAccessibleInterface(even)->text(QAccessible::Value),
                 u"Each File"_s);
        QVERIFY(note->isVisible());
        QVERIFY(spokenName(note).contains(u"MP3 files are not joined"_s));
        c.startJoin();
        QVERIFY(waitUntilIdle(c, 120000));
        QVERIFY(app.dialogs->allAlerts.isEmpty());
        const R128 made = measured(book.environment.desktop() + u"/Level.mp3"_s);
        QVERIFY2(std::abs(made.integrated - RunRequest::kTargetLoudness) <= 0.5,
                 qPrintable(QString::number(made.integrated)));
        const int column = c.tableModel()->column(u"loudnessColumn"_s).index;
        QCOMPARE(c.tableModel()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(),
                 u"Loudness"_s);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.table());
        QVERIFY(table && table->tableInterface());
        QStringList shown;
        for (int row = 0; row < 2; ++row)
            shown << table->tableInterface()->cellAt(row, column)->text(QAccessible::Name);
        // As ffmpeg's own meter reads the file, give or take its resampling.
        for (int row = 0; row < 2; ++row) {
            QVERIFY2(shown.at(row).endsWith(u" LUFS"_s), qPrintable(shown.join(u", "_s)));
            const double own = measured(c.tableData().at(row)->pathColumn).integrated;
            QVERIFY2(std::abs(shown.at(row).chopped(5).toDouble() - own) <= 0.6,
                     qPrintable(shown.join(u", "_s) + u" against "_s + QString::number(own)));
        }
    }
};

QTEST_MAIN(TestEvenVolume)
#include "tst_evenvolume.moc"
