#include "Mp3Joiner.h"

#include "FileHelper.h"
#include "Mp3Frames.h"
#include "Mp3Helper.h"
#include "ProcessSlot.h"
#include "ShellQuote.h"
#include "WorkerException.h"

#include <QEventLoop>
#include <QFile>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {
// The cat that runs for the join; one application has one joiner.
ProcessSlot cp;
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
        for (int i = 0; i < count && !cp.stopRequested(); ++i) {
            ItemRecord& record = *mJoinFiles.at(i);
            const Mp3Time time = Mp3Helper::getTimeOfMP3(record.symbolicPath.value_or(QString()));
            record.mins = time.mins;
            record.secs = time.secs;
            // Its length as a decoder gives it, so that the chapters after it
            // start where their audio does.
            const Mp3Frames frames = Mp3Frames::measure(*record.symbolicPath);
            if (frames.isAudio() && frames.decodedSamples() > 0)
                record.exact = ItemRecord::Exact{.samples = frames.decodedSamples(),
                                                 .leadIn = frames.leadInSamples(),
                                                 .sampleRate = frames.sampleRate};
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
