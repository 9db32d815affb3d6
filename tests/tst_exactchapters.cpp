#include "DecodedLength.h"
#include "Mp3Frames.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

constexpr int kRate = 8000;

Q_DECLARE_METATYPE(SourceRecipe)

// Each chapter of a made book starts where its file's audio starts in the book.
class TestExactChapters : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chaptersStartWhereTheirAudioStarts_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("CBR 44.1 kHz stereo, ID3v2")
            << 44100 << 2 << QStringList{u"-b:a"_s, u"128k"_s};
        QTest::newRow("CBR 22.05 kHz mono") << 22050 << 1 << QStringList{u"-b:a"_s, u"32k"_s};
        QTest::newRow("CBR 48 kHz, ID3v1 too")
            << 48000 << 2 << QStringList{u"-b:a"_s, u"96k"_s, u"-write_id3v1"_s, u"1"_s};
        QTest::newRow("VBR with a Xing header") << 44100 << 1 << QStringList{u"-q:a"_s, u"6"_s};
        QTest::newRow("ID3v2 but no Info frame")
            << 44100 << 2 << QStringList{u"-b:a"_s, u"64k"_s, u"-write_xing"_s, u"0"_s};
        QTest::newRow("an Info frame but no tags")
            << 22050 << 1 << QStringList{u"-b:a"_s, u"32k"_s, u"-id3v2_version"_s, u"0"_s};
        QTest::newRow("no tags, no Info frame")
            << 44100 << 2 << QStringList{u"-b:a"_s,           u"64k"_s, u"-write_xing"_s, u"0"_s,
                                         u"-id3v2_version"_s, u"0"_s};
    }

    void chaptersStartWhereTheirAudioStarts()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QStringList, options);
        TestEnvironment environment;
        const QList<int> tones{400, 1000, 600, 1400, 800, 1800};
        const QList<double> lengths{2.3, 1.7, 3.1, 1.2, 2.6, 1.9};
        QStringList paths;
        for (int i = 0; i < tones.size(); ++i) {
            paths << environment.sources() + u"/%1 part.mp3"_s.arg(i + 1, 2, 10, QLatin1Char(u'0'));
            QVERIFY(
                makeTone(paths.constLast(), lengths.at(i), tones.at(i), rate, channels, options));
        }
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        if (c.tableData().at(0)->pathColumn != paths.at(0))
            c.autoSort();
        c.joinAll();
        control<QLineEdit>(c, u"outputName"_s)->setText(u"Exact"_s);
        auto* encoding = control<QComboBox>(c, u"outputEncoding"_s);
        encoding->setCurrentIndex(encoding->findText(u"Bookmark"_s, Qt::MatchContains));
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QVERIFY(app.dialogs->allAlerts.isEmpty());

        const QString book = environment.desktop() + u"/Exact.m4b"_s;
        const QJsonArray chapters = probe(book)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), tones.size());
        const QList<double> found = toneBoundaries(decodeMono(book, kRate), kRate, tones);
        double worst = 0;
        for (int i = 1; i < tones.size(); ++i) {
            const double start = chapters.at(i)[u"start_time"_s].toString().toDouble();
            worst = std::max(worst, std::abs(start - found.at(i - 1)));
        }
        qInfo("worst chapter start error: %.3f s", worst);
        QVERIFY2(worst <= 0.05, qPrintable(QString::number(worst)));
    }

    // The kinds of file that real collections mix.
    static QList<std::pair<QString, SourceRecipe>> kinds()
    {
        auto made = [](bool lame, const QStringList& options, int id3Version = 4,
                       bool id3v1 = false, int coverSize = 0) {
            SourceRecipe recipe;
            recipe.lame = lame;
            recipe.options = options;
            recipe.id3Version = id3Version;
            recipe.id3v1 = id3v1;
            recipe.coverSize = coverSize;
            recipe.tags = {{u"title"_s, u"A title"_s}};
            return recipe;
        };
        const QStringList cbr{u"-b:a"_s, u"64k"_s};
        return {
            {u"lame CBR"_s, made(true, {u"-b"_s, u"64"_s})},
            {u"lame VBR"_s, made(true, {u"-V"_s, u"5"_s})},
            {u"lame ABR, ID3v1 too"_s, made(true, {u"--abr"_s, u"80"_s}, 3, true)},
            {u"ffmpeg, ID3v2.4 with a large cover"_s, made(false, cbr, 4, false, 1400)},
            {u"ffmpeg, no Info frame"_s, made(false, cbr + QStringList{u"-write_xing"_s, u"0"_s})},
            {u"ffmpeg, no tag at all"_s, made(false, cbr, 0)},
            {u"ffmpeg, ID3v1 too"_s, made(false, cbr, 4, true)},
            {u"ffmpeg VBR, ID3v2.3"_s, made(false, {u"-q:a"_s, u"6"_s}, 3)},
        };
    }

    void eachKindIsMeasuredAsFfmpegDecodesIt_data()
    {
        QTest::addColumn<SourceRecipe>("recipe");
        for (const auto& [name, recipe] : kinds())
            QTest::newRow(qPrintable(name)) << recipe;
    }

    void eachKindIsMeasuredAsFfmpegDecodesIt()
    {
        QFETCH(SourceRecipe, recipe);
        TestEnvironment environment;
        const QString path = environment.sources() + u"/a.mp3"_s;
        QVERIFY(makeSource(path, 2.3, 600, 44100, 1, recipe));
        QCOMPARE(DecodedLength::alone(Mp3Frames::measure(path).value()), decodedSamples(path));
    }

    // Sixteen files of every kind, split over parts: each chapter starts
    // where its tone does, and the book is as long as its files.
    void aMixedCollection()
    {
        TestEnvironment environment;
        const int rate = 44100;
        const QList<std::pair<QString, SourceRecipe>> mix = kinds();
        QStringList paths;
        QList<int> tones;
        qint64 samples = 0;
        for (int i = 0; i < 16; ++i) {
            paths << environment.sources() + u"/%1.mp3"_s.arg(i + 1, 2, 10, QLatin1Char(u'0'));
            tones << QList<int>{400, 1000, 600, 1400, 800, 1800}.at(i % 6);
            QVERIFY(makeSource(paths.constLast(), 4.1 + 0.37 * (i % 5), tones.constLast(), rate, 1,
                               mix.at(i % mix.size()).second));
            samples += decodedSamples(paths.constLast());
        }
        TestApp app;
        AppController& c = *app.controller;
        c.setEncoders(3);
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        if (c.tableData().at(0)->pathColumn != paths.at(0))
            c.autoSort();
        c.joinAll();
        control<QLineEdit>(c, u"outputName"_s)->setText(u"Mixed"_s);
        chooseEncoding(c, u"Bookmark"_s);
        chooseItem(control<QComboBox>(c, u"outputRate"_s), u"64k"_s);
        chooseItem(control<QComboBox>(c, u"outputFrequency"_s), u"44100"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QVERIFY(app.dialogs->allAlerts.isEmpty());

        const QString book = environment.desktop() + u"/Mixed.m4b"_s;
        const QJsonObject probed = probe(book);
        const double length = probed[u"format"_s][u"duration"_s].toString().toDouble();
        QVERIFY2(std::abs(length - double(samples) / rate) <= 0.05,
                 qPrintable(u"%1 against %2"_s.arg(length).arg(double(samples) / rate)));
        const QJsonArray chapters = probed[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), tones.size());
        const QList<double> found = toneBoundaries(decodeMono(book, kRate), kRate, tones);
        double worst = 0;
        for (int i = 1; i < tones.size(); ++i) {
            const double start = chapters.at(i)[u"start_time"_s].toString().toDouble();
            worst = std::max(worst, std::abs(start - found.at(i - 1)));
        }
        qInfo("worst chapter start error: %.3f s", worst);
        QVERIFY2(worst <= 0.015, qPrintable(QString::number(worst)));
    }
};

QTEST_MAIN(TestExactChapters)
#include "tst_exactchapters.moc"
