// The preview through the real media backend and a real sound server: a
// private PulseAudio with a null sink, started by the test.
#include "MediaMovie.h"
#include "TestSupport.h"

#include <QAccessibleValueInterface>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestPlayback : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Before anything asks Qt for a sound device, which it looks for only once.
    void initTestCase()
    {
        const QString pulseaudio = QStandardPaths::findExecutable(u"pulseaudio"_s);
        if (pulseaudio.isEmpty())
            QSKIP("pulseaudio is not installed; scripts/install-deps.sh installs it");
        const QString socket = mServerDir.path() + u"/native"_s;
        mServer.setProcessChannelMode(QProcess::MergedChannels);
        mServer.start(pulseaudio,
                      {u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s,
                       u"--use-pid-file=no"_s, u"--disable-shm=yes"_s,
                       u"-L"_s, u"module-null-sink sink_name=nowhere"_s,
                       u"-L"_s, u"module-native-protocol-unix auth-anonymous=1 socket="_s + socket});
        QVERIFY2(QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000),
                 mServer.readAll().constData());
        qputenv("PULSE_SERVER", QFile::encodeName(u"unix:"_s + socket));
    }

    void cleanupTestCase()
    {
        mServer.kill();
        mServer.waitForFinished();
    }

    void aSelectedFilePlaysWhateverItsName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("accented") << u"Ünï.mp3"_s;
        QTest::newRow("not Latin") << u"第一章 はじめに.mp3"_s;
        QTest::newRow("percent and space") << u"b%1 x.mp3"_s;
        QTest::newRow("quotes and backslash") << u"c\"q\" d\\e.mp3"_s;
        QTest::newRow("m4b") << u"Teil 1.m4b"_s;
        QTest::newRow("flac") << u"rip.flac"_s;
        QTest::newRow("opus") << u"talk.opus"_s;
        QTest::newRow("wma") << u"old.wma"_s;
    }

    void aSelectedFilePlaysWhateverItsName()
    {
        QFETCH(QString, name);
        TestEnvironment environment;
        const QString path = environment.sources() + u'/' + name;
        if (name.endsWith(u".mp3"_s)) {
            QVERIFY(makeMp3(path, 8, 44100, 1, 64));
        } else {
            // ffmpeg's own codec for each kind of file.
            QProcess ffmpeg;
            ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG),
                         {u"-nostdin"_s, u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                          u"sine=frequency=440:duration=8:sample_rate=48000"_s, u"-ac"_s, u"1"_s,
                          u"-y"_s, path});
            QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
        }
        TestApp app(u"http://127.0.0.1:9/feed.xml"_s, &MediaMovie::movieWithFile);
        AppController& c = *app.controller;
        c.applicationOpenFiles({path});
        QVERIFY(waitUntilListed(c));

        AudiobookTableView* table = c.table();
        const QRect row = table->visualRect(table->model()->index(0, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, row.center());
        auto* play = control<QPushButton>(c, u"ppButton"_s);
        QTRY_VERIFY_WITH_TIMEOUT(play->isEnabled() && c.preview().audioPreviewObject(),
                                 MediaMovie::kLoadLimit + 1000);
        QTest::mouseClick(play, Qt::LeftButton);

        auto* slider = control<QSlider>(c, u"playbackSlider"_s);
        QAccessibleValueInterface* position =
            QAccessible::queryAccessibleInterface(slider)->valueInterface();
        QVERIFY(position);
        QVERIFY2(qAbs(position->maximumValue().toInt() - 8000) < 300,
                 qPrintable(position->maximumValue().toString()));
        QTRY_VERIFY_WITH_TIMEOUT(position->currentValue().toInt() > 500, 10000);
    }

private:
    QTemporaryDir mServerDir;
    QProcess mServer;
};

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
