#pragma once

#include <QList>
#include <QString>
#include <optional>

// What the start of a file says of its MPEG audio: whether it holds frames at
// all, and their sample rate and channels. Read from the file itself, without
// a tool, so that a whole list is checked in a moment. Also how ffmpeg
// counts the samples of files joined end to end.
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
    int samplesPerFrame = 0;
    // What a joined stream makes of the file: its tags before and after its
    // frames, and whether its first frame is a Xing, Info or VBRI frame.
    bool leadingTag = false;
    bool trailingTag = false;
    bool infoFrame = false;

    // The samples that ffmpeg gives of this file in a joined stream, after
    // `previous` (none for the first file): it loses the frame after a tag
    // between files, and plays an info frame there as a frame of silence.
    [[nodiscard]] qint64 joinedSamples(const Mp3Frames* previous) const;

    [[nodiscard]] bool isAudio() const { return problem.isEmpty(); }
    [[nodiscard]] double seconds() const
    {
        return sampleRate > 0 ? static_cast<double>(audioSamples) / sampleRate : 0.0;
    }
    [[nodiscard]] static Mp3Frames inspect(const QString& path);

    // The file's exact playing time, from its frames, however it is encoded.
    [[nodiscard]] static Mp3Frames measure(const QString& path);

    // A place to start decoding a joined stream part way: the byte offset of
    // an audio frame, and where its samples start among those that a decoder
    // reading the stream from its start gives (after it drops the first
    // file's encoder delay), counted at the output rate.
    struct StreamStart
    {
        qint64 offset = 0;
        qint64 sample = 0;
    };
    // For each wanted sample at outputRate, in rising order, an audio frame
    // far enough before it that a decoder, and a resampler to outputRate,
    // started there give from the wanted sample on what they give when
    // started at the beginning. None unless the stream is all frames of one
    // rate that divides outputRate, with only tags between files and info
    // frames, counted as ffmpeg counts them.
    [[nodiscard]] static std::optional<QList<StreamStart>>
    startsInJoined(const QString& path, const QList<qint64>& samples, int outputRate);
};
