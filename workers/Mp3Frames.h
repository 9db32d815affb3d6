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

    // Filled by measure(): the samples that a decoder gives of the file
    // (its Xing, Info or VBRI frame carries none), and the encoder's delay at
    // the start of them, from the LAME tag.
    qint64 audioSamples = 0;
    int encoderDelay = 0;

    [[nodiscard]] bool isAudio() const { return problem.isEmpty(); }
    [[nodiscard]] double seconds() const
    {
        return sampleRate > 0 ? static_cast<double>(audioSamples) / sampleRate : 0.0;
    }
    [[nodiscard]] static Mp3Frames inspect(const QString& path);
    // The file's exact playing time, from its frames, however it is encoded.
    [[nodiscard]] static Mp3Frames measure(const QString& path);
};
