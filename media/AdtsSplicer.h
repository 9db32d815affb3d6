#pragma once

#include <QList>
#include <QString>
#include <functional>

// Puts the AAC frames of several ADTS streams into one MP4 audio file, as
// ffmpeg's mov muxer lays it out, without decoding anything: the first frame
// kept is the encoder's priming, which the file's edit list skips.
class AdtsSplicer
{
public:
    // One stream: its first droppedFrames frames are left out, then
    // keptFrames are kept (-1: all the rest).
    struct Part
    {
        QString path;
        qint64 droppedFrames = 0;
        qint64 keptFrames = -1;
    };

    // Writes the file at output; throws std::runtime_error with the reason,
    // leaving no file, when a stream is not ADTS, is shorter than its part,
    // or the file cannot be written, and when stopped() says so.
    static void writeM4a(const QList<Part>& parts, const QString& output,
                         const std::function<bool()>& stopped = {});
};
