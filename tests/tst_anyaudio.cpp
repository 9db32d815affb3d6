#include "Resources.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kRate = 22050;

// A source of tones, one after another, encoded by ffmpeg with its options;
// with more than one tone, each is a chapter of the file's own.
bool makeTones(const QString& path, const QList<std::pair<int, double>>& tones, int rate,
               const QStringList& options)
{
    QStringList arguments{u"-nostdin"_s, u"-loglevel"_s, u"error"_s};
    QString filter;
    for (qsizetype i = 0; i < tones.size(); ++i) {
        arguments << u"-f"_s << u"lavfi"_s << u"-i"_s
                  << u"sine=frequency=%1:duration=%2:sample_rate=%3"_s.arg(tones.at(i).first)
                         .arg(tones.at(i).second)
                         .arg(rate);
        filter += u"[%1:a]"_s.arg(i);
    }
    const QString metadata = path + u".txt"_s;
    if (tones.size() > 1) {
        QByteArray text = ";FFMETADATA1\n";
        double start = 0;
        for (qsizetype i = 0; i < tones.size(); ++i) {
            text += QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=Part %3\n")
                        .arg(qRound64(start * 1000))
                        .arg(qRound64((start + tones.at(i).second) * 1000))
                        .arg(i + 1)
                        .toUtf8();
            start += tones.at(i).second;
        }
        if (!writeFile(metadata, text))
            return false;
        arguments << u"-i"_s << metadata << u"-map_chapters"_s
                  << QString::number(tones.size());
    }
    arguments << u"-filter_complex"_s
              << filter + u"concat=n=%1:v=0:a=1[out]"_s.arg(tones.size()) << u"-map"_s
              << u"[out]"_s << options << u"-y"_s << path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG), arguments);
    const bool made = ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
    QFile::remove(metadata);
    if (!made)
        qWarning("%s", ffmpeg.readAllStandardError().constData());
    return made;
}

double decodedSeconds(const QString& path)
{
    const QJsonObject probed = probe(path);
    const int rate = probed[u"streams"_s][0][u"sample_rate"_s].toString().toInt();
    return rate > 0 ? double(decodedSamples(path)) / rate : 0;
}

// The real ffmpeg, each of its command lines written down in the file returned.
QString recordFfmpegCalls(const QString& root)
{
    const QString calls = root + u"/ffmpeg-calls.txt"_s;
    toolsWithStandIn(root, u"ffmpeg"_s,
                     u"echo \"$*\" >> '%1'; exec '%2' \"$@\""_s.arg(
                         calls, QStringLiteral(FABLEWICK_FFMPEG)));
    return calls;
}

// The output sheet, open with the book's name and encoding; Make is the caller's.
} // namespace

class TestAnyAudio : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aBookOfEveryKind_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("extension");
        // Over a minute, an AAC book is encoded in parts.
        QTest::addColumn<double>("scale");
        QTest::newRow("m4b") << u"Bookmark"_s << u"m4b"_s << 1.0;
        QTest::newRow("mp3") << u"MP3"_s << u"mp3"_s << 1.0;
        QTest::newRow("m4b in parts") << u"Bookmark"_s << u"m4b"_s << 3.0;
    }

    // Two MP3 files and one of each other kind, at mixed rates: every
    // chapter, those of the .m4b among them included, starts where its tone
    // does, and the book is as long as its sources.
    void aBookOfEveryKind()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, extension);
        QFETCH(double, scale);
        TestEnvironment environment;
        const QString dir = environment.sources();
        QDir().mkpath(dir);
        struct Source
        {
            QString name;
            QList<std::pair<int, double>> tones;
            int rate;
            QStringList options;
        };
        const QList<Source> sources{
            {u"01 one.mp3"_s, {{400, 3.3}}, 44100, {u"-c:a"_s, u"libmp3lame"_s}},
            {u"02 aac.m4a"_s,
             {{1000, 2.7}},
             44100,
             {u"-c:a"_s, u"aac"_s, u"-metadata"_s, u"title=Zwei"_s}},
            {u"03 parts.m4b"_s,
             {{600, 2.2}, {1400, 1.9}, {800, 2.4}},
             22050,
             {u"-c:a"_s, u"aac"_s, u"-f"_s, u"mp4"_s}},
            {u"04 rip.flac"_s, {{1800, 2.6}}, 48000, {u"-c:a"_s, u"flac"_s}},
            {u"05 vorbis.ogg"_s,
             {{400, 2.9}},
             44100,
             {u"-c:a"_s, u"libvorbis"_s, u"-metadata"_s, u"title=Fünf"_s}},
            {u"06 talk.opus"_s, {{1000, 3.1}}, 48000, {u"-c:a"_s, u"libopus"_s}},
            {u"07 plain.wav"_s, {{600, 2.5}}, 22050, {u"-c:a"_s, u"pcm_s16le"_s}},
            {u"08 windows.wma"_s,
             {{1400, 2.8}},
             44100,
             {u"-c:a"_s, u"wmav2"_s, u"-metadata"_s, u"title=Acht"_s}},
            {u"09 two.mp3"_s, {{800, 3.0}}, 22050, {u"-c:a"_s, u"libmp3lame"_s}},
        };
        QStringList paths;
        QList<int> tones;
        double seconds = 0;
        for (Source source : sources) {
            for (auto& tone : source.tones)
                tone.second *= scale;
            paths << dir + u'/' + source.name;
            QVERIFY2(makeTones(paths.constLast(), source.tones, source.rate, source.options),
                     qPrintable(source.name));
            for (const auto& tone : source.tones)
                tones << tone.first;
            seconds += decodedSeconds(paths.constLast());
        }

        // The real ffmpeg, each call written down.
        const QString calls = recordFfmpegCalls(environment.root());
        TestApp app;
        AppController& c = *app.controller;
        c.setEncoders(2);
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        if (c.tableData().at(0)->pathColumn != paths.at(0))
            c.autoSort();
        QCOMPARE(c.tableData().size(), sources.size());
        // Their tags are read as MP3 files' are: MP4 atoms, Vorbis comments, ASF.
        activate(c);
        QTest::keyClick(c.window(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
        nameBook(c, u"Every Kind"_s, encoding);
        chooseItem(control<QComboBox>(c, u"outputRate"_s), u"64k"_s);
        chooseItem(control<QComboBox>(c, u"outputFrequency"_s), u"Same"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QVERIFY2(app.dialogs->allAlerts.isEmpty(),
                 qPrintable(app.dialogs->allAlerts.value(0).detail));

        const QString book = environment.desktop() + u"/Every Kind."_s + extension;
        const QJsonObject probed = probe(book);
        const double length = probed[u"format"_s][u"duration"_s].toString().toDouble();
        QVERIFY2(std::abs(length - seconds) <= 0.05,
                 qPrintable(u"%1 against %2"_s.arg(length).arg(seconds)));
        const QJsonArray chapters = probed[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), tones.size());
        QStringList titles;
        for (const QJsonValue chapter : chapters)
            titles << chapter[u"tags"_s][u"title"_s].toString();
        QCOMPARE(titles, (QStringList{u"01 one"_s, u"Zwei"_s, u"Part 1"_s, u"Part 2"_s,
                                      u"Part 3"_s, u"04 rip"_s, u"Fünf"_s, u"06 talk"_s,
                                      u"07 plain"_s, u"Acht"_s, u"09 two"_s}));
        const QList<double> found = toneBoundaries(decodeMono(book, kRate), kRate, tones);
        QCOMPARE(found.size(), tones.size() - 1);
        double worst = 0;
        for (int i = 1; i < tones.size(); ++i) {
            const double start = chapters.at(i)[u"start_time"_s].toString().toDouble();
            worst = std::max(worst, std::abs(start - found.at(i - 1)));
        }
        qInfo("worst chapter start error: %.3f s", worst);
        QVERIFY2(worst <= 0.05, qPrintable(QString::number(worst)));
        QFile file(calls);
        QVERIFY(file.open(QIODevice::ReadOnly));
        if (scale > 1)
            QCOMPARE(QString::fromUtf8(file.readAll()).count(u" -f adts "_s), 2);
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
    }

    void decodingCanBeStoppedAndFails_data()
    {
        QTest::addColumn<QString>("decoder");
        QTest::addColumn<QString>("said");
        QTest::newRow("stopped") << u"exec sleep 30"_s << QString();
        QTest::newRow("failing") << u"echo 'Invalid data found' >&2; exit 1"_s
                                 << u"While decoding the files: ffmpeg exited with status 1 decoding"_s;
    }

    // Decoding is stopped or fails as a join does, and the next book is made.
    void decodingCanBeStoppedAndFails()
    {
        QFETCH(QString, decoder);
        QFETCH(QString, said);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        QStringList paths{environment.sources() + u"/1.ogg"_s, environment.sources() + u"/2.wav"_s};
        QVERIFY(makeTones(paths.at(0), {{500, 1.0}}, 44100, {u"-c:a"_s, u"libvorbis"_s}));
        QVERIFY(makeTones(paths.at(1), {{900, 1.0}}, 44100, {u"-c:a"_s, u"pcm_s16le"_s}));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        toolsWithStandIn(environment.root(), u"ffmpeg"_s, decoder);
        const auto make = [&](const QString& name) {
            nameBook(c, name, u"Bookmark"_s);
            c.startJoin();
        };
        make(u"First"_s);
        QCOMPARE(c.state(), RunState::Decoding);
        if (said.isEmpty()) {
            QTest::qWait(300);
            QTest::mouseClick(control<QPushButton>(c, u"stopConvertingButton"_s), Qt::LeftButton);
            QCOMPARE(c.state(), RunState::Idle);
            QVERIFY(app.dialogs->allAlerts.isEmpty());
        } else {
            QVERIFY(waitUntilIdle(c));
            QCOMPARE(app.dialogs->allAlerts.size(), 1);
            const QString detail = app.dialogs->allAlerts.at(0).detail;
            QVERIFY2(detail.contains(said) && detail.contains(u"Invalid data found"_s),
                     qPrintable(detail));
            app.dialogs->answerAlert(1);
        }
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
        make(u"Second"_s);
        QVERIFY(waitUntilIdle(c));
        QCOMPARE(app.dialogs->allAlerts.size(), said.isEmpty() ? 0 : 1);
        QVERIFY(QFileInfo::exists(environment.desktop() + u"/Second.m4b"_s));
        QVERIFY(!QFileInfo::exists(environment.desktop() + u"/First.m4b"_s));
    }

    void sameAsSourceTakesTheFirstFilesRate_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("expected");
        // The encoder's 96k comes out as about that.
        QTest::newRow("compressed") << u"1.m4a"_s << u" -ab 9\\dk "_s;
        QTest::newRow("lossless") << u"1.wav"_s << u" -ab 128k "_s;
    }

    // "Same as source" takes the first file's bit rate, unless it is lossless.
    void sameAsSourceTakesTheFirstFilesRate()
    {
        QFETCH(QString, first);
        QFETCH(QString, expected);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QStringList paths{environment.sources() + u'/' + first,
                                environment.sources() + u"/2.ogg"_s};
        QVERIFY(makeTones(paths.at(0), {{500, 1.0}}, 44100,
                          first.endsWith(u"wav"_s)
                              ? QStringList{u"-c:a"_s, u"pcm_s16le"_s}
                              : QStringList{u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"96k"_s}));
        QVERIFY(makeTones(paths.at(1), {{900, 1.0}}, 44100, {u"-c:a"_s, u"libvorbis"_s}));
        const QString calls = recordFfmpegCalls(environment.root());
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        nameBook(c, u"Rate"_s, u"Standard"_s);
        chooseItem(control<QComboBox>(c, u"outputRate"_s), u"Same"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
        QVERIFY(QFileInfo::exists(environment.desktop() + u"/Rate.m4a"_s));
        QFile file(calls);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString called = QString::fromUtf8(file.readAll());
        QVERIFY2(called.contains(u" -acodec aac"_s) &&
                     called.contains(QRegularExpression(expected)),
                 qPrintable(called));
    }

    void aacFilesKeptAsTheyAreAreCopied_data()
    {
        QTest::addColumn<QString>("bitRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("changedSinceListed");
        QTest::addColumn<bool>("copied");
        QTest::newRow("as they are") << u"Same"_s << 1 << false << true;
        QTest::newRow("a bit rate chosen") << u"64k"_s << 1 << false << false;
        QTest::newRow("stereo made mono") << u"Same"_s << 2 << false << false;
        QTest::newRow("one changed since listed") << u"Same"_s << 1 << true << false;
    }

    // AAC files that the sheet keeps as they are: their frames are copied,
    // not encoded, so each file's audio is in the book bit for bit, end to
    // end, where its chapter starts. Anything else is encoded.
    void aacFilesKeptAsTheyAreAreCopied()
    {
        QFETCH(QString, bitRate);
        QFETCH(int, channels);
        QFETCH(bool, changedSinceListed);
        QFETCH(bool, copied);
        constexpr int kAacRate = 44100;
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        QStringList paths;
        const QList<double> seconds{1.3, 1.7, 2.1, 1.1, 1.9};
        for (int i = 0; i < seconds.size(); ++i) {
            paths << environment.sources() + u"/0%1 part.m4a"_s.arg(i + 1);
            // Without noise bands: their noise comes from a generator that
            // runs on from file to file, so it differs wherever decoding starts.
            QVERIFY(makeTones(paths.constLast(), {{300 + 200 * i, seconds.at(i)}}, kAacRate,
                              {u"-ac"_s, QString::number(channels), u"-c:a"_s, u"aac"_s,
                               u"-aac_pns"_s, u"0"_s}));
        }
        const QString calls = recordFfmpegCalls(environment.root());
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        if (c.tableData().at(0)->pathColumn != paths.at(0))
            c.autoSort();
        if (changedSinceListed)
            QVERIFY(makeTones(paths.at(2), {{700, 2.1}}, kAacRate,
                              {u"-ac"_s, u"2"_s, u"-c:a"_s, u"aac"_s}));
        nameBook(c, u"Kept"_s, u"Bookmark"_s);
        chooseItem(control<QComboBox>(c, u"outputRate"_s), bitRate);
        chooseItem(control<QComboBox>(c, u"outputFrequency"_s), u"Same"_s);
        chooseItem(control<QComboBox>(c, u"outputChannels"_s), u"Mono"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
        QVERIFY2(app.dialogs->allAlerts.isEmpty(),
                 qPrintable(app.dialogs->allAlerts.value(0).detail));
        const QString book = environment.desktop() + u"/Kept.m4b"_s;
        QVERIFY(QFileInfo::exists(book));
        QCOMPARE(QFileInfo::exists(calls), !copied);
        if (!copied)
            return;

        const QJsonArray chapters = probe(book)[u"chapters"_s].toArray();
        QCOMPARE(chapters.size(), paths.size());
        const QList<qint16> decoded = decodeMono(book, kAacRate);
        qint64 from = 0;
        for (qsizetype k = 0; k < paths.size(); ++k) {
            const QList<qint16> alone = decodeMono(paths.at(k), kAacRate);
            const qsizetype played =
                probe(paths.at(k))[u"streams"_s][0][u"duration_ts"_s].toInteger();
            QVERIFY(played > 0 && played <= alone.size());
            // Where the file's audio is, found in the book sample for sample.
            qint64 at = -1;
            for (qint64 d = from; d < from + 4 * 1024 && at < 0; ++d) {
                if (decoded.mid(d, played) == alone.first(played))
                    at = d;
            }
            QVERIFY2(at >= 0, qPrintable(u"file %1 is not in the book as it is"_s.arg(k + 1)));
            const double start = chapters.at(k)[u"start_time"_s].toString().toDouble();
            QVERIFY2(std::abs(start - double(at) / kAacRate) <= 0.001,
                     qPrintable(u"chapter %1 starts at %2, its audio at %3"_s.arg(k + 1).arg(start).arg(
                         double(at) / kAacRate)));
            from = at + played;
        }
    }

    // A file that only looks like audio is named in the list, and the book
    // is refused before anything is decoded.
    void aFileThatIsNotAudioIsNamed()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString fake = environment.sources() + u"/02 fake.flac"_s;
        const QString real = environment.sources() + u"/01 real.ogg"_s;
        QVERIFY(writeFile(fake, QByteArray(4096, 'x')));
        QVERIFY(makeTones(real, {{500, 1.0}}, 44100, {u"-c:a"_s, u"libvorbis"_s}));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({real, fake});
        QVERIFY(waitUntilListed(c));
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.table());
        QString spoken;
        for (int row = 0; row < c.tableData().size(); ++row) {
            if (c.tableData().at(row)->pathColumn == fake)
                spoken = table->tableInterface()->cellAt(row, 1)->text(QAccessible::Description);
        }
        QCOMPARE(spoken, u"This file cannot be joined: it holds no audio that can be decoded."_s);
        nameBook(c, u"Fake"_s, u"Bookmark"_s);
        c.startJoin();
        QCOMPARE(c.state(), RunState::Idle);
        QCOMPARE(app.dialogs->allAlerts.size(), 1);
        const QString detail = app.dialogs->allAlerts.at(0).detail;
        QVERIFY2(detail.contains(u"“02 fake.flac” holds no audio that can be decoded"_s) &&
                     !detail.contains(u"01 real.ogg"_s),
                 qPrintable(detail));
        QVERIFY(!QFileInfo::exists(environment.tmp() + u"/Fablewick/Decoded"_s));
    }
};

QTEST_MAIN(TestAnyAudio)
#include "tst_anyaudio.moc"
