// The waveform's two targets: the peak summary of a 10-hour book made in no
// more than 15 s on 2 cores, and a redraw of a 30-hour book's strip within
// a frame (16 ms) at five zoom levels, from the whole book to 3 s.
// bench_waveform [HOURS] [BOOK]: HOURS of speech-like MP3 is made unless
// BOOK names a file to summarise.
#include "DraftBook.h"
#include "PeakReader.h"
#include "TestSupport.h"
#include "WaveformStrip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

double summarise(const QString& book, double seconds, const QString& cache)
{
    PeakReader reader(cache, std::max(1, QThread::idealThreadCount()));
    // A real event loop, as the application's, which sleeps while it waits.
    QEventLoop loop;
    QObject::connect(&reader, &PeakReader::summaryReady, &loop, &QEventLoop::quit);
    QObject::connect(&reader, &PeakReader::unreadable, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    reader.read(book, seconds);
    loop.exec();
    const double took = static_cast<double>(clock.elapsed()) / 1000;
    if (const auto summary = reader.summaryOf(book))
        std::printf("summary: %lld spans, %.1f MB\n", static_cast<long long>(summary->spans()),
                    static_cast<double>(summary->spans()) / 1e6);
    return took;
}

// Thirty hour-long files whose summaries are in the cache already, drawn
// at each zoom: fifty redraws after scrolls at each.
void redraw(const TestEnvironment& environment)
{
    const QString cache = environment.root() + u"/redraw-peaks"_s;
    DraftBook book;
    ItemList files;
    QByteArray levels(3600 * PeakSummary::kSpansPerSecond, '\0');
    for (qsizetype i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<char>((i * 37 % 251) * (i % 4000 < 3900 ? 1 : 0));
    const QByteArray summary = PeakSummary(levels).serialized();
    QDir().mkpath(cache);
    for (int hour = 1; hour <= 30; ++hour) {
        const QString path = environment.sources() + u"/Hour %1.mp3"_s.arg(hour);
        writeFile(path, "stands for an hour of audio");
        writeFile(cache + u'/' + PeakReader::cacheName(path), summary);
        auto record = std::make_shared<ItemRecord>();
        record->pathColumn = path;
        record->titleColumn = u"Hour %1"_s.arg(hour);
        record->lengthColumn = 3600;
        record->lengthRead = true;
        files << record;
    }
    book.edit(u"Add Files"_s, [&](DraftBook::Edit& edit) { edit.insert(0, files); });
    PeakReader reader(cache, 2);
    for (const ItemRecordPtr& file : std::as_const(files))
        reader.read(file->pathColumn, 3600);
    WaveformStrip strip(book, reader);
    strip.resize(1200, 140);
    QImage image(strip.size(), QImage::Format_ARGB32_Premultiplied);
    for (int turn = 0; turn < 10; ++turn)
        QCoreApplication::processEvents();
    const double length = 30 * 3600;
    for (const double seconds : {length, 3600.0, 300.0, 30.0, 3.0}) {
        strip.zoomTo(length * 0.4, seconds);
        strip.render(&image);
        std::vector<qint64> took;
        for (int draw = 0; draw < 50; ++draw) {
            // A scroll of a fiftieth of the view, then the redraw it asks for.
            strip.zoomTo(strip.viewStart() + seconds / 50, seconds);
            QElapsedTimer clock;
            clock.start();
            strip.render(&image);
            took.push_back(clock.nsecsElapsed());
        }
        std::sort(took.begin(), took.end());
        std::printf("redraw of 30 hours, %8.0f s in view: %.2f ms (median), %.2f ms at most\n",
                    seconds, static_cast<double>(took[took.size() / 2]) / 1e6,
                    static_cast<double>(took.back()) / 1e6);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double hours = argc > 1 ? std::atof(argv[1]) : 10.0;
    TestEnvironment environment;
    QString book = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (book.isEmpty()) {
        book = environment.root() + u"/book.mp3"_s;
        std::printf("making %.1f h of speech-like MP3...\n", hours);
        if (QProcess::execute(
                QStringLiteral(FABLEWICK_FFMPEG),
                {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                 u"anoisesrc=color=pink:amplitude=0.4:duration=%1:sample_rate=22050"_s.arg(hours *
                                                                                           3600),
                 u"-af"_s, u"volume='(0.2+0.8*abs(sin(2*PI*3*t)))*lt(mod(t,97),94.5)':eval=frame"_s,
                 u"-ac"_s, u"1"_s, u"-b:a"_s, u"64k"_s, u"-y"_s, book}) != 0)
            return 1;
    }
    const double took = summarise(book, hours * 3600, environment.root() + u"/peaks"_s);
    std::printf("peak summary of %.1f h on %d cores: %.1f s (target: 15 s for 10 h on 2)\n", hours,
                QThread::idealThreadCount(), took);
    redraw(environment);
    return 0;
}
