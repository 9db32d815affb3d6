#pragma once

#include "SlotPool.h"
#include "WorkerReports.h"
#include "WorkerThread.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Finds the silences in a book's files with ffmpeg's silencedetect, on
// every core: files side by side, and a long file in pieces that overlap
// by the shortest silence, so that a silence across a cut is still found
// whole. Times are seconds in each file.
class SilenceFinder
{
public:
    struct Silence
    {
        double start = 0;
        double end = 0;
        friend bool operator==(const Silence&, const Silence&) = default;
    };
    struct Source
    {
        QString path;
        double length = 0;
    };
    struct Settings
    {
        double shortest = 2.0;
        double levelDb = -35.0;
    };
    // One ffmpeg's share: a file from a time, for a length.
    struct Piece
    {
        qsizetype file = 0;
        double from = 0;
        double length = 0;
        friend bool operator==(const Piece&, const Piece&) = default;
    };

    SilenceFinder() = default;
    ~SilenceFinder();
    SilenceFinder(const SilenceFinder&) = delete;
    SilenceFinder& operator=(const SilenceFinder&) = delete;

    // Returns at once; the reports come from worker threads: seconds
    // searched of the whole, then the end.
    void start(const QList<Source>& sources, Settings settings, int jobs, WorkerReports reports);
    void stop();
    // Once finished: the silences of each file, in order; none when it was
    // stopped or failed.
    [[nodiscard]] const QList<QList<Silence>>& silences() const { return mSilences; }

    // Files cut into pieces small enough that `jobs` ffmpegs share the work
    // evenly, and no smaller than a few minutes.
    [[nodiscard]] static QList<Piece> pieces(const QList<Source>& sources, int jobs);
    [[nodiscard]] static QString command(const QString& path, const Piece& piece, double overlap,
                                         const Settings& settings);
    // The silences that silencedetect reports in its log, moved by `from`.
    [[nodiscard]] static QList<Silence> parsed(const QByteArray& log, double from);
    // Silences in time order, those that touch or overlap made one.
    [[nodiscard]] static QList<Silence> merged(QList<Silence> silences);
    // Where chapters could start after these silences: just before the
    // sound resumes, 0.3 s before, or half the silence if that is shorter.
    // Longer silences first, each at least `shortestChapter` from the starts
    // given and from those taken, and from the file's end.
    [[nodiscard]] static QList<double> proposals(const QList<Silence>& silences, double length,
                                                 const QList<double>& starts,
                                                 double shortestChapter);

private:
    void search(qsizetype index, ProcessSlot& slot, const WorkerReports& reports);

    QList<Source> mSources;
    QList<Piece> mPieces;
    Settings mSettings;
    std::vector<QList<Silence>> mFound;
    std::vector<double> mSearched;
    QList<QList<Silence>> mSilences;
    SlotPool mPool;
    std::mutex mReportMutex;
    WorkerThread mThread;
};
