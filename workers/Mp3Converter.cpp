#include "Mp3Converter.h"

#include "ConverterProgress.h"
#include "Mp3Helper.h"
#include "Resources.h"
#include "ShellQuote.h"
#include "WorkerException.h"

#include <QFile>
#include <QThread>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {
// Samples in one AAC frame.
constexpr qint64 kFrame = 1024;
// What decoding a second of MP3 costs against encoding it as AAC, as measured.
constexpr double kDecodeCost = 0.12;
// Frames that a part encodes past its end, so its last kept frame is whole.
constexpr qint64 kTailFrames = 2;
// Frames that a part encodes before its start and drops: about 1.5 s, which
// lets the encoder settle so that no join can be told from the rest.
qint64 preRollFrames(int sampleRate)
{
    return (sampleRate * 3 / 2 + kFrame - 1) / kFrame;
}
// Where a part starting at `start` starts encoding: its run-in before it.
qint64 runInStart(qint64 start, int sampleRate)
{
    return start - std::min(preRollFrames(sampleRate) * kFrame, start / kFrame * kFrame);
}
QString ffmpegTool()
{
    return Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
}
// Tags longer than this go to the join in a file rather than on its command
// line, which the system limits to 128 KiB.
constexpr qsizetype kTagsOnCommandLine = 32 << 10;

// The global tags of an ffmetadata file: key=value lines before any section,
// with '=', ';', '#', '\' and line ends inside them escaped by a backslash.
QList<std::pair<QString, QString>> globalTags(const QByteArray& text)
{
    QList<std::pair<QString, QString>> tags;
    QByteArray key;
    QByteArray value;
    bool inValue = false;
    bool escaped = false;
    bool lineStart = true;
    bool comment = false;
    const auto endLine = [&] {
        if (inValue && !key.isEmpty())
            tags.append({QString::fromUtf8(key), QString::fromUtf8(value)});
        key.clear();
        value.clear();
        inValue = false;
        lineStart = true;
    };
    for (const char c : text) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (escaped) {
            (inValue ? value : key) += c;
            escaped = false;
            continue;
        }
        if (lineStart && (c == ';' || c == '#')) {
            comment = true;
            continue;
        }
        if (lineStart && c == '[')
            return tags;
        lineStart = false;
        if (c == '\\')
            escaped = true;
        else if (c == '\n')
            endLine();
        else if (c == '=' && !inValue)
            inValue = true;
        else
            (inValue ? value : key) += c;
    }
    endLine();
    return tags;
}
} // namespace

Mp3Converter::~Mp3Converter()
{
    terminateConvert();
}

QString Mp3Converter::command() const
{
    const QString tool = ffmpegTool();
    const QString output = mOutputFolder + u'/' + mOutputFile + u".m4a"_s;
    return ShellQuote::single(tool) + u" -i "_s + ShellQuote::single(mInputFile) +
           u" -vn -y -ab "_s + mFfmpegOptions.value(u"bitrate"_s) + u" -acodec aac -ac "_s +
           mFfmpegOptions.value(u"channels"_s) + u" -ar "_s +
           mFfmpegOptions.value(u"sampleFrequency"_s) + u" -map_metadata 0 "_s +
           ShellQuote::single(output);
}

void Mp3Converter::startConvert()
{
    mFfmpegLength = Mp3Helper::getUnixTimeOfMP3(mInputFile);
    mSampleRate = std::max(1, mFfmpegOptions.value(u"sampleFrequency"_s).toInt());
    const int parts = mParallelism > 0 ? mParallelism : std::min(QThread::idealThreadCount(), 8);
    QList<qint64> joins = partJoins(mFileStarts, mLength, mSampleRate, parts, false);
    if (joins.isEmpty()) {
        startWhole();
        return;
    }
    // A stopped conversion's threads may still be ending, and they would take
    // the lock and count as parts of this one: they end first.
    mPlanner.join();
    std::vector<std::unique_ptr<Part>> previous;
    {
        std::lock_guard lock(mPartsMutex);
        previous.swap(mParts);
    }
    previous.clear();
    mJoinRunner.join();
    {
        std::lock_guard lock(mPartsMutex);
        mStopped = false;
    }
    // Finding where each part reads from walks the whole MP3: not on the caller's thread.
    mPlanner.start([this, parts, joins]() mutable {
        QList<qint64> readFrom;
        for (const qint64 join : joins)
            readFrom << runInStart(join, mSampleRate);
        const auto streamStarts = Mp3Frames::startsInJoined(mInputFile, readFrom, mSampleRate);
        if (!streamStarts)
            joins = partJoins(mFileStarts, mLength, mSampleRate, parts, true);
        startParts(joins, streamStarts.value_or(QList<Mp3Frames::StreamStart>()));
    });
}

void Mp3Converter::startWhole()
{
    // Progress is read to the end of the tool's output, so all of it is told
    // before the end of the run.
    mRunner.start({.command = command(),
                   .output = ToolOutput::StderrStreamed,
                   .tool = "ffmpeg",
                   .readOutput = [this](ToolProcess& process) { checkProgressFromStdin(process); },
                   .finished =
                       [this](const std::exception_ptr& failure) {
                           if (mDelegate)
                               mDelegate->mp3ConverterDidFinish(this, failure);
                       }});
}

void Mp3Converter::terminateConvert()
{
    mRunner.terminate();
    std::lock_guard lock(mPartsMutex);
    mStopped = true;
    for (const auto& part : mParts)
        part->runner.terminate();
    mJoinRunner.terminate();
}

QList<qint64> Mp3Converter::partJoins(const QList<double>& fileStarts, double length,
                                      int sampleRate, int parts, bool decodesBefore)
{
    QList<qint64> joins;
    if (parts <= 1 || fileStarts.size() <= 1 || length < 60 || sampleRate <= 0)
        return joins;
    const qint64 end = static_cast<qint64>(length * sampleRate);
    // A part that decodes everything before it gets less to encode: part k
    // starts at C (1 - (1 - r)^k) / r, where r is what a second of decoding
    // costs against a second of encoding. Otherwise the parts are equal.
    const double r = kDecodeCost;
    const double unit = length * r / (1 - std::pow(1 - r, parts));
    qsizetype lastChosen = 0;
    for (int k = 1; k < parts; ++k) {
        const double target =
            decodesBefore ? unit * (1 - std::pow(1 - r, k)) / r : length * k / parts;
        qsizetype best = -1;
        for (qsizetype i = lastChosen + 1; i < fileStarts.size(); ++i) {
            if (best < 0 ||
                std::abs(fileStarts.at(i) - target) < std::abs(fileStarts.at(best) - target))
                best = i;
        }
        if (best < 0)
            break;
        const qint64 join = std::llround(fileStarts.at(best) * sampleRate / kFrame) * kFrame;
        if (join <= (joins.isEmpty() ? 0 : joins.last()) || join >= end - kFrame)
            continue;
        joins << join;
        lastChosen = best;
    }
    return joins;
}

QString Mp3Converter::partPath(qsizetype part) const
{
    return mOutputFolder + u"/"_s + mOutputFile + u"-part%1.aac"_s.arg(part + 1);
}

QString Mp3Converter::joinedPartsPath() const
{
    return mOutputFolder + u"/"_s + mOutputFile + u"-parts.aac"_s;
}

QString Mp3Converter::tagsPath() const
{
    return mOutputFolder + u"/"_s + mOutputFile + u"-tags.txt"_s;
}

QString Mp3Converter::partCommand(qint64 from, qint64 to, qsizetype part,
                                  const std::optional<Mp3Frames::StreamStart>& start) const
{
    const QString tool = ffmpegTool();
    const QString rate = QString::number(mSampleRate);
    const qint64 base = start ? start->sample : 0;
    QString trim = u"aresample=%1,atrim=start_sample=%2"_s.arg(rate).arg(from - base);
    if (to > 0)
        trim += u":end_sample=%1"_s.arg(to - base);
    trim += u",asetpts=PTS-STARTPTS"_s;
    return ShellQuote::single(tool) +
           (start ? u" -skip_initial_bytes %1"_s.arg(start->offset) : QString()) + u" -i "_s +
           ShellQuote::single(mInputFile) + u" -vn -y -af "_s + trim + u" -ab "_s +
           mFfmpegOptions.value(u"bitrate"_s) + u" -acodec aac -ac "_s +
           mFfmpegOptions.value(u"channels"_s) + u" -ar "_s + rate + u" -f adts "_s +
           ShellQuote::single(partPath(part)) +
           // The first part also writes the input's tags, for the join.
           (part == 0 ? u" -f ffmetadata "_s + ShellQuote::single(tagsPath()) : QString());
}

void Mp3Converter::startParts(const QList<qint64>& joins,
                              const QList<Mp3Frames::StreamStart>& streamStarts)
{
    std::unique_lock lock(mPartsMutex);
    if (mStopped) {
        lock.unlock();
        report(nullptr);
        return;
    }
    mJoins = joins;
    mPartsRunning = static_cast<std::size_t>(joins.size()) + 1;
    mPartFailure = nullptr;
    for (qsizetype k = 0; k <= joins.size(); ++k) {
        const qint64 start = k == 0 ? 0 : joins.at(k - 1);
        const qint64 from = runInStart(start, mSampleRate);
        const qint64 to = k < joins.size() ? joins.at(k) + kTailFrames * kFrame : 0;
        mParts.push_back(std::make_unique<Part>());
        const auto index = static_cast<std::size_t>(k);
        const double skipped = static_cast<double>(start - from) / mSampleRate;
        const double share =
            static_cast<double>((k < joins.size() ? joins.at(k) : qint64(mLength * mSampleRate)) -
                                start) /
            mSampleRate;
        mParts.back()->runner.start(
            {.command = partCommand(from, to, k,
                                    k > 0 && !streamStarts.isEmpty()
                                        ? std::optional(streamStarts.at(k - 1))
                                        : std::nullopt),
             .output = ToolOutput::StderrStreamed,
             .tool = "ffmpeg",
             .readOutput =
                 [this, index, skipped, share](ToolProcess& process) {
                     ConverterProgress parser(mFfmpegLength);
                     auto tell = [&](const std::optional<ConverterReport>& report) {
                         if (report)
                             partProgress(index,
                                          std::clamp(report->position - skipped, 0.0, share));
                     };
                     for (QByteArray chunk = process.readChunk(); !chunk.isEmpty();
                          chunk = process.readChunk())
                         tell(parser.feed(chunk));
                     tell(parser.finish());
                 },
             .finished = [this](const std::exception_ptr& failure) { partFinished(failure); }});
    }
}

void Mp3Converter::partProgress(std::size_t part, double position)
{
    double sum = 0;
    {
        std::lock_guard lock(mPartsMutex);
        mParts.at(part)->position = position;
        for (const auto& each : mParts)
            sum += each->position;
    }
    if (mDelegate)
        mDelegate->mp3ConverterProgress(
            sum, ConverterProgress::describe(static_cast<float>(sum), mFfmpegLength));
}

void Mp3Converter::partFinished(const std::exception_ptr& failure)
{
    std::exception_ptr failed;
    {
        std::lock_guard lock(mPartsMutex);
        if (failure && !mPartFailure) {
            // One part failing fails the book: the others stop at once.
            mPartFailure = failure;
            for (const auto& part : mParts)
                part->runner.terminate();
        }
        if (--mPartsRunning > 0)
            return;
        failed = mPartFailure;
    }
    if (!failed && !mStopped) {
        try {
            joinParts();
            return;
        } catch (const std::exception&) {
            failed = mStopped ? nullptr : std::current_exception();
        }
    }
    removePartFiles();
    report(failed);
}

void Mp3Converter::joinParts()
{
    const QString joined = joinedPartsPath();
    QFile out(joined);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw WorkerException("cannot write " + joined.toStdString());
    const qint64 preRoll = preRollFrames(mSampleRate);
    for (qsizetype k = 0; k <= mJoins.size(); ++k) {
        const qint64 start = k == 0 ? 0 : mJoins.at(k - 1);
        const qint64 skippedFrames = k == 0 ? 0 : std::min(preRoll, start / kFrame) + 1;
        // Frame j of a part holds the input's samples from (j - 1) frames after
        // its start; the first is the encoder's priming.
        const qint64 kept =
            k < mJoins.size() ? (mJoins.at(k) - start) / kFrame + (k == 0 ? 1 : 0) : -1;
        QFile in(partPath(k));
        if (!in.open(QIODevice::ReadOnly))
            throw WorkerException("ffmpeg left no part " + std::to_string(k + 1));
        qint64 frame = 0;
        qint64 written = 0;
        for (;;) {
            QByteArray header = in.read(7);
            if (header.isEmpty())
                break;
            const auto byte = [&](int i) { return static_cast<unsigned char>(header.at(i)); };
            if (header.size() < 7 || byte(0) != 0xFF || (byte(1) & 0xF0) != 0xF0)
                throw WorkerException("part " + std::to_string(k + 1) + " is not an AAC stream");
            const int length = ((byte(3) & 0x03) << 11) | (byte(4) << 3) | (byte(5) >> 5);
            const QByteArray body = in.read(length - 7);
            if (body.size() != length - 7)
                throw WorkerException("part " + std::to_string(k + 1) + " ends inside a frame");
            if (mStopped)
                throw WorkerException("stopped");
            if (frame >= skippedFrames && (kept < 0 || written < kept)) {
                out.write(header);
                out.write(body);
                ++written;
            }
            ++frame;
        }
        if (kept >= 0 && written < kept)
            throw WorkerException("part " + std::to_string(k + 1) + " is shorter than planned");
    }
    if (!out.flush())
        throw WorkerException("cannot write " + joined.toStdString());
    out.close();

    const QString tool = ffmpegTool();
    const QString output = mOutputFolder + u'/' + mOutputFile + u".m4a"_s;
    // The stream starts with one frame of priming, which the file's edit list skips.
    const QString priming = QString::number(static_cast<double>(kFrame) / mSampleRate, 'f', 6);
    // The tags go on the command line: a second input would cost ffmpeg a
    // hand-over between threads for every frame, about a second for a long book.
    QFile tagsFile(tagsPath());
    if (!tagsFile.open(QIODevice::ReadOnly))
        throw WorkerException("ffmpeg left no tags of " + mInputFile.toStdString());
    QString tags;
    for (const auto& [key, value] : globalTags(tagsFile.readAll()))
        tags += u" -metadata "_s + ShellQuote::single(key + u'=' + value);
    if (tags.size() > kTagsOnCommandLine)
        tags = u" -i "_s + ShellQuote::single(tagsPath()) + u" -map_metadata 1"_s;
    // Under the lock, so that a stop either reaches the join or keeps it from starting.
    std::lock_guard lock(mPartsMutex);
    if (mStopped) {
        removePartFiles();
        report(nullptr);
        return;
    }
    mJoinRunner.start({.command = ShellQuote::single(tool) + u" -y -itsoffset -"_s + priming +
                                  u" -i "_s + ShellQuote::single(joined) + tags +
                                  u" -map 0:a -c copy "_s + ShellQuote::single(output),
                       .output = ToolOutput::StdoutDiscarded,
                       .tool = "ffmpeg",
                       .readOutput = {},
                       .finished = [this](const std::exception_ptr& failure) {
                           removePartFiles();
                           report(failure);
                       }});
}

void Mp3Converter::removePartFiles() const
{
    for (qsizetype k = 0; k <= mJoins.size(); ++k)
        QFile::remove(partPath(k));
    QFile::remove(joinedPartsPath());
    QFile::remove(tagsPath());
}

void Mp3Converter::report(const std::exception_ptr& failure)
{
    if (mDelegate)
        mDelegate->mp3ConverterDidFinish(this, failure);
}

void Mp3Converter::checkProgressFromStdin(ToolProcess& process)
{
    ConverterProgress parser(mFfmpegLength);
    for (QByteArray chunk = process.readChunk(); !chunk.isEmpty(); chunk = process.readChunk()) {
        if (const auto report = parser.feed(chunk); report && mDelegate)
            mDelegate->mp3ConverterProgress(report->position, report->description);
    }
    if (const auto report = parser.finish(); report && mDelegate)
        mDelegate->mp3ConverterProgress(report->position, report->description);
}
