#include "PeakReader.h"

#include "Resources.h"
#include "ShellQuote.h"
#include "ToolProcess.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// ffmpeg hands over mono samples at this rate: enough for peaks a fiftieth
// of a second apart, and little to carry through a pipe.
constexpr int kRate = 4000;
constexpr int kSamplesPerSpan = kRate / PeakSummary::kSpansPerSecond;
// A piece shorter than this costs more in starting ffmpeg than it saves.
constexpr qsizetype kShortestPiece = qsizetype{300} * PeakSummary::kSpansPerSecond;

// Spans from `first` for `count` of them (0: to the end of the file).
QString command(const QString& path, qsizetype first, qsizetype count)
{
    const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
    QString range;
    if (count > 0) {
        const double perSecond = PeakSummary::kSpansPerSecond;
        range = u" -ss %1 -t %2"_s.arg(static_cast<double>(first) / perSecond, 0, 'f', 3)
                    .arg(static_cast<double>(count) / perSecond, 0, 'f', 3);
    }
    return ShellQuote::single(tool) + u" -nostdin -v error"_s + range + u" -i "_s +
           ShellQuote::single(path) +
           // A short resampling filter is enough for peaks; and output held
           // back to fill the pipe's buffer, which a write a frame would not.
           u" -map 0:a:0 -ac 1 -af aresample=%1:filter_size=4:phase_shift=2 -flush_packets 0 -f s16le -"_s
               .arg(kRate);
}

} // namespace

// What the pool's threads and the reader share: the ffmpegs running, which
// a stop ends.
struct PeakReader::Shared
{
    std::mutex mutex;
    std::vector<ToolProcess*> running;
    bool stopping = false;
};

// One file's summary being made, piece by piece.
struct PeakReader::Work
{
    QString path;
    QString cacheFile;
    std::mutex mutex;
    QByteArray levels;
    int piecesLeft = 0;
    bool failed = false;
};

PeakReader::PeakReader(QString cacheFolder, int jobs, QObject* parent)
    : QObject(parent), mFolder(std::move(cacheFolder)), mJobs(std::max(1, jobs)),
      mPool(new QThreadPool(this)), mShared(std::make_shared<Shared>())
{
    mPool->setMaxThreadCount(mJobs);
}

PeakReader::~PeakReader()
{
    stop();
}

QString PeakReader::defaultCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + u"/peaks"_s;
}

QString PeakReader::cacheName(const QString& path)
{
    const QFileInfo file(path);
    const QByteArray key = file.absoluteFilePath().toUtf8() + '\0' +
                           QByteArray::number(file.size()) + '\0' +
                           QByteArray::number(file.lastModified().toMSecsSinceEpoch());
    return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex()) +
           u".peaks"_s;
}

std::shared_ptr<const PeakSummary> PeakReader::summaryOf(const QString& path) const
{
    return mMade.value(path);
}

void PeakReader::stop()
{
    {
        std::lock_guard lock(mShared->mutex);
        mShared->stopping = true;
        for (ToolProcess* process : mShared->running)
            process->terminate();
    }
    mPool->clear();
    mPool->waitForDone();
    mUnderWay.clear();
    std::lock_guard lock(mShared->mutex);
    mShared->stopping = false;
}

void PeakReader::read(const QString& path, double seconds)
{
    if (mFolder.isEmpty() || mMade.contains(path) || mUnderWay.contains(path) ||
        mFailed.contains(path))
        return;
    auto work = std::make_shared<Work>();
    work->path = path;
    work->cacheFile = mFolder + u'/' + cacheName(path);
    QFile cached(work->cacheFile);
    if (cached.open(QIODevice::ReadOnly)) {
        if (auto summary = PeakSummary::parse(cached.readAll())) {
            mMade.insert(path, std::make_shared<const PeakSummary>(*std::move(summary)));
            QMetaObject::invokeMethod(
                this, [this, path] { Q_EMIT summaryReady(path); }, Qt::QueuedConnection);
            return;
        }
    }
    mUnderWay.insert(path);
    // A few pieces a core, none too short to be worth an ffmpeg of its own.
    const auto spans =
        static_cast<qsizetype>(std::ceil(std::max(seconds, 0.0) * PeakSummary::kSpansPerSecond));
    const qsizetype pieces =
        spans <= 0 ? 1 : std::clamp<qsizetype>(spans / kShortestPiece, 1, qsizetype{mJobs});
    work->levels = QByteArray(spans, '\0');
    work->piecesLeft = static_cast<int>(pieces);
    for (qsizetype k = 0; k < pieces; ++k) {
        const qsizetype first = spans * k / pieces;
        const qsizetype count = pieces == 1 ? 0 : spans * (k + 1) / pieces - first;
        mPool->start([this, work, first, count] { readPiece(work, first, count); });
    }
}

void PeakReader::readPiece(const std::shared_ptr<Work>& work, qsizetype first, qsizetype count)
{
    ToolProcess process(command(work->path, first, count));
    {
        std::lock_guard lock(mShared->mutex);
        if (mShared->stopping)
            return;
        mShared->running.push_back(&process);
    }
    QByteArray levels;
    levels.reserve(count > 0 ? count : 1 << 16);
    bool ok = true;
    try {
        process.launch(ToolOutput::StdoutStreamed);
        // A sample may lie across two chunks, and a span across many.
        QByteArray carry;
        int peak = 0;
        int inSpan = 0;
        for (QByteArray chunk = process.readChunk(); !chunk.isEmpty();
             chunk = process.readChunk()) {
            if (!carry.isEmpty())
                chunk.prepend(std::exchange(carry, {}));
            const qsizetype whole = chunk.size() / 2 * 2;
            const auto* bytes = reinterpret_cast<const uchar*>(chunk.constData());
            for (qsizetype at = 0; at < whole; at += 2) {
                const auto sample = static_cast<qint16>(bytes[at] | (bytes[at + 1] << 8));
                peak = std::max(peak, std::abs(int{sample}));
                if (++inSpan == kSamplesPerSpan) {
                    levels.append(static_cast<char>(PeakSummary::levelOf(peak)));
                    peak = 0;
                    inSpan = 0;
                }
            }
            if (whole < chunk.size())
                carry = chunk.sliced(whole);
        }
        if (inSpan > 0)
            levels.append(static_cast<char>(PeakSummary::levelOf(peak)));
        process.waitUntilExit();
        ok = process.exitedCleanly();
    } catch (const std::exception&) {
        ok = false;
    }
    bool stopped = false;
    {
        std::lock_guard lock(mShared->mutex);
        std::erase(mShared->running, &process);
        stopped = mShared->stopping;
    }
    if (stopped)
        return;
    bool last = false;
    {
        std::lock_guard lock(work->mutex);
        work->failed = work->failed || !ok;
        if (count == 0)
            work->levels = levels;
        else
            std::copy_n(levels.constData(), std::min(levels.size(), count),
                        work->levels.data() + first);
        last = --work->piecesLeft == 0;
    }
    if (last)
        finished(work);
}

void PeakReader::finished(const std::shared_ptr<Work>& work)
{
    std::shared_ptr<const PeakSummary> summary;
    if (!work->failed) {
        summary = std::make_shared<const PeakSummary>(work->levels);
        QDir().mkpath(mFolder);
        QSaveFile file(work->cacheFile);
        // A cache that cannot be written costs a read next time, no more.
        if (file.open(QIODevice::WriteOnly) && file.write(summary->serialized()) >= 0)
            (void)file.commit();
    }
    QMetaObject::invokeMethod(
        this,
        [this, path = work->path, summary] {
            mUnderWay.remove(path);
            if (!summary) {
                mFailed.insert(path);
                Q_EMIT unreadable(path);
                return;
            }
            mMade.insert(path, summary);
            Q_EMIT summaryReady(path);
        },
        Qt::QueuedConnection);
}
