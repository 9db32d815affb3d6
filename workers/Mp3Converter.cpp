#include "Mp3Converter.h"

#include "AdtsSplicer.h"
#include "ConverterProgress.h"
#include "EncoderCommand.h"
#include "Mp3Helper.h"
#include "Resources.h"
#include "WorkerException.h"

#include <QFile>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

QString ffmpegTool()
{
    return Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
}

void writeList(const QString& path, const QByteArray& list)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size() || !file.commit())
        throw WorkerException("cannot write " + path.toStdString() + ": " +
                              file.errorString().toStdString());
}

} // namespace

// One split conversion: its parts' encoders and the join after them.
struct Mp3Converter::Job
{
    Job(EncodePlan p, WorkerReports r)
        : plan(std::move(p)), reports(std::move(r)), positions(plan.parts().size(), 0.0)
    {
    }
    ~Job()
    {
        {
            std::lock_guard lock(mutex);
            stopped = true;
        }
        for (const auto& runner : runners)
            runner->terminate();
        runners.clear();
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    const EncodePlan plan;
    // The reports of this run, whatever a later run is given.
    const WorkerReports reports;
    std::mutex mutex;
    QList<double> positions;
    qsizetype running = 0;
    std::exception_ptr failure;
    bool stopped = false;
    std::vector<std::unique_ptr<ToolRunner>> runners;
};

Mp3Converter::Mp3Converter() = default;

Mp3Converter::~Mp3Converter()
{
    terminateConvert();
    mJob.reset();
}

double Mp3Converter::exactSeconds() const
{
    qint64 samples = 0;
    for (const Source& source : mSources)
        samples += source.samples;
    const int rate = mSources.isEmpty() ? 0 : mSources.first().sampleRate;
    return rate > 0 ? static_cast<double>(samples) / rate : 0.0;
}

QString Mp3Converter::inFolder(const QString& suffix) const
{
    return mOutputFolder + u'/' + mOutputFile + suffix;
}

QByteArray Mp3Converter::concatList(qsizetype from, qsizetype to) const
{
    QStringList paths;
    const qsizetype last = to < 0 ? mSources.size() - 1 : std::min(to, mSources.size() - 1);
    for (qsizetype i = from; i <= last; ++i)
        paths << mSources.at(i).path;
    return EncoderCommand::concatList(paths);
}

EncoderCommand::Input Mp3Converter::input(const QString& listName) const
{
    if (mSources.isEmpty())
        return {.path = mInputFile, .isList = false};
    return {.path = inFolder(listName), .isList = true};
}

EncoderCommand::Input Mp3Converter::partInput(const EncodePart& part, qsizetype index) const
{
    // A part that seeks reads its one file itself: the list's reader would
    // time the file by its own guess.
    if (part.seekSeconds > 0 && part.firstFile < mSources.size())
        return {.path = mSources.at(part.firstFile).path, .isList = false};
    return input(u"-part%1-files.txt"_s.arg(index + 1));
}

QString Mp3Converter::command() const
{
    return EncoderCommand::whole(ffmpegTool(), input(u"-files.txt"_s), mFfmpegOptions,
                                 inFolder(mEncodesMp3 ? u".mp3"_s : u".m4a"_s), mEncodesMp3);
}

void Mp3Converter::startConvert(WorkerReports reports)
{
    // mp3info's guess at a joined file's length counts its tags as audio;
    // the sources' own lengths are exact.
    mFfmpegLength = mSources.isEmpty() ? Mp3Helper::getUnixTimeOfMP3(mInputFile)
                                       : static_cast<qint32>(std::ceil(exactSeconds()));
    reports.tell(0, mFfmpegLength);
    // A stopped conversion's encoders end before this one starts.
    mJob.reset();
    try {
        if (!mSources.isEmpty()) {
            QList<qint64> samples;
            for (const Source& source : std::as_const(mSources))
                samples << source.samples;
            const int parts =
                mParallelism > 0 ? mParallelism : std::min(QThread::idealThreadCount(), 8);
            const EncodePlan plan(samples, mSources.first().sampleRate,
                                  mFfmpegOptions.value(u"sampleFrequency"_s).toInt(), parts);
            // MP3 frames are not spliced: an MP3 book is encoded whole.
            if (!plan.parts().isEmpty() && !mEncodesMp3) {
                startParts(plan, std::move(reports));
                return;
            }
            writeList(inFolder(u"-files.txt"_s), concatList());
        }
    } catch (const std::exception&) {
        removeWorkFiles(0);
        reports.end(std::current_exception());
        return;
    }
    startWhole(reports);
}

void Mp3Converter::startWhole(const WorkerReports& reports)
{
    // Progress is read to the end of the tool's output, so all of it is told
    // before the end of the run.
    mRunner.start({.command = command(),
                   .output = ToolOutput::StderrStreamed,
                   .tool = "ffmpeg",
                   .readOutput = [this, reports](
                                     ToolProcess& process) { checkProgressFromStdin(process, reports); },
                   .finished =
                       [this, reports](const std::exception_ptr& failure) {
                           removeWorkFiles(0);
                           reports.end(failure);
                       }});
}

void Mp3Converter::terminateConvert()
{
    mRunner.terminate();
    if (!mJob)
        return;
    std::lock_guard lock(mJob->mutex);
    mJob->stopped = true;
    for (const auto& runner : mJob->runners)
        runner->terminate();
}

void Mp3Converter::startParts(const EncodePlan& plan, WorkerReports reports)
{
    const qsizetype count = plan.parts().size();
    for (qsizetype k = 0; k < count; ++k)
        writeList(inFolder(u"-part%1-files.txt"_s.arg(k + 1)),
                  concatList(plan.parts().at(k).firstFile, plan.parts().at(k).lastFile));
    mJob = std::make_unique<Job>(plan, std::move(reports));
    Job* job = mJob.get();
    job->running = count;
    std::lock_guard lock(job->mutex);
    for (qsizetype k = 0; k < count; ++k) {
        const EncodePart& part = plan.parts().at(k);
        const double rate = plan.outputRate();
        const double skipped = static_cast<double>(part.start - part.encodeFrom) / rate;
        const double share = static_cast<double>(part.end - part.start) / rate;
        job->runners.push_back(std::make_unique<ToolRunner>());
        job->runners.back()->start(
            {.command = EncoderCommand::part(ffmpegTool(), partInput(part, k),
                                             mFfmpegOptions, part, plan.outputRate(),
                                             inFolder(u"-part%1.aac"_s.arg(k + 1))),
             .output = ToolOutput::StderrStreamed,
             .tool = "ffmpeg",
             .readOutput =
                 [this, job, k, skipped, share](ToolProcess& process) {
                     ConverterProgress parser(mFfmpegLength);
                     auto tell = [&](const std::optional<ConverterReport>& report) {
                         if (report)
                             partProgress(*job, k,
                                          std::clamp(report->position - skipped, 0.0, share));
                     };
                     for (QByteArray chunk = process.readChunk(); !chunk.isEmpty();
                          chunk = process.readChunk())
                         tell(parser.feed(chunk));
                     tell(parser.finish());
                 },
             .finished = [this, job](const std::exception_ptr& failure) {
                 partFinished(*job, failure);
             }});
    }
}

void Mp3Converter::partProgress(Job& job, qsizetype part, double position)
{
    double sum = 0;
    {
        std::lock_guard lock(job.mutex);
        job.positions[part] = position;
        for (const double each : std::as_const(job.positions))
            sum += each;
    }
    job.reports.tell(sum, mFfmpegLength,
                     ConverterProgress::describe(static_cast<float>(sum), mFfmpegLength));
}

void Mp3Converter::partFinished(Job& job, const std::exception_ptr& failure)
{
    std::exception_ptr failed;
    bool stopped = false;
    {
        std::lock_guard lock(job.mutex);
        if (failure && !job.failure) {
            // One part failing fails the book: the others stop at once.
            job.failure = failure;
            for (const auto& runner : job.runners)
                runner->terminate();
        }
        if (--job.running > 0)
            return;
        failed = job.failure;
        stopped = job.stopped;
    }
    if (!failed && !stopped) {
        try {
            joinParts(job);
        } catch (const std::exception& e) {
            std::lock_guard lock(job.mutex);
            failed = job.stopped ? nullptr : std::make_exception_ptr(WorkerException(e.what()));
        }
    }
    removeWorkFiles(job.plan.parts().size());
    job.reports.end(failed);
}

void Mp3Converter::joinParts(Job& job)
{
    QList<AdtsSplicer::Part> parts;
    for (qsizetype k = 0; k < job.plan.parts().size(); ++k) {
        const EncodePart& part = job.plan.parts().at(k);
        parts.append({.path = inFolder(u"-part%1.aac"_s.arg(k + 1)),
                      .droppedFrames = part.droppedFrames,
                      .keptFrames = part.keptFrames});
    }
    AdtsSplicer::writeM4a(parts, inFolder(u".m4a"_s), [&job] {
        std::lock_guard lock(job.mutex);
        return job.stopped;
    });
}

void Mp3Converter::removeWorkFiles(qsizetype parts) const
{
    for (qsizetype k = 1; k <= parts; ++k) {
        QFile::remove(inFolder(u"-part%1.aac"_s.arg(k)));
        QFile::remove(inFolder(u"-part%1-files.txt"_s.arg(k)));
    }
    QFile::remove(inFolder(u"-files.txt"_s));
}

void Mp3Converter::checkProgressFromStdin(ToolProcess& process, const WorkerReports& reports)
{
    ConverterProgress parser(mFfmpegLength);
    const auto tell = [&](const std::optional<ConverterReport>& report) {
        if (report)
            reports.tell(report->position, mFfmpegLength, report->description);
    };
    for (QByteArray chunk = process.readChunk(); !chunk.isEmpty(); chunk = process.readChunk())
        tell(parser.feed(chunk));
    tell(parser.finish());
}
