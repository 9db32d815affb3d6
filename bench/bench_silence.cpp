// Searches a long file for silences as Find Chapters by Silence does, on
// every core, and times it against one ffmpeg silencedetect over the same
// audio. The file is speech-like noise with pauses, 10 hours of 64 kbit/s
// mono MP3 unless HOURS is given; the goal is 2 minutes for 10 hours.
//
//   bench_silence [HOURS]
#include "SilenceFinder.h"
#include "TestCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const double hours = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int seconds = static_cast<int>(hours * 3600);
    TestEnvironment environment;
    const QString book = environment.root() + u"/book.mp3"_s;
    std::printf("making %.1f h of speech-like MP3...\n", hours);
    // Loud and soft like syllables, with a 2.5 s pause every 97 s.
    if (QProcess::execute(
            QStringLiteral(FABLEWICK_FFMPEG),
            {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
             u"anoisesrc=color=pink:amplitude=0.4:duration=%1:sample_rate=22050"_s.arg(seconds),
             u"-af"_s,
             u"volume='(0.2+0.8*abs(sin(2*PI*3*t)))*lt(mod(t,97),94.5)':eval=frame"_s,
             u"-ac"_s, u"1"_s, u"-b:a"_s, u"64k"_s, u"-y"_s, book}) != 0)
        return 1;

    QElapsedTimer clock;
    clock.start();
    QProcess one;
    one.setStandardOutputFile(QProcess::nullDevice());
    one.start(QStringLiteral(FABLEWICK_FFMPEG),
              {u"-nostdin"_s, u"-i"_s, book, u"-af"_s, u"silencedetect=noise=-35dB:duration=2"_s,
               u"-f"_s, u"null"_s, u"-"_s});
    one.waitForFinished(-1);
    const QByteArray log = one.readAllStandardError();
    const double direct = static_cast<double>(clock.elapsed()) / 1000;
    const qsizetype directFound = SilenceFinder::merged(SilenceFinder::parsed(log, 0)).size();

    SilenceFinder finder;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    qsizetype found = 0;
    clock.restart();
    finder.start({{book, static_cast<double>(seconds)}}, {}, QThread::idealThreadCount(),
                 {.progress = {}, .finished = [&](const std::exception_ptr&) {
                      std::lock_guard lock(mutex);
                      found = finder.silences().value(0).size();
                      done = true;
                      ended.notify_one();
                  }});
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return done; });
    const double ours = static_cast<double>(clock.elapsed()) / 1000;
    std::printf("one ffmpeg silencedetect: %.1f s, %lld silences\n", direct,
                static_cast<long long>(directFound));
    std::printf("on %d cores, in pieces:   %.1f s, %lld silences (%.2f of one ffmpeg)\n",
                QThread::idealThreadCount(), ours, static_cast<long long>(found), ours / direct);
    std::printf("per 10 hours:             %.1f s\n", ours * 10 / hours);
    return found == directFound ? 0 : 1;
}
