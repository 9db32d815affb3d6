// A book of one long stereo FLAC (7 hours unless HOURS is given) and a
// 30-second MP3, made as an .m4b with "Same as source" and stereo, as a user
// makes a one-file book: reports the time from Make to the Desktop, the
// book's length against its sources', and where the second chapter starts.
// Its decoded audio passes 4 GiB, so the disk needs about 10 GB free.
//
//   bench_long [HOURS]
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <cstdio>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double hours = argc > 1 ? std::atof(argv[1]) : 7.0;
    const double longSeconds = hours * 3600 + 30.5;
    TestEnvironment environment;
    QDir().mkpath(environment.sources());
    const QString flac = environment.sources() + u"/01 Whole Book.flac"_s;
    const QString mp3 = environment.sources() + u"/02 Afterword.mp3"_s;
    std::printf("making %.1f h of stereo FLAC...\n", hours);
    if (QProcess::execute(QStringLiteral(FABLEWICK_FFMPEG),
                          {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                           u"sine=frequency=300:sample_rate=44100:duration=%1"_s.arg(longSeconds),
                           u"-ac"_s, u"2"_s, u"-c:a"_s, u"flac"_s, u"-compression_level"_s, u"0"_s,
                           flac}) != 0 ||
        !makeMp3(mp3, 30))
        return 1;

    TestApp testApp;
    AppController& c = *testApp.controller;
    c.applicationOpenFiles({flac, mp3});
    if (!waitUntilListed(c))
        return 1;
    if (c.tableData().at(0)->pathColumn != flac)
        c.autoSort();
    double sources = 0;
    for (const ItemRecordPtr& record : c.tableData())
        sources += record->lengthColumn.value_or(0);
    c.joinAll();
    control<QLineEdit>(c, u"outputName"_s)->setText(u"Long"_s);
    chooseEncoding(c, u"Bookmark"_s);
    chooseItem(control<QComboBox>(c, u"outputChannels"_s), u"Stereo"_s);
    QElapsedTimer clock;
    clock.start();
    c.startJoin();
    if (!waitUntilIdle(c, 6 * 3600 * 1000))
        return 1;
    const double took = static_cast<double>(clock.elapsed()) / 1000;
    for (const AlertSpec& alert : testApp.dialogs->allAlerts)
        std::printf("alert: %s\n", qPrintable(alert.detail));
    const QJsonObject info = probe(environment.desktop() + u"/Long.m4b"_s);
    const double made = info[u"format"_s][u"duration"_s].toString().toDouble();
    const double second = info[u"chapters"_s][1][u"start_time"_s].toString().toDouble();
    std::printf("sources %.3f s, book %.3f s (%+.3f s); chapter 2 at %.3f s of %.3f s; "
                "made in %.1f s\n",
                sources, made, made - sources, second,
                c.tableData().at(0)->lengthColumn.value_or(0), took);
    return std::abs(made - sources) < 0.1 ? 0 : 1;
}
