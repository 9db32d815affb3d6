#pragma once

#include <QString>

// What the start of a file says of its MPEG audio: whether it holds frames at
// all, and their sample rate and channels. Read from the file itself, without
// a tool, so that a whole list is checked in a moment.
struct Mp3Frames
{
    int sampleRate = 0;
    int channels = 0;
    // Why the file holds no audio, in plain words ("no longer exists",
    // "cannot be read", "is not an MP3 file"); empty when it does.
    QString problem;

    [[nodiscard]] bool isAudio() const { return problem.isEmpty(); }
    [[nodiscard]] static Mp3Frames inspect(const QString& path);
};
