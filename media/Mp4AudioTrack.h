#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>
#include <vector>

// The AAC track of an MP4 file as its header lays it out: the decoder's
// configuration, where each frame lies, and the edit that skips the
// encoder's priming and padding. Enough to copy its frames into a book
// without decoding them.
struct Mp4AudioTrack
{
    // The AudioSpecificConfig: files whose frames may follow one another
    // in one track have the same.
    QByteArray audioConfig;
    int sampleRate = 0;
    int channels = 0;
    // Bits a second, as the encoder noted them; 0 when it did not.
    qint64 averageBitRate = 0;
    // Each frame's size, and the chunks they lie in one after another.
    std::vector<quint32> sizes;
    std::vector<quint64> chunkOffsets;
    std::vector<quint32> chunkFrames;
    // What the edit leaves out before and after the audio, in samples.
    qint64 priming = 0;
    qint64 padding = 0;

    // The samples that play, after the edit.
    [[nodiscard]] qint64 playedSamples() const;

    // No book is longer than this many frames: over 190 hours at 48 kHz.
    // A table is never set aside for more.
    static constexpr quint64 kMostFrames = 1ULL << 25;

    // What read throws when the frames that the header lists do not all lie
    // in the file: a download cut short. The frames before the first one
    // missing play.
    class CutShort : public std::runtime_error
    {
    public:
        CutShort(qint64 present, qint64 promised, int rate);
        qint64 presentSamples;
        qint64 promisedSamples;
        int sampleRate;
    };

    // Throws std::runtime_error saying why the frames cannot be copied:
    // no MP4 file, no AAC-LC track, frames other than 1024 samples, an
    // edit that does more than trim, a header that does not add up, or
    // (as CutShort) frames missing from the file's end.
    // Frames whose times say other than 1024 samples (as tools that join
    // files write them) are refused for a copy into a book, whose times are
    // new, but not when the header's tables are kept as they are.
    enum class Times
    {
        Every1024,
        AsWritten
    };
    [[nodiscard]] static Mp4AudioTrack read(const QString& path, Times times = Times::Every1024);
    // The same from a movie header already read (Mp4File::movieHeader) of a
    // file `fileSize` bytes long, so that one read serves every reader.
    [[nodiscard]] static Mp4AudioTrack fromHeader(const QByteArray& moovBytes, qint64 fileSize,
                                                  Times times = Times::Every1024);

private:
    [[nodiscard]] static Mp4AudioTrack readTrack(const QByteArray& moovBytes, qint64 fileSize,
                                                 Times times);
};
