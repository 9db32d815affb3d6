#include "LeadingNumber.h"
#include "Mp3Frames.h"
#include "Mp3Helper.h"
#include "Resources.h"
#include "TestCore.h"
#include "WorkerException.h"

#include <QFile>
#include <QTest>
#include <optional>
#include <thread>
#include <tuple>

using namespace Qt::Literals::StringLiterals;
using Problem = Mp3Frames::Check::Problem;
Q_DECLARE_METATYPE(Problem)

class TestMp3Helper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // What the start of a file says: audio with its rate and channels, or why not.
    void filesAreInspectedForAudio_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<Problem>("problem");
        QTest::newRow("44.1 kHz stereo") << u"mp3 44100 2"_s << 44100 << 2 << Problem::None;
        QTest::newRow("22.05 kHz mono") << u"mp3 22050 1"_s << 22050 << 1 << Problem::None;
        QTest::newRow("48 kHz stereo") << u"mp3 48000 2"_s << 48000 << 2 << Problem::None;
        QTest::newRow("behind a 2 MB tag") << u"big tag"_s << 44100 << 1 << Problem::None;
        QTest::newRow("behind two large tags") << u"two big tags"_s << 44100 << 1 << Problem::None;
        // Its Info frame promises ten seconds; four are there.
        QTest::newRow("cut short") << u"cut short"_s << 44100 << 2 << Problem::CutShort;
        QTest::newRow("random bytes") << u"random"_s << 0 << 0 << Problem::NotAudio;
        QTest::newRow("empty") << u"empty"_s << 0 << 0 << Problem::NotAudio;
        QTest::newRow("gone") << u"missing"_s << 0 << 0 << Problem::Gone;
        QTest::newRow("a folder") << u"folder"_s << 0 << 0 << Problem::Unreadable;
    }

    void filesAreInspectedForAudio()
    {
        QFETCH(QString, kind);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(Problem, problem);
        TestEnvironment environment;
        const QString path = environment.sources() + u"/1b it's.mp3"_s;
        const QStringList words = kind.split(u' ');
        if (words.at(0) == u"mp3"_s) {
            QVERIFY(makeMp3(path, 1.5, words.at(1).toInt(), words.at(2).toInt(), 64));
        } else if (kind.endsWith(u"big tag"_s) || kind.endsWith(u"big tags"_s)) {
            QVERIFY(makeMp3(path + u".part"_s, 1.5, 44100, 1, 64));
            // ID3v2 tags of those sizes, written syncsafe; a second one as
            // some taggers leave behind, its cover larger than a first look.
            QByteArray tags;
            for (const int size : kind == u"big tag"_s ? QList<int>{2 << 20} : QList<int>{100000, 70000}) {
                tags += QByteArray("ID3\x03\x00\x00", 6);
                for (int shift : {21, 14, 7, 0})
                    tags.append(static_cast<char>((size >> shift) & 0x7F));
                tags += QByteArray(size, '\xff');
            }
            QVERIFY(writeFile(path, tags + readFile(path + u".part"_s)));
        } else if (kind == u"cut short"_s) {
            QVERIFY(makeMp3(path, 10, 44100, 2, 64));
            const QByteArray whole = readFile(path);
            QVERIFY(writeFile(path, whole.left(whole.size() * 4 / 10)));
        } else if (kind == u"random"_s) {
            QByteArray noise(50000, '\0');
            quint32 x = 12345;
            for (char& c : noise)
                c = static_cast<char>((x = x * 1103515245U + 12345U) >> 24);
            QVERIFY(writeFile(path, noise));
        } else if (kind == u"empty"_s) {
            QVERIFY(writeFile(path, {}));
        } else if (kind == u"folder"_s) {
            QVERIFY(QDir().mkpath(path));
        }
        const Mp3Frames::Check frames = Mp3Frames::check(path);
        QCOMPARE(frames.problem, problem);
        QCOMPARE(frames.isAudio(), problem == Problem::None);
        QCOMPARE(frames.sampleRate, rate);
        QCOMPARE(frames.channels, channels);
        if (problem == Problem::CutShort) {
            QVERIFY2(qAbs(frames.promisedSeconds - 10) < 0.1, qPrintable(QString::number(frames.promisedSeconds)));
            QVERIFY2(qAbs(frames.presentSeconds - 4) < 0.2, qPrintable(QString::number(frames.presentSeconds)));
        }
    }

    // A file cut short while its frames are counted (a download still
    // running, a disk pulled out) ends the count early; it never raises
    // SIGBUS, as a mapped file would.
    void aFileCutWhileItIsMeasuredEndsTheCount()
    {
        TestEnvironment environment;
        const QString part = environment.root() + u"/part.mp3"_s;
        QVERIFY(makeTone(part, 20, 440, 44100, 2, {u"-b:a"_s, u"128k"_s, u"-write_xing"_s, u"0"_s}));
        const QByteArray frames = mp3AudioFrames(readFile(part));
        const QString path = environment.root() + u"/long.mp3"_s;
        QVERIFY(writeFile(path, frames.repeated(150)));
        const qint64 whole = Mp3Frames::measure(path).value().audioSamples;
        std::optional<Mp3Frames::Measure> measured;
        std::thread counting([&] { measured = Mp3Frames::measure(path); });
        QTest::qSleep(2);
        QVERIFY(QFile::resize(path, frames.size() * 3));
        counting.join();
        QVERIFY(measured);
        QVERIFY(measured->audioSamples > 0 && measured->audioSamples <= whole);
    }

    // Files joined byte for byte, with their tags between them and junk
    // after them: the runs hold every file's frames once, and no tag.
    void joinedFilesAreWalkedPastTheirTags_data()
    {
        QTest::addColumn<QByteArray>("between");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("nothing") << QByteArray() << QByteArray();
        QByteArray v1 = "TAG" + QByteArray(125, 'a');
        QTest::newRow("an ID3v1 tag after each") << v1 << v1;
        QByteArray ape = "APETAGEX" + QByteArray(24, '\0');
        ape[23] = '\0'; // a footer of no items: 32 bytes
        QTest::newRow("an APE footer, and Lyrics3 junk at the end")
            << ape << QByteArray("LYRICSBEGIN and words LYRICS200");
    }
    void joinedFilesAreWalkedPastTheirTags()
    {
        QFETCH(QByteArray, between);
        QFETCH(QByteArray, after);
        TestEnvironment environment;
        QStringList parts;
        QByteArray joined;
        for (int i = 0; i < 3; ++i) {
            parts << environment.root() + u"/%1.mp3"_s.arg(i);
            QVERIFY(makeTone(parts.constLast(), 1 + i, 300 + 100 * i, 22050, 1,
                             {u"-b:a"_s, u"32k"_s, u"-metadata"_s, u"title=Part %1"_s.arg(i)}));
            joined += readFile(parts.constLast()) + (i < 2 ? between : after);
        }
        const QString path = environment.root() + u"/joined.mp3"_s;
        QVERIFY(writeFile(path, joined));
        const std::optional<Mp3Frames::Joined> walked = Mp3Frames::joined(path);
        QVERIFY(walked);
        QByteArray frames;
        for (const Mp3Frames::Span& run : walked->runs)
            frames += joined.mid(run.begin, run.end - run.begin);
        // The first file's Info frame leads; every file's audio frames follow.
        QCOMPARE(frames.mid(walked->infoLength), sourceFrames(parts));
        std::size_t count = 0;
        for (const QString& part : parts)
            count += Mp3Frames::frames(part)->starts.size();
        QCOMPARE(walked->starts.size(), count);
    }

    void readsPropertiesWithTheRealTool()
    {
        TestEnvironment environment;
        const QString long325 = environment.sources() + u"/long 3m25s.mp3"_s;
        const QString short5 = environment.sources() + u"/short.mp3"_s;
        QVERIFY(makeMp3(long325, 205, 44100, 2, 128));
        QVERIFY(makeMp3(short5, 5, 22050, 1, 64));

        QCOMPARE(Mp3Helper::getBitrateOfMP3(long325), u"128"_s);
        QCOMPARE(Mp3Helper::getSampleFrequencyOfMP3(long325), u"44100"_s);
        const Mp3Time time = Mp3Helper::getTimeOfMP3(long325);
        QCOMPARE(time.mins, u"3"_s);
        QCOMPARE(time.secs, u"25"_s);
        QCOMPARE(Mp3Helper::getUnixTimeOfMP3(long325), 205);

        QCOMPARE(Mp3Helper::getBitrateOfMP3(short5), u"64"_s);
        QCOMPARE(Mp3Helper::getSampleFrequencyOfMP3(short5), u"22050"_s);
        // Both from one run, as the list reads them.
        for (const auto& [path, bitrate, rate] :
             {std::tuple{long325, u"128"_s, u"44100"_s}, {short5, u"64"_s, u"22050"_s}}) {
            QCOMPARE(Mp3Helper::getRatesOfMP3(path).bitrate, bitrate);
            QCOMPARE(Mp3Helper::getRatesOfMP3(path).sampleFrequency, rate);
        }
        QCOMPARE(Mp3Helper::getTimeOfMP3(short5).mins, u"0"_s);
        QCOMPARE(Mp3Helper::getTimeOfMP3(short5).secs, u"5"_s);
        QCOMPARE(Mp3Helper::getUnixTimeOfMP3(short5), 5);
    }

    void unreadableAndMissingFilesGiveEmptyAnswers()
    {
        TestEnvironment environment;
        const QString garbage = environment.sources() + u"/garbage.mp3"_s;
        QVERIFY(writeFile(garbage, "this is not audio at all"));
        const QString missing = environment.sources() + u"/missing.mp3"_s;
        for (const QString& path : {garbage, missing}) {
            QCOMPARE(Mp3Helper::getBitrateOfMP3(path), QString());
            QCOMPARE(Mp3Helper::getSampleFrequencyOfMP3(path), QString());
            QCOMPARE(Mp3Helper::getRatesOfMP3(path).bitrate, QString());
            QCOMPARE(Mp3Helper::getRatesOfMP3(path).sampleFrequency, QString());
            QCOMPARE(Mp3Helper::getUnixTimeOfMP3(path), 0);
        }
        QVERIFY_THROWS_EXCEPTION(WorkerException, Mp3Helper::getTimeOfMP3(missing));
    }

    // Names that would break a naively quoted command reach the tool intact.
    void oddFileNamesReachTheTool()
    {
        TestEnvironment environment;
        QVERIFY(QDir::setCurrent(environment.root()));
        const QStringList names{u"with space.mp3"_s,       u"it's mine.mp3"_s,
                                u"say \"hi\".mp3"_s,       u"$(touch SENTINEL).mp3"_s,
                                u"`touch SENTINEL`.mp3"_s, u"back\\slash.mp3"_s,
                                u"Ünïcødé ✓ 日本.mp3"_s,   u"-leading dash.mp3"_s};
        for (const QString& name : names) {
            const QString path = environment.sources() + u'/' + name;
            QVERIFY2(makeMp3(path, 3, 48000, 2, 96), qPrintable(name));
            QCOMPARE(Mp3Helper::getBitrateOfMP3(path), u"96"_s);
            QCOMPARE(Mp3Helper::getSampleFrequencyOfMP3(path), u"48000"_s);
            QCOMPARE(Mp3Helper::getRatesOfMP3(path).sampleFrequency, u"48000"_s);
            QCOMPARE(Mp3Helper::getUnixTimeOfMP3(path), 3);
        }
        QVERIFY(!QFile::exists(environment.root() + u"/SENTINEL"_s));
    }

    void commandsHaveTheToolsFormat()
    {
        TestEnvironment environment;
        const QString tool = Resources::pathForResource(u"mp3info"_s, QString()).value_or(u"?"_s);
        QCOMPARE(Mp3Helper::queryCommand(u"%r"_s, u"/b/x y.mp3"_s),
                 u"'%1' -p '%r' '/b/x y.mp3'"_s.arg(tool));
        QCOMPARE(Mp3Helper::queryCommand(u"%m_SPLIT_%s"_s, u"/b/it's.mp3"_s),
                 u"'%1' -p '%m_SPLIT_%s' '/b/it'\\''s.mp3'"_s.arg(tool));
    }

    // A stand-in for mp3info shows what the queries do with its output.
    void outputIsReadAsTheToolPrintsIt()
    {
        TestEnvironment environment;
        const QString fakes = environment.root() + u"/fakes"_s;
        QVERIFY(QDir().mkpath(fakes));
        Resources::setDirectory(fakes);
        const QString tool = makeFakeTool(fakes, u"mp3info"_s, u"printf '%s' \"$FAKE_OUT\""_s);

        qputenv("FAKE_OUT", " 205 seconds\n");
        QCOMPARE(Mp3Helper::getUnixTimeOfMP3(u"/x.mp3"_s), 205);
        QCOMPARE(recordedArguments(tool), (QStringList{u"-p"_s, u"%S"_s, u"/x.mp3"_s}));
        QCOMPARE(Mp3Helper::getBitrateOfMP3(u"/x.mp3"_s), u" 205 seconds\n"_s);

        qputenv("FAKE_OUT", "caf\xc3\xa9");
        QCOMPARE(Mp3Helper::getBitrateOfMP3(u"/x.mp3"_s), std::nullopt);
        QCOMPARE(Mp3Helper::getUnixTimeOfMP3(u"/x.mp3"_s), 0);
        QVERIFY_THROWS_EXCEPTION(WorkerException, Mp3Helper::getTimeOfMP3(u"/x.mp3"_s));

        qputenv("FAKE_OUT", "12_SPLIT_15");
        QCOMPARE(Mp3Helper::getTimeOfMP3(u"/x.mp3"_s).mins, u"12"_s);
        QCOMPARE(Mp3Helper::getTimeOfMP3(u"/x.mp3"_s).secs, u"15"_s);
        qputenv("FAKE_OUT", "3:25");
        QVERIFY_THROWS_EXCEPTION(WorkerException, Mp3Helper::getTimeOfMP3(u"/x.mp3"_s));

        Resources::setDirectory(environment.root() + u"/no-tools-here"_s);
        QCOMPARE(Mp3Helper::getBitrateOfMP3(u"/x.mp3"_s), QString());
        QVERIFY_THROWS_EXCEPTION(WorkerException, Mp3Helper::getTimeOfMP3(u"/x.mp3"_s));
    }

    void leadingIntegerValues()
    {
        QCOMPARE(leadingIntValue(u"  42abc"), 42);
        QCOMPARE(leadingIntValue(u"-7"), -7);
        QCOMPARE(leadingIntValue(u"+3"), 3);
        QCOMPARE(leadingIntValue(u"x1"), 0);
        QCOMPARE(leadingIntValue(u""), 0);
        QCOMPARE(leadingIntValue(u"99999999999"), 2147483647);
    }
};

QTEST_GUILESS_MAIN(TestMp3Helper)
#include "tst_mp3helper.moc"
