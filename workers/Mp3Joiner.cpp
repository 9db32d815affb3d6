#include "Mp3Joiner.h"

#include "FileHelper.h"
#include "DecodedLength.h"
#include "Mp3Frames.h"
#include "Mp3Helper.h"
#include "ProcessSlot.h"
#include "ShellQuote.h"
#include "WorkerException.h"

#include <QEventLoop>
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
// The cat that runs for the join; one application has one joiner.
ProcessSlot cp;

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

void Mp3Joiner::startJoin()
{
    if (mJoining) {
        if (mDelegate)
            mDelegate->mp3JoinDidFinish(
                this, std::make_exception_ptr(WorkerException("a join is already running")));
        return;
    }
    mJoining = true;
    cp.arm();
    std::exception_ptr failure;
    try {
        const std::optional<QString> originals =
            FileHelper::makeNewSubFolder(mOutputFolder, u"Originals"_s);
        if (!originals)
            throw WorkerException("cannot make the folder of links in " +
                                  mOutputFolder.toStdString());
        for (qsizetype i = 0; i < mJoinFiles.size(); ++i) {
            const QString link = *originals + u"/%1.mp3"_s.arg(i);
            QFile::link(mJoinFiles.at(i)->pathColumn, link);
            mJoinFiles.at(i)->symbolicPath = link;
        }
        const QString joined = mOutputFolder + u'/' + mOutputFile + u".mp3"_s;
        const int count = static_cast<int>(mJoinFiles.size());
        QStringList links;
        for (const ItemRecordPtr& record : std::as_const(mJoinFiles))
            links << record->symbolicPath.value_or(QString());
        ReadAhead ahead(links);
        for (int i = 0; i < count && !cp.stopRequested(); ++i) {
            ItemRecord& record = *mJoinFiles.at(i);
            ReadAhead::Read read = ahead.take(i);
            if (read.failure)
                std::rethrow_exception(read.failure);
            record.mins = read.time.mins;
            record.secs = read.time.secs;
            // Its length as a decoder gives it, so that the chapters after it
            // start where their audio does.
            if (const std::optional<Mp3Frames::Measure>& frames = read.frames;
                frames && DecodedLength::alone(*frames) > 0)
                record.exact = ItemRecord::Exact{
                    .samples = DecodedLength::alone(*frames),
                    .leadIn = DecodedLength::leadIn(*frames),
                    .sampleRate = frames->sampleRate,
                    .joinedSamples = DecodedLength::joined(*frames, i == 0),
                    .joinedLeadIn = DecodedLength::joinedLeadIn(*frames)};
            else
                record.exact.reset();
            if (mDelegate)
                mDelegate->mp3JoinProgress(i, count);
            runToEnd(catCommand(*record.symbolicPath, joined));
        }
    } catch (const std::exception&) {
        failure = std::current_exception();
    }
    mJoining = false;
    if (mDelegate)
        mDelegate->mp3JoinDidFinish(this, failure);
}

void Mp3Joiner::terminateJoin()
{
    cp.terminateIfRunning();
}

// Waits for the command with the event loop turning, so the window stays alive.
void Mp3Joiner::runToEnd(const QString& command)
{
    auto process = std::make_shared<ToolProcess>(command);
    process->launch(ToolOutput::Inherited);
    cp.hold(process);
    QEventLoop loop;
    std::thread waiter([&loop, process] {
        process->waitUntilExit();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    waiter.join();
    cp.release();
    // A cat that fails (a full disk, say) would leave a cut audiobook.
    cp.checkEnd(*process, "cat");
}
