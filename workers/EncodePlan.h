#pragma once

#include <QList>
#include <QtGlobal>

// How a book is encoded on several cores: split at file starts or inside files into parts
// of about equal length, one encoder each, whose AAC frames are then put
// together without a re-encode. Each part after the first starts encoding a
// run-in before its start and drops those frames, so the encoder has settled
// by the join, and every join falls on the AAC frame grid of the whole book,
// so every sample keeps its place. A join lies a run-in after a file's
// start, so that its part reads from that start and decodes nothing before.
// All positions are samples at the output rate, from the start of the book.
struct EncodePart
{
    // The first source file the part reads, and where it starts in the book;
    // the last file it reads. ffmpeg would decode whatever else it is given.
    qsizetype firstFile = 0;
    qint64 readFrom = 0;
    // Whole seconds into that file where the part's reading starts: what lies
    // before is skipped by a seek instead of decoded, and the part's samples
    // count from there.
    qint64 seekSeconds = 0;
    qsizetype lastFile = 0;
    // Where the part starts and stops encoding; stop -1: at the end of the book.
    qint64 encodeFrom = 0;
    qint64 encodeTo = -1;
    // The part's own audio, which its kept frames hold.
    qint64 start = 0;
    qint64 end = 0;
    // Frames of the part's output dropped before its own audio (the encoder's
    // priming and the run-in), and then kept; kept -1: all the rest.
    qint64 droppedFrames = 0;
    qint64 keptFrames = -1;
};

class EncodePlan
{
public:
    static constexpr qint64 kFrame = 1024;

    // fileSamples: what each source file decodes to, at inputRate.
    EncodePlan(const QList<qint64>& fileSamples, int inputRate, int outputRate, int parts);

    [[nodiscard]] int outputRate() const { return mOutputRate; }
    [[nodiscard]] qint64 length() const { return mLength; }
    // Where each file starts in the book.
    [[nodiscard]] const QList<qint64>& fileStarts() const { return mFileStarts; }
    // Empty when the book is encoded whole.
    [[nodiscard]] const QList<EncodePart>& parts() const { return mParts; }

    // A resampler started on a file's first sample gives what it gives in the
    // middle of the book only when every input sample lands on an output
    // sample; otherwise every part reads the book from its start.
    [[nodiscard]] bool partsReadNearTheirStart() const;

    // Where parts join, in samples at sampleRate, on the frame grid, so that
    // every part costs the same: what it encodes, and before that what it
    // decodes from where it reads (the book's start when decodesBefore,
    // else its file's start) to its own start, at a fraction of the cost.
    // A join is taken back to a file start that lies just before it. Empty
    // when the book is encoded whole (one part, or under a minute).
    [[nodiscard]] static QList<qint64> partJoins(const QList<double>& fileStarts, double length,
                                                 int sampleRate, int parts, bool decodesBefore);

private:
    int mInputRate;
    int mOutputRate;
    qint64 mLength = 0;
    QList<qint64> mFileStarts;
    QList<EncodePart> mParts;
};
