#pragma once

#include "PeakSummary.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>

class QThreadPool;

// Makes the peak summaries that the waveform draws, with ffmpeg, on every
// core: files side by side and a long file in pieces. Each summary is kept
// in a folder of the cache, named by its file's path, size and modification
// time, so that the same files draw at once the next time they are listed.
// Summaries arrive on the thread that made the reader, one signal a file.
class PeakReader final : public QObject
{
    Q_OBJECT
public:
    // Where the summaries are kept (empty: none are made); jobs: ffmpegs at once.
    explicit PeakReader(QString cacheFolder, int jobs, QObject* parent = nullptr);
    ~PeakReader() override;
    PeakReader(const PeakReader&) = delete;
    PeakReader& operator=(const PeakReader&) = delete;

    // The application's: beside its other caches.
    [[nodiscard]] static QString defaultCacheFolder();

    // Makes the file's summary, of a file that plays for about that long
    // (0: not known, read whole); nothing when it is made or under way, or
    // when the reader has no folder.
    void read(const QString& path, double seconds);
    // Null while it is not made, or when ffmpeg could not read the file.
    [[nodiscard]] std::shared_ptr<const PeakSummary> summaryOf(const QString& path) const;
    // Stops every ffmpeg and forgets what was under way.
    void stop();

    // The name of a file's summary in the cache.
    [[nodiscard]] static QString cacheName(const QString& path);

Q_SIGNALS:
    void summaryReady(const QString& path);
    // ffmpeg could not read the file; it is not tried again.
    void unreadable(const QString& path);

private:
    struct Shared;
    struct Work;
    void readPiece(const std::shared_ptr<Work>& work, qsizetype first, qsizetype count);
    void finished(const std::shared_ptr<Work>& work);

    QString mFolder;
    int mJobs;
    QThreadPool* mPool;
    std::shared_ptr<Shared> mShared;
    QHash<QString, std::shared_ptr<const PeakSummary>> mMade;
    QSet<QString> mUnderWay;
    // Files that ffmpeg could not read, not tried again.
    QSet<QString> mFailed;
};
