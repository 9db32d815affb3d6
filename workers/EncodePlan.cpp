#include "EncodePlan.h"

#include <algorithm>
#include <cmath>

namespace {

// What decoding a second of MP3 costs against encoding it as AAC, as measured.
constexpr double kDecodeCost = 0.12;
// Frames that a part encodes past its end, so its last kept frame is whole.
constexpr qint64 kTailFrames = 2;
// Books shorter than this are not worth splitting.
constexpr double kShortestSplit = 60;
// A part seeks into its first file only past this many seconds, and to
// this many before its run-in.
constexpr qint64 kShortestSeek = 10;
constexpr qint64 kSeekMargin = 2;
// How near a file start must lie to a share's end, as a part of the share,
// to take the join there.
constexpr double kNearShare = 0.1;

// Frames that a part encodes before its start and drops: about 1.5 s, which
// lets the encoder settle so that no join can be told from the rest.
qint64 runInFrames(int sampleRate)
{
    return (sampleRate * 3 / 2 + EncodePlan::kFrame - 1) / EncodePlan::kFrame;
}

} // namespace

EncodePlan::EncodePlan(const QList<qint64>& fileSamples, int inputRate, int outputRate, int parts)
    : mInputRate(std::max(1, inputRate)), mOutputRate(std::max(1, outputRate))
{
    qint64 input = 0;
    QList<double> startSeconds;
    for (const qint64 samples : fileSamples) {
        const qint64 start = (input * mOutputRate + mInputRate / 2) / mInputRate;
        mFileStarts << start;
        startSeconds << static_cast<double>(start) / mOutputRate;
        input += samples;
    }
    mLength = (input * mOutputRate + mInputRate / 2) / mInputRate;

    const bool nearStart = partsReadNearTheirStart();
    QList<qint64> joins = partJoins(
        startSeconds, static_cast<double>(mLength) / mOutputRate, mOutputRate, parts, !nearStart);
    // A part that reads from a file's start decodes nothing before its
    // run-in when the run-in begins on that start: its join comes a run-in
    // after the file starts.
    const qint64 runIn = runInFrames(mOutputRate);
    if (nearStart) {
        for (qint64& join : joins) {
            const auto nearest = std::min_element(
                mFileStarts.begin(), mFileStarts.end(),
                [join](qint64 a, qint64 b) { return std::abs(a - join) < std::abs(b - join); });
            // Inside a file, the part reads from the file's start all the same.
            if (std::abs(*nearest - join) <= kFrame)
                join = (*nearest + runIn * kFrame + kFrame - 1) / kFrame * kFrame;
        }
        while (!joins.isEmpty() && joins.constLast() >= mLength - kFrame)
            joins.removeLast();
    }
    for (qsizetype k = 0; k <= joins.size(); ++k) {
        const bool last = k == joins.size();
        EncodePart part;
        part.start = k == 0 ? 0 : joins.at(k - 1);
        part.end = last ? mLength : joins.at(k);
        const qint64 runInSamples = k == 0 ? 0 : std::min(runIn, part.start / kFrame) * kFrame;
        part.encodeFrom = part.start - runInSamples;
        part.encodeTo = last ? -1 : part.end + kTailFrames * kFrame;
        if (nearStart) {
            const auto after = std::upper_bound(mFileStarts.begin(), mFileStarts.end(),
                                                part.encodeFrom);
            part.firstFile = std::max<qsizetype>(0, (after - mFileStarts.begin()) - 1);
        }
        part.readFrom = mFileStarts.at(part.firstFile);

        part.lastFile = mFileStarts.size() - 1;
        if (!last) {
            const auto after = std::lower_bound(mFileStarts.begin(), mFileStarts.end(),
                                                part.encodeTo);
            part.lastFile = std::max<qsizetype>(0, (after - mFileStarts.begin()) - 1);
        }
        // Where every input sample is an output sample, a seek to a whole
        // second lands on a sample of its own; a few seconds before the
        // run-in, whatever a decoder makes of the first frames is dropped.
        // Only a part of one file seeks: a list of files would be timed by
        // their guessed lengths.
        if (nearStart && part.firstFile == part.lastFile) {
            const qint64 seconds = (part.encodeFrom - part.readFrom) / mOutputRate - kSeekMargin;
            if (seconds >= kShortestSeek)
                part.seekSeconds = seconds;
        }
        // Frame j of a part holds its samples from j - 1 frames after where it
        // starts encoding: the first frame is the encoder's priming.
        part.droppedFrames = k == 0 ? 0 : runInSamples / kFrame + 1;
        part.keptFrames = last ? -1 : (part.end - part.start) / kFrame + (k == 0 ? 1 : 0);
        mParts << part;
    }
}

bool EncodePlan::partsReadNearTheirStart() const
{
    return mOutputRate % mInputRate == 0;
}

QList<qint64> EncodePlan::partJoins(const QList<double>& fileStarts, double length, int sampleRate,
                                    int parts, bool decodesBefore)
{
    QList<qint64> joins;
    if (parts <= 1 || fileStarts.isEmpty() || length < kShortestSplit || sampleRate <= 0)
        return joins;
    // Each part first decodes what lies between where it reads from and its
    // own start (everything before it, or its file's start), at kDecodeCost
    // a second against a second encoded. The joins give every part the same
    // cost: the cost is searched for that leaves the last part no more.
    const double near = kNearShare * length / parts;
    const auto fileStartBefore = [&](double at) {
        const auto after = std::upper_bound(fileStarts.begin(), fileStarts.end(), at);
        return after == fileStarts.begin() ? 0.0 : *(after - 1);
    };
    // A part that reads near its start, from one file to its end, seeks
    // past the rest of that file.
    const auto readsFrom = [&](double start, double end) {
        if (decodesBefore)
            return 0.0;
        const auto next = std::upper_bound(fileStarts.begin(), fileStarts.end(), start);
        const bool oneFile = next == fileStarts.end() || *next >= end;
        return oneFile ? std::max(fileStartBefore(start), start - kShortestSeek)
                       : fileStartBefore(start);
    };
    // A share's end, taken back to a file start when one lies just before
    // it, so that the next part decodes nothing of that file.
    const auto settle = [&](double end) {
        const double before = fileStartBefore(end);
        return before > 0 && end - before <= near ? before : end;
    };
    const auto walk = [&](double cost, QList<double>& ends) {
        ends.clear();
        double start = 0;
        for (int k = 1; k < parts; ++k) {
            const double decoded = start - readsFrom(start, start + cost);
            start = std::max(start, settle(start + cost - kDecodeCost * decoded));
            ends << start;
        }
        return length - start + kDecodeCost * (start - readsFrom(start, length));
    };
    double low = length / parts;
    double high = length;
    QList<double> ends;
    for (int i = 0; i < 50; ++i) {
        const double cost = (low + high) / 2;
        (walk(cost, ends) > cost ? low : high) = cost;
    }
    walk(high, ends);
    const auto end = static_cast<qint64>(length * sampleRate);
    for (const double at : std::as_const(ends)) {
        const qint64 join = std::llround(at * sampleRate / kFrame) * kFrame;
        if (join <= (joins.isEmpty() ? 0 : joins.last()) || join >= end - kFrame)
            continue;
        joins << join;
    }
    return joins;
}
