#include "AacCopier.h"

#include "AacFormat.h"
#include "AacTrackWriter.h"
#include "Mp4AudioTrack.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {

// Frames are read in runs of adjacent chunks up to this many bytes.
constexpr quint64 kRunBytes = 4 << 20;

std::string quoted(const QString& path)
{
    return (u"“"_s + QFileInfo(path).fileName() + u"”"_s).toStdString();
}

} // namespace

AacCopier::~AacCopier()
{
    terminate();
    mThread.join();
}

void AacCopier::start(const QStringList& sources, const QByteArray& audioConfig,
                      const QString& output, WorkerReports reports)
{
    mThread.join();
    mSources = sources;
    mAudioConfig = audioConfig;
    mOutput = output;
    mPlacements.clear();
    mStopped = false;
    mThread.start([this, reports = std::move(reports)] {
        std::exception_ptr failure;
        try {
            copy(reports);
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
        reports.end(failure);
    });
}

void AacCopier::copy(const WorkerReports& reports)
{
    std::vector<Mp4AudioTrack> tracks;
    for (const QString& source : std::as_const(mSources)) {
        try {
            tracks.push_back(Mp4AudioTrack::read(source));
        } catch (const std::runtime_error& e) {
            throw NotAlike(quoted(source) + " cannot be copied: " + e.what());
        }
        if (tracks.back().audioConfig != mAudioConfig)
            throw NotAlike(quoted(source) + " is not encoded as it was when it was listed");
    }
    if (tracks.empty())
        throw NotAlike("there are no files to copy");

    AacTrackWriter out(mOutput);
    const Mp4AudioTrack& first = tracks.front();
    out.setFormat(first.audioConfig, first.sampleRate, first.channels);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Mp4AudioTrack& track = tracks[i];
        QFile in(mSources.at(static_cast<qsizetype>(i)));
        if (!in.open(QIODevice::ReadOnly))
            throw WorkerException(quoted(in.fileName()) + " cannot be read: " +
                                  in.errorString().toStdString());
        std::size_t frame = 0;
        for (std::size_t chunk = 0; chunk < track.chunkOffsets.size();) {
            if (mStopped)
                throw WorkerException("stopped");
            // Adjacent chunks are read at once.
            const quint64 from = track.chunkOffsets[chunk];
            quint64 end = from;
            const std::size_t firstFrame = frame;
            do {
                if (track.chunkOffsets[chunk] != end)
                    break;
                // The reader checked that the chunks hold the frames; a
                // copy never trusts that with its reads.
                if (track.chunkFrames[chunk] > track.sizes.size() - frame)
                    throw NotAlike(quoted(in.fileName()) + " lists more frames than it has");
                for (quint32 k = 0; k < track.chunkFrames[chunk]; ++k)
                    end += track.sizes[frame++];
                ++chunk;
            } while (chunk < track.chunkOffsets.size() && end - from < kRunBytes);
            const QByteArray bytes =
                in.seek(static_cast<qint64>(from)) ? in.read(static_cast<qint64>(end - from))
                                                   : QByteArray();
            if (static_cast<quint64>(bytes.size()) != end - from)
                throw WorkerException(quoted(in.fileName()) + " ends before its audio does");
            out.append(bytes, std::span(track.sizes).subspan(firstFrame, frame - firstFrame));
        }
        const qint64 samples = static_cast<qint64>(track.sizes.size()) * Aac::kFrameSamples;
        // The first file's priming is skipped by the book's edit; a later
        // file's plays before its audio, at the end of the chapter before.
        const bool isFirst = i == 0;
        const bool isLast = i + 1 == tracks.size();
        const qint64 kept = samples - (isFirst ? track.priming : 0) - (isLast ? track.padding : 0);
        mPlacements.push_back({.samples = kept,
                               .leadIn = isFirst ? 0 : track.priming,
                               .sampleRate = track.sampleRate,
                               .joinedSamples = kept,
                               .joinedLeadIn = isFirst ? 0 : track.priming});
        reports.tell(static_cast<double>(i + 1), static_cast<double>(tracks.size()),
                     u"Copying file %1 of %2..."_s.arg(i + 1).arg(tracks.size()));
    }
    out.finish(first.priming, tracks.back().padding);
}
