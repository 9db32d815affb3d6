#include "Mp3Joiner.h"

#include "FileHelper.h"
#include "DecodedLength.h"
#include "Mp3Frames.h"
#include "Mp3Helper.h"
#include "ProcessSlot.h"
#include "ShellQuote.h"
#include "WorkerException.h"

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {
// What the join reads of each file before it appends the file's bytes: its
// playing time from mp3info and its frames. Read ahead on other cores while
// cat runs, and taken in order; a file whose time cannot be read fails the
// join when its turn comes, as if it were read then.
class ReadAhead
{
public:
    struct Read
    {
        Mp3Time time;
        std::optional<Mp3Frames::Measure> frames;
        std::exception_ptr failure;
    };

    explicit ReadAhead(QStringList paths) : mPaths(std::move(paths)), mReads(mPaths.size())
    {
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1U, 4U);
        for (unsigned t = 0; t < threads; ++t)
            mThreads.emplace_back([this] { work(); });
    }
    ~ReadAhead()
    {
        {
            std::lock_guard lock(mMutex);
            mStopped = true;
        }
        for (std::thread& thread : mThreads)
            thread.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    Read take(qsizetype index)
    {
        std::unique_lock lock(mMutex);
        mReady.wait(lock, [&] { return mReads.at(index).has_value(); });
        return std::move(*mReads[index]);
    }

private:
    void work()
    {
        for (;;) {
            qsizetype index = 0;
            {
                std::lock_guard lock(mMutex);
                if (mStopped || mNext >= mPaths.size())
                    return;
                index = mNext++;
            }
            Read read;
            try {
                read.time = Mp3Helper::getTimeOfMP3(mPaths.at(index));
                read.frames = Mp3Frames::measure(mPaths.at(index));
            } catch (const std::exception&) {
                read.failure = std::current_exception();
            }
            std::lock_guard lock(mMutex);
            mReads[index] = std::move(read);
            mReady.notify_all();
        }
    }

    const QStringList mPaths;
    std::mutex mMutex;
    std::condition_variable mReady;
    std::vector<std::optional<Read>> mReads;
    qsizetype mNext = 0;
    bool mStopped = false;
    std::vector<std::thread> mThreads;
};

} // namespace

QString Mp3Joiner::catCommand(const QString& linkPath, const QString& joinedPath)
{
    return u"cat "_s + ShellQuote::single(linkPath) + u">> "_s + ShellQuote::single(joinedPath);
}

Mp3Joiner::~Mp3Joiner()
{
    terminateJoin();
    mThread.join();
}

void Mp3Joiner::startJoin(WorkerReports reports)
{
    if (mJoining.exchange(true)) {
        reports.end(std::make_exception_ptr(WorkerException("a join is already running")));
        return;
    }
    mThread.join();
    mCat.arm();
    mLengths.clear();
    // The links are made here, on the records' thread, as they are named in them.
    const std::optional<QString> originals =
        FileHelper::makeNewSubFolder(mOutputFolder, u"Originals"_s);
    QStringList links;
    for (qsizetype i = 0; originals && i < mJoinFiles.size(); ++i) {
        const QString link = *originals + u"/%1.mp3"_s.arg(i);
        QFile::link(mJoinFiles.at(i)->pathColumn, link);
        mJoinFiles.at(i)->symbolicPath = link;
        links << link;
    }
    mThread.start([this, links, made = originals.has_value(), reports = std::move(reports)] {
        std::exception_ptr failure;
        try {
            if (!made)
                throw WorkerException("cannot make the folder of links in " +
                                      mOutputFolder.toStdString());
            join(links, reports);
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
        mJoining = false;
        reports.end(failure);
    });
}

void Mp3Joiner::join(const QStringList& links, const WorkerReports& reports)
{
    const QString joined = mOutputFolder + u'/' + mOutputFile + u".mp3"_s;
    const int count = static_cast<int>(links.size());
    ReadAhead ahead(links);
    for (int i = 0; i < count && !mCat.stopRequested(); ++i) {
        ReadAhead::Read read = ahead.take(i);
        if (read.failure)
            std::rethrow_exception(read.failure);
        Length length{.time = read.time, .exact = std::nullopt};
        // Its length as a decoder gives it, so that the chapters after it
        // start where their audio does.
        if (const std::optional<Mp3Frames::Measure>& frames = read.frames;
            frames && DecodedLength::alone(*frames) > 0)
            length.exact = ItemRecord::Exact{.samples = DecodedLength::alone(*frames),
                                             .leadIn = DecodedLength::leadIn(*frames),
                                             .sampleRate = frames->sampleRate,
                                             .joinedSamples = DecodedLength::joined(*frames, i == 0),
                                             .joinedLeadIn = DecodedLength::joinedLeadIn(*frames)};
        mLengths.push_back(length);
        reports.tell(i + 1, count, u"Joining file %1 of %2..."_s.arg(i + 1).arg(count));
        runToEnd(catCommand(links.at(i), joined));
    }
}

void Mp3Joiner::recordLengths()
{
    for (std::size_t i = 0; i < mLengths.size() && qsizetype(i) < mJoinFiles.size(); ++i) {
        ItemRecord& record = *mJoinFiles.at(qsizetype(i));
        record.mins = mLengths[i].time.mins;
        record.secs = mLengths[i].time.secs;
        record.exact = mLengths[i].exact;
    }
}

void Mp3Joiner::terminateJoin()
{
    mCat.terminateIfRunning();
}

void Mp3Joiner::runToEnd(const QString& command)
{
    auto process = std::make_shared<ToolProcess>(command);
    process->launch(ToolOutput::Inherited);
    mCat.hold(process);
    process->waitUntilExit();
    mCat.release();
    // A cat that fails (a full disk, say) would leave a cut audiobook.
    mCat.checkEnd(*process, "cat");
}
