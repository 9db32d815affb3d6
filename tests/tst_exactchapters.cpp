#include "TestSupport.h"

#include <QJsonArray>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

constexpr int kRate = 8000;

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
};

QTEST_MAIN(TestExactChapters)
#include "tst_exactchapters.moc"
