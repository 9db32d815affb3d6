// Measures the loudness of a book's files as Even Volume does, on every
// core, and times it against one ffmpeg encoding the same audio to the
// window's AAC (64k, 44100 Hz, mono). The goal: at most 0.15 of the encode.
//
//   bench_loudness [HOURS] [FILES] [ROUNDS]
#include "LoudnessMeter.h"
#include "TestCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const double hours = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int files = argc > 2 ? std::atoi(argv[2]) : 6;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const int seconds = static_cast<int>(hours * 3600 / files);
    TestEnvironment environment;
    QStringList paths;
    QByteArray list;
    std::printf("making %d files of %d s of speech-like MP3 (44.1 kHz stereo, 128k)...\n", files,
                seconds);
    for (int i = 0; i < files; ++i) {
        paths << environment.sources() + u"/%1.mp3"_s.arg(i + 1);
        list += "file '" + paths.constLast().toUtf8() + "'\n";
        if (QProcess::execute(
                QStringLiteral(FABLEWICK_FFMPEG),
                {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                 u"anoisesrc=color=pink:amplitude=0.%1:duration=%2:sample_rate=44100"_s
                     .arg(2 + i % 6)
                     .arg(seconds),
                 u"-af"_s, u"volume='(0.2+0.8*abs(sin(2*PI*3*t)))*lt(mod(t,97),94.5)':eval=frame"_s,
                 u"-ac"_s, u"2"_s, u"-b:a"_s, u"128k"_s, u"-y"_s, paths.constLast()}) != 0)
            return 1;
    }
    const QString listPath = environment.root() + u"/list.txt"_s;
    writeFile(listPath, list);

    QList<double> ratios;
    qint64 measure = 0;
    qint64 encode = 0;
    std::vector<double> loudness;
    for (int round = 0; round < rounds; ++round) {
        LoudnessMeter meter;
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        QElapsedTimer clock;
        clock.start();
        meter.start(paths, 44100, 1, {.progress = {}, .finished = [&](const std::exception_ptr&) {
                        std::lock_guard lock(mutex);
                        done = true;
                        ended.notify_all();
                    }});
        {
            std::unique_lock lock(mutex);
            ended.wait(lock, [&] { return done; });
        }
        measure = clock.elapsed();
        loudness = meter.loudness();

        clock.restart();
        QProcess::execute(
            QStringLiteral(FABLEWICK_FFMPEG),
            {u"-nostdin"_s, u"-v"_s,    u"error"_s, u"-f"_s,
             u"concat"_s,   u"-safe"_s, u"0"_s,     u"-i"_s,
             listPath,      u"-vn"_s,   u"-y"_s,    u"-b:a"_s,
             u"64k"_s,      u"-c:a"_s,  u"aac"_s,   u"-ac"_s,
             u"1"_s,        u"-ar"_s,   u"44100"_s, environment.root() + u"/book.m4a"_s});
        encode = clock.elapsed();
        ratios << double(measure) / double(std::max<qint64>(1, encode));
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("loudness of %d files (%.1f h), on every core: %lld ms\n", files, hours,
                static_cast<long long>(measure));
    std::printf("one ffmpeg encoding the same audio:        %lld ms\n",
                static_cast<long long>(encode));
    std::printf("ratio, median of %d: %.3f (goal: at most 0.15)\n", rounds,
                ratios.at(ratios.size() / 2));
    for (std::size_t i = 0; i < loudness.size(); ++i)
        std::printf("  file %zu: %.1f LUFS\n", i + 1, loudness[i]);
    return 0;
}
