#include "SilenceFinder.h"

#include "ConverterProgress.h"
#include "LineBuffer.h"
#include "Resources.h"
#include "ShellQuote.h"
#include "WorkerException.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

// A piece shorter than this costs more in starting ffmpeg than it saves.
constexpr double kShortestPiece = 300;
// Each piece reads this far past its end, besides the shortest silence.
constexpr double kOverlapMargin = 0.5;

// The number after a key in a log line, or none.
std::optional<double> valueAfter(const QByteArray& line, const QByteArray& key)
{
    const qsizetype at = line.indexOf(key);
    if (at < 0)
        return std::nullopt;
    qsizetype end = at + key.size();
    while (end < line.size() && line.at(end) == ' ')
        ++end;
    qsizetype stop = end;
    while (stop < line.size() && (std::isdigit(static_cast<unsigned char>(line.at(stop))) ||
                                  line.at(stop) == '.' || line.at(stop) == '-'))
        ++stop;
    bool ok = false;
    const double value = line.mid(end, stop - end).toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

} // namespace

SilenceFinder::~SilenceFinder()
{
    stop();
    mThread.join();
}

QList<SilenceFinder::Piece> SilenceFinder::pieces(const QList<Source>& sources, int jobs)
{
    double total = 0;
    for (const Source& source : sources)
        total += std::max(source.length, 0.0);
    // Several pieces a core, so that cores that finish early take more.
    const double size = std::max(kShortestPiece, total / (4.0 * std::max(jobs, 1)));
    QList<Piece> pieces;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const double length = std::max(sources.at(i).length, 0.0);
        const auto count = std::max<qint64>(1, std::llround(std::ceil(length / size)));
        // A file whose length is not known is read whole.
        if (length <= 0 || count == 1) {
            pieces.append({.file = i, .from = 0, .length = 0});
            continue;
        }
        for (qint64 k = 0; k < count; ++k)
            pieces.append({.file = i,
                           .from = length * static_cast<double>(k) / static_cast<double>(count),
                           .length = length / static_cast<double>(count)});
    }
    // The longest first, so that none is left alone at the end.
    std::stable_sort(pieces.begin(), pieces.end(), [&sources](const Piece& a, const Piece& b) {
        const double la = a.length > 0 ? a.length : sources.at(a.file).length;
        const double lb = b.length > 0 ? b.length : sources.at(b.file).length;
        return la > lb;
    });
    return pieces;
}

QString SilenceFinder::command(const QString& path, const Piece& piece, double overlap,
                               const Settings& settings)
{
    const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
    QString range;
    if (piece.length > 0)
        range =
            u" -ss %1 -t %2"_s.arg(piece.from, 0, 'f', 3).arg(piece.length + overlap, 0, 'f', 3);
    return ShellQuote::single(tool) + u" -nostdin -hide_banner"_s + range + u" -i "_s +
           ShellQuote::single(path) +
           u" -vn -af silencedetect=noise=%1dB:duration=%2 -f null -"_s
               .arg(settings.levelDb, 0, 'f', 1)
               .arg(settings.shortest, 0, 'f', 3);
}

QList<SilenceFinder::Silence> SilenceFinder::parsed(const QByteArray& log, double from)
{
    QList<Silence> silences;
    // Plain values rather than an optional, which an optimised build takes
    // for uninitialised.
    bool open = false;
    double start = 0;
    LineBuffer lines;
    QList<QByteArray> all = lines.feed(log);
    if (const auto rest = lines.finish())
        all << *rest;
    for (const QByteArray& line : std::as_const(all)) {
        if (!line.contains("silencedetect"))
            continue;
        if (const auto begins = valueAfter(line, "silence_start:")) {
            start = std::max(*begins, 0.0);
            open = true;
        } else if (const auto ends = valueAfter(line, "silence_end:"); ends && open) {
            if (*ends > start)
                silences.append({.start = from + start, .end = from + *ends});
            open = false;
        }
    }
    return silences;
}

QList<SilenceFinder::Silence> SilenceFinder::merged(QList<Silence> silences)
{
    std::sort(silences.begin(), silences.end(),
              [](const Silence& a, const Silence& b) { return a.start < b.start; });
    QList<Silence> joined;
    for (const Silence& silence : std::as_const(silences)) {
        if (!joined.isEmpty() && silence.start <= joined.last().end + 0.001)
            joined.last().end = std::max(joined.last().end, silence.end);
        else
            joined.append(silence);
    }
    return joined;
}

QList<double> SilenceFinder::proposals(const QList<Silence>& silences, double length,
                                       const QList<double>& starts, double shortestChapter)
{
    QList<Silence> longest = silences;
    std::stable_sort(longest.begin(), longest.end(), [](const Silence& a, const Silence& b) {
        return a.end - a.start > b.end - b.start;
    });
    QList<double> taken;
    const auto farFromAll = [&](double at) {
        const auto far = [&](double other) { return std::abs(at - other) >= shortestChapter; };
        return std::all_of(starts.begin(), starts.end(), far) &&
               std::all_of(taken.begin(), taken.end(), far) &&
               (length <= 0 || length - at >= shortestChapter);
    };
    for (const Silence& silence : std::as_const(longest)) {
        // A silence at the very end has no speech after it to start a chapter.
        if (length > 0 && silence.end >= length - 0.05)
            continue;
        const double at = silence.end - std::min(0.3, (silence.end - silence.start) / 2);
        if (at > 0 && farFromAll(at))
            taken.append(std::round(at * 1000.0) / 1000.0);
    }
    std::sort(taken.begin(), taken.end());
    return taken;
}

void SilenceFinder::start(const QList<Source>& sources, Settings settings, int jobs,
                          WorkerReports reports)
{
    mThread.join();
    mSources = sources;
    mSettings = settings;
    mPieces = pieces(sources, jobs);
    mFound.assign(static_cast<std::size_t>(mPieces.size()), {});
    mSearched.assign(static_cast<std::size_t>(mPieces.size()), 0.0);
    mSilences.clear();
    mPool.prepare(mPieces.size(), jobs);
    mThread.start([this, reports = std::move(reports)] {
        const std::exception_ptr failure = mPool.run(
            mPieces.size(),
            [this, &reports](qsizetype i, ProcessSlot& slot) { search(i, slot, reports); }, {});
        if (!failure && !mPool.stopped()) {
            QList<QList<Silence>> perFile(mSources.size());
            for (qsizetype i = 0; i < mPieces.size(); ++i)
                perFile[mPieces.at(i).file] += mFound.at(static_cast<std::size_t>(i));
            for (QList<Silence>& each : perFile)
                mSilences.append(merged(std::move(each)));
        }
        reports.end(failure);
    });
}

void SilenceFinder::search(qsizetype index, ProcessSlot& slot, const WorkerReports& reports)
{
    const Piece piece = mPieces.at(index);
    const QString path = mSources.at(piece.file).path;
    auto process = std::make_shared<ToolProcess>(
        command(path, piece, mSettings.shortest + kOverlapMargin, mSettings));
    slot.hold(process);
    process->launch(ToolOutput::StderrStreamed);
    QByteArray log;
    LineBuffer lines;
    const double share = piece.length > 0 ? piece.length : mSources.at(piece.file).length;
    const auto tell = [&](const QList<QByteArray>& complete) {
        for (const QByteArray& line : complete) {
            if (line.contains("silencedetect")) {
                log += line + '\n';
                continue;
            }
            const qsizetype at = line.indexOf("time=");
            if (at < 0)
                continue;
            const double position = ConverterProgress::readTime(
                QString::fromLatin1(line.mid(at + 5, line.indexOf(' ', at) - at - 5)));
            std::lock_guard lock(mReportMutex);
            mSearched[static_cast<std::size_t>(index)] = std::clamp(position, 0.0, share);
            double searched = 0;
            double total = 0;
            for (const double each : mSearched)
                searched += each;
            for (const Source& source : std::as_const(mSources))
                total += source.length;
            reports.tell(searched, total);
        }
    };
    for (QByteArray chunk = process->readChunk(); !chunk.isEmpty(); chunk = process->readChunk())
        tell(lines.feed(chunk));
    if (const auto rest = lines.finish())
        tell({*rest});
    process->waitUntilExit();
    slot.release();
    if (slot.stopRequested() || mPool.stopped())
        return;
    if (!process->exitedCleanly()) {
        std::string cause = "ffmpeg " + process->exitDescription() + " looking for silence in " +
                            QFile::encodeName(path).toStdString();
        if (const std::string said = process->errorTail(); !said.empty())
            cause += ", saying: " + said;
        throw WorkerException(cause);
    }
    mFound[static_cast<std::size_t>(index)] = parsed(log, piece.from);
}

void SilenceFinder::stop()
{
    mPool.terminate();
}
