#pragma once

#include "Mp4Box.h"

#include <QString>
#include <functional>
#include <vector>

struct Chapter
{
    qint64 startMs = 0;
    QString title;
};

// An MP4 movie header given chapters in both forms that players read: a
// QuickTime text track that the audio track refers to, and Nero chapters in
// the movie's user data, as ffmpeg writes them. Nothing else changes.
class ChapterMovie
{
public:
    // The movie header's bytes; throws std::runtime_error when they are not one.
    explicit ChapterMovie(QByteArray moov);
    ChapterMovie(const ChapterMovie&) = delete;
    ChapterMovie& operator=(const ChapterMovie&) = delete;

    [[nodiscard]] qint64 durationMs() const;

    // The chapters' titles, one sample each, as the text track holds them.
    [[nodiscard]] static QByteArray textSamples(const std::vector<Chapter>& chapters);

    // The header with the chapters. Every chunk offset moves as movedOffset
    // says, and the text samples lie at textSamplesAt.
    [[nodiscard]] QByteArray withChapters(const std::vector<Chapter>& chapters,
                                          const std::function<quint64(quint64)>& movedOffset,
                                          quint64 textSamplesAt) const;

private:
    // What the boxes' leaves point into.
    QByteArray mBytes;
    Mp4Box mMoov;
    quint64 mTimeScale = 0;
    quint64 mDuration = 0;
};
