#pragma once

#include <QString>
#include <optional>
#include <vector>

// What an MPEG audio file holds, read from its own bytes without a tool: the
// ID3v2 tags at its start, the ID3v1 and APE tags at its end, the Xing, Info
// or VBRI frame with LAME's tag, and the frames.
namespace Mp3Frames {

// Whether a file holds MPEG audio, and at what rate and channels, from its
// first frames: quick enough for a whole list.
struct Check
{
    enum class Problem
    {
        None,
        Gone,
        Unreadable,
        NotAudio,
        // Its Info frame promises more audio than the file holds.
        CutShort,
    };
    Problem problem = Problem::None;
    int sampleRate = 0;
    int channels = 0;
    // When cut short: about how far it plays, of how long it was.
    double presentSeconds = 0;
    double promisedSeconds = 0;
    [[nodiscard]] bool isAudio() const { return problem == Problem::None; }
};
[[nodiscard]] Check check(const QString& path);

// A file's frames, counted, and what its Info frame says of them.
struct Measure
{
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0;
    // The samples of the audio frames; an Info frame holds none.
    qint64 audioSamples = 0;
    // How much of their start and end the encoder added, from LAME's tag
    // (or ffmpeg's like it), and whether the file has one.
    int encoderDelay = 0;
    int encoderPadding = 0;
    bool encoderInfo = false;
    // The frame count is the Info frame's, which a decoder needs before it
    // drops the padding at the end.
    bool countedByInfo = false;
    // The first frame is a Xing, Info or VBRI frame.
    bool infoFrame = false;
};
// None when the file holds no MPEG audio.
[[nodiscard]] std::optional<Measure> measure(const QString& path);

// Where the audio lies between the tags at the start and at the end: the
// first byte, and the byte after the last.
struct Span
{
    qint64 begin = 0;
    qint64 end = 0;
};
[[nodiscard]] std::optional<Span> framesSpan(const QString& path);

// Where each audio frame starts, for cutting a file at frames: an Info
// frame is not one. The frames end at `end`, where the first byte that is
// no frame of the same kind lies.
struct Frames
{
    int sampleRate = 0;
    int samplesPerFrame = 0;
    std::vector<qint64> starts;
    qint64 end = 0;
    // Where a Xing, Info or VBRI frame stands before them; -1: none.
    qint64 infoAt = -1;
};
// None when the file holds no MPEG audio.
[[nodiscard]] std::optional<Frames> frames(const QString& path);

// The audio of a stream joined from several files' bytes, in runs of
// frames: the files' tags between them (ID3v2, ID3v1, APE) and the Info
// frames of all but the first are passed over, as is anything else that
// is no frame. The first run starts with the first file's Info frame.
struct Joined
{
    std::vector<Span> runs;
    // Each audio frame's place in the runs laid end to end.
    std::vector<qint64> starts;
    // The first file's Info frame's length; 0: it has none.
    qint64 infoLength = 0;
    [[nodiscard]] qint64 bytes() const;
};
// None when the file holds no MPEG audio.
[[nodiscard]] std::optional<Joined> joined(const QString& path);

} // namespace Mp3Frames
