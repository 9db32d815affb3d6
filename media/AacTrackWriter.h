#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <deque>
#include <span>
#include <vector>

// Writes AAC frames into an MP4 audio file as ffmpeg's mov muxer lays it
// out: the frames in chunks of about a megabyte, then the header, with an
// edit that skips the encoder's priming and the last frame's padding.
class AacTrackWriter
{
public:
    // Opens the file; throws std::runtime_error when it cannot.
    explicit AacTrackWriter(const QString& path);
    // Unless finished, the file is removed: half a book is no book.
    ~AacTrackWriter();
    AacTrackWriter(const AacTrackWriter&) = delete;
    AacTrackWriter& operator=(const AacTrackWriter&) = delete;

    // How the frames are encoded: the AudioSpecificConfig, rate and channels.
    void setFormat(const QByteArray& audioConfig, int sampleRate, int channels);
    [[nodiscard]] bool hasFormat() const { return mSampleRate > 0; }
    // Frames that lie one after another in bytes, of the sizes given.
    void append(QByteArrayView bytes, std::span<const quint32> sizes);
    void append(QByteArrayView frame);
    [[nodiscard]] qint64 frames() const { return static_cast<qint64>(mSizes.size()); }
    // Writes the header. The book plays from `priming` samples in to
    // `padding` samples before the end. Throws when it cannot be written.
    void finish(qint64 priming, qint64 padding);

private:
    void write(QByteArrayView bytes);
    [[nodiscard]] QByteArray movieHeader(qint64 priming, qint64 padding) const;

    QFile mFile;
    bool mFinished = false;
    QByteArray mAudioConfig;
    int mSampleRate = 0;
    int mChannels = 0;
    std::vector<quint32> mSizes;
    std::vector<quint64> mChunkOffsets;
    std::vector<quint32> mChunkFrames;
    quint64 mAt = 0;
    quint64 mChunkBytes = 0;
    quint64 mBytes = 0;
    // The most bytes in a second of audio, for the stream's peak rate.
    std::deque<quint32> mLastSecond;
    quint64 mLastSecondBytes = 0;
    quint64 mPeakSecondBytes = 0;
};
