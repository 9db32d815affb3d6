// Makes a bookmarkable audiobook from 50 generated files (about two hours of
// speech-like audio) and reports each step's time next to the same commands
// run directly through the shell, and the application's peak memory. With
// "tones" the files are tones instead, of lengths that vary around the given
// one, and it also reports how far the chapter starts lie from where each
// file's tone really begins in the book. The conversion runs one encoder per
// core, or as many as a fourth argument gives; "direct" is one ffmpeg on the
// joined file. Runs and direct encodes take turns, three of each or as many
// as a fifth argument gives, and the median of their ratios is shown. With
// "aac" the files are mono AAC .m4a files, made into a book with the output
// kept as they are, so their frames are copied; "direct" is then one ffmpeg
// encoding the same files as AAC.
#include "ArtworkWell.h"
#include "RunSteps.h"
#include "M4bTagger.h"
#include "chapterWriter.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Pink noise whose loudness rises and falls like syllables, with pauses.
bool makeSpeechLike(const QString& path, int seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(
        QStringLiteral(FABLEWICK_FFMPEG),
        {u"-nostdin"_s, u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
         u"anoisesrc=color=pink:amplitude=0.4:duration=%1:sample_rate=22050"_s.arg(seconds),
         u"-af"_s, u"volume='0.2+0.8*abs(sin(2*PI*3*t))*gt(sin(2*PI*0.2*t),-0.6)':eval=frame"_s,
         u"-ac"_s, u"1"_s, u"-b:a"_s, u"64k"_s, u"-y"_s, path});
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitCode() == 0;
}

qint64 timeShell(const QString& command)
{
    QElapsedTimer clock;
    clock.start();
    QProcess sh;
    sh.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sh.setStandardOutputFile(QProcess::nullDevice());
    sh.start(u"/bin/sh"_s, {u"-c"_s, command});
    sh.waitForFinished(-1);
    return clock.elapsed();
}

// The resident memory of this process and every process below it, in KiB.
long familyResidentKiB()
{
    QHash<int, int> parentOf;
    QHash<int, long> resident;
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(u"/proc/"_s + entry + u"/status"_s);
        if (!entry.front().isDigit() || !status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("PPid:"))
                parentOf.insert(entry.toInt(), line.mid(5).trimmed().toInt());
            else if (line.startsWith("VmRSS:"))
                resident.insert(entry.toInt(), line.mid(6).trimmed().split(' ').value(0).toLong());
        }
    }
    long sum = 0;
    for (auto it = resident.cbegin(); it != resident.cend(); ++it) {
        for (int pid = it.key(); pid > 1; pid = parentOf.value(pid)) {
            if (pid == QCoreApplication::applicationPid()) {
                sum += it.value();
                break;
            }
        }
    }
    return sum;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 50;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 144;
    const bool tones = argc > 3 && std::strcmp(argv[3], "tones") == 0;
    const bool aac = argc > 3 && std::strcmp(argv[3], "aac") == 0;
    // A fourth argument sets the number of encoders, to see their memory on a small machine.
    const int encoders = argc > 4 ? std::atoi(argv[4]) : 0;
    // A fifth, how many runs are paired with as many direct encodes.
    const int rounds = std::max(1, argc > 5 ? std::atoi(argv[5]) : 3);
    TestEnvironment environment;
    std::printf("making %d files of %d s...\n", count, seconds);
    QStringList paths;
    QList<int> frequencies;
    for (int i = 0; i < count; ++i) {
        paths << environment.sources() + u"/chapter %1.%2"_s.arg(i, 3, 10, QLatin1Char('0'))
                                             .arg(aac ? u"m4a"_s : u"mp3"_s);
        // Neighbours differ in tone; lengths run from half to one and a half times the given.
        frequencies << QList<int>{400, 1000, 600, 1400, 800, 1800}.at(i % 6);
        const double length = seconds * (0.5 + ((i * 37) % 11) / 10.0);
        const bool made = tones ? makeTone(paths.constLast(), length, frequencies.constLast(), 22050,
                                           1, {u"-b:a"_s, u"64k"_s})
                                : makeSpeechLike(paths.constLast(), seconds);
        if (!made)
            return 1;
    }

    TestApp testApp;
    AppController& c = *testApp.controller;
    c.setEncoders(encoders);
    c.applicationOpenFiles(paths);
    if (!waitUntilListed(c))
        return 1;
    control<QLineEdit>(c, u"title"_s)->setText(u"Benchmark"_s);
    control<QLineEdit>(c, u"artist"_s)->setText(u"Fablewick"_s);
    QImage cover(600, 600, QImage::Format_RGB32);
    cover.fill(Qt::darkBlue);
    control<ArtworkWell>(c, u"artwork"_s)->setImage(cover);

    long peakFamily = 0;
    QTimer memoryWatcher;
    QObject::connect(&memoryWatcher, &QTimer::timeout,
                     [&] { peakFamily = std::max(peakFamily, familyResidentKiB()); });
    memoryWatcher.start(1000);

    // One whole run through the window, from Make to the book on the Desktop.
    struct Steps
    {
        qint64 join = 0;
        qint64 convert = 0;
        qint64 chapters = 0;
        qint64 tag = 0;
        qint64 total = 0;
    };
    const QString delivered = environment.desktop() + u"/Benchmark.m4b"_s;
    const auto makeBook = [&] {
        QFile::remove(delivered);
        std::map<RunState, qint64> enteredAt;
        QElapsedTimer clock;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (!enteredAt.count(c.state()))
                enteredAt[c.state()] = clock.elapsed();
        });
        clock.start();
        watcher.start(5);
        c.joinAll();
        control<QLineEdit>(c, u"outputName"_s)->setText(u"Benchmark"_s);
        auto* encoding = control<QComboBox>(c, u"outputEncoding"_s);
        encoding->setCurrentIndex(encoding->findText(u"Bookmark"_s, Qt::MatchContains));
        if (aac) {
            chooseItem(control<QComboBox>(c, u"outputRate"_s), u"Same"_s);
            chooseItem(control<QComboBox>(c, u"outputFrequency"_s), u"Same"_s);
            chooseItem(control<QComboBox>(c, u"outputChannels"_s), u"Mono"_s);
        }
        c.startJoin();
        while (c.state() != RunState::Idle)
            QTest::qWait(10);
        Steps steps;
        steps.total = clock.elapsed();
        auto at = [&](RunState state) {
            return enteredAt.count(state) ? enteredAt[state] : steps.total;
        };
        const RunState converting = aac ? RunState::Copying : RunState::Encoding;
        steps.join = at(converting);
        steps.convert = at(RunState::WritingChapters) - at(converting);
        steps.chapters = at(RunState::Tagging) - at(RunState::WritingChapters);
        steps.tag = steps.total - at(RunState::Tagging);
        return steps;
    };
    // The yardstick: one ffmpeg encoding the joined file alone, as it stands.
    const auto encodeDirectly = [&] {
        const QString temp = *c.tempFolderPath();
        if (aac) {
            QByteArray list;
            for (const QString& path : paths)
                list += "file '" + path.toUtf8() + "'\n";
            writeFile(temp + u"/direct.txt"_s, list);
            return timeShell(u"'%1' -nostdin -v error -f concat -safe 0 -i '%2/direct.txt' -vn -y "
                             u"-b:a 64k -acodec aac -ac 1 '%2/direct.m4a'"_s.arg(
                                 QStringLiteral(FABLEWICK_FFMPEG), temp));
        }
        RunRequest asked;
        asked.mono = control<QComboBox>(c, u"outputChannels"_s)->currentText().contains(u"Mono"_s);
        const EncoderOptions options =
            RunSteps::encoderOptions(RunWork(asked), temp + u"/mp3.mp3"_s);
        return timeShell(
            u"'%1' -nostdin -v error -i '%2/mp3.mp3' -vn -y -ab %3 -acodec aac -ac %4 -ar %5 "
            u"'%2/direct.m4a'"_s.arg(QStringLiteral(FABLEWICK_FFMPEG), temp,
                                      options.value(u"bitrate"_s), options.value(u"channels"_s),
                                      options.value(u"sampleFrequency"_s)));
    };
    // In turns, so that a machine whose speed drifts does not move the ratio.
    QList<Steps> runs;
    QList<qint64> directs;
    QList<double> ratios;
    QList<double> conversionRatios;
    for (int round = 0; round < rounds; ++round) {
        runs << makeBook();
        directs << encodeDirectly();
        ratios << double(runs.constLast().total) / double(std::max<qint64>(1, directs.constLast()));
        conversionRatios << double(runs.constLast().convert) /
                                double(std::max<qint64>(1, directs.constLast()));
    }
    const auto median = [](QList<double> values) {
        std::sort(values.begin(), values.end());
        return values.at(values.size() / 2);
    };
    const Steps& last = runs.constLast();
    const QString temp = *c.tempFolderPath();
    QStringList quoted;
    for (const QString& p : paths)
        quoted << u'\'' + p + u'\'';
    const qint64 directCat =
        timeShell(u"cat "_s + quoted.join(u' ') + u" > '"_s + temp + u"/direct.mp3'"_s);
    const char* yardstick = aac ? "one ffmpeg encoding the files" : "one ffmpeg on the joined file";
    chapterWriter writer;
    writer.setOutputFolder(temp);
    writer.setOutputFile(u"m4b"_s);
    writer.setAudioFilePath(temp + u"/m4a.m4a"_s);
    const qint64 directChapters = timeShell(writer.command());
    M4bTagger tagger;
    tagger.setTitle(u"Benchmark"_s);
    tagger.setArtist(u"Fablewick"_s);
    tagger.setArtwork(temp + u"/art1.jpg"_s);
    tagger.setInputPath(temp + u"/m4b.m4b"_s);
    tagger.setOutputPath(temp + u"/m4b-tagged.m4b"_s);
    const qint64 directTag = timeShell(tagger.command());

    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("%-16s %10s %10s   (the last of %d runs)\n", "step", "Fablewick", "direct",
                rounds);
    std::printf("%-16s %8lld ms %7lld ms  (direct: one cat, no time queries)\n", "join",
                static_cast<long long>(last.join), static_cast<long long>(directCat));
    std::printf("%-16s %8lld ms %7lld ms  (direct: %s)\n", aac ? "copy" : "convert",
                static_cast<long long>(last.convert), static_cast<long long>(directs.constLast()),
                yardstick);
    std::printf("%-16s %8lld ms %7lld ms\n", "chapters", static_cast<long long>(last.chapters),
                static_cast<long long>(directChapters));
    std::printf("%-16s %8lld ms %7lld ms\n", "tags", static_cast<long long>(last.tag),
                static_cast<long long>(directTag));
    std::printf("%-16s %8lld ms\n", "whole run", static_cast<long long>(last.total));
    const int parts = encoders > 0 ? encoders : std::min(QThread::idealThreadCount(), 8);
    std::printf("with %d encoders on %d cores, against %s alone, the median of %d pairs:\n  the "
                "%s %.3f, the whole run from Make to the Desktop %.3f\n",
                parts, QThread::idealThreadCount(), yardstick, rounds,
                aac ? "copy" : "conversion", median(conversionRatios), median(ratios));
    std::printf("peak memory: application %ld MiB, largest tool %ld MiB; the application with "
                "all its tools at once %ld MiB%s\n",
                self.ru_maxrss / 1024, children.ru_maxrss / 1024, peakFamily / 1024,
                QFile::exists(delivered) ? "" : "  (NOT DELIVERED)");
    if (tones && QFile::exists(delivered)) {
        const QString book = delivered;
        const QJsonArray marks = probe(book)[u"chapters"_s].toArray();
        const QList<double> found = toneBoundaries(decodeMono(book, 8000), 8000, frequencies);
        double worst = 0;
        for (qsizetype i = 1; i < marks.size() && i - 1 < found.size(); ++i)
            worst = std::max(worst, std::abs(marks.at(i)[u"start_time"_s].toString().toDouble() -
                                             found.at(i - 1)));
        std::printf("chapters: %lld of %d, worst start %.3f s from where its audio begins\n",
                    static_cast<long long>(marks.size()), count, worst);
    }
    return QFile::exists(delivered) ? 0 : 1;
}
