#pragma once

#include <QList>
#include <QString>
#include <optional>

// What the start of a file says of its MPEG audio: whether it holds frames at
// all, and their sample rate and channels. Read from the file itself, without
// a tool, so that a whole list is checked in a moment. Also how a decoder
// counts the samples of a file alone, and of files joined end to end.
struct Mp3Frames
{
    int sampleRate = 0;
    int channels = 0;
    // Why the file holds no audio, in plain words ("no longer exists",
    // "cannot be read", "is not an MP3 file"); empty when it does.
    QString problem;

    // Filled by measure(): the samples of the file's audio frames (its Xing,
    // Info or VBRI frame carries none), and the encoder's delay and padding
    // at their start and end, from the LAME tag.
    qint64 audioSamples = 0;
    int encoderDelay = 0;
    int encoderPadding = 0;
    int samplesPerFrame = 0;
    // Whether the file says how much of its start and end the encoder added
    // (LAME's tag, or ffmpeg's like it): a decoder then drops it.
    bool encoderInfo = false;
    // Whether the frame count came from the Info frame, which a decoder
    // needs before it drops the padding at the end.
    bool countedByInfo = false;
    // What a joined stream makes of the file: its tags before and after its
    // frames, and whether its first frame is a Xing, Info or VBRI frame.
    bool leadingTag = false;
    bool trailingTag = false;
    bool infoFrame = false;

    // The samples that ffmpeg gives of this file decoded on its own.
    [[nodiscard]] qint64 decodedSamples() const;
    // Where the file's own audio starts among them: nothing when the decoder
    // dropped the encoder's delay, else LAME's usual delay and the decoder's.
    [[nodiscard]] qint64 leadInSamples() const;

    // What a player gives of this file in a stream of files joined byte for
    // byte, after `previous` (none for the first file), as mpg123, which VLC
    // plays MP3 with, decodes it: the first file as it plays alone, and every
    // later one whole, its Info frame as a frame of silence; tags are passed
    // over. (ffmpeg loses a frame or two after a tag, by where its bytes fall.)
    [[nodiscard]] qint64 joinedSamples(const Mp3Frames* previous) const;
    // Where the file's own audio starts among those samples, when it is not
    // the first: after its Info frame and its encoder's and decoder's delay.
    [[nodiscard]] qint64 joinedLeadIn() const;

    [[nodiscard]] bool isAudio() const { return problem.isEmpty(); }
    [[nodiscard]] double seconds() const
    {
        return sampleRate > 0 ? static_cast<double>(decodedSamples()) / sampleRate : 0.0;
    }
    [[nodiscard]] static Mp3Frames inspect(const QString& path);

    // The file's exact playing time, from its frames, however it is encoded.
    [[nodiscard]] static Mp3Frames measure(const QString& path);

    // Where a file's audio lies between the tags at its start (ID3v2) and
    // at its end (APE, ID3v1): the first byte, and the byte after the last.
    struct Span
    {
        qint64 begin = 0;
        qint64 end = 0;
    };
    [[nodiscard]] static std::optional<Span> framesSpan(const QString& path);
};
