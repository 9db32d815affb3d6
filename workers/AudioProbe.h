#pragma once

#include "ItemRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What ffprobe says of an audio file that is not an MP3: its first audio
// stream, its length and the chapters it carries.
struct AudioProbe
{
    // Empty when the file holds audio that ffmpeg decodes; else why not, in
    // the words the list shows ("cannot be decoded: Invalid data …").
    QString problem;
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    // Bits a second, 0 when ffprobe does not know.
    qint64 bitRate = 0;
    double seconds = 0;
    QList<ItemRecord::InnerChapter> chapters;

    // Runs ffprobe on the file; on a worker thread, as it takes a moment.
    [[nodiscard]] static AudioProbe probe(const QString& path);
    // ffprobe's JSON (-show_streams -show_format -show_chapters).
    [[nodiscard]] static AudioProbe parse(const QByteArray& json);
};
