#include "BookRun.h"

#include "AacCopier.h"
#include "DiskSpace.h"
#include "FileHelper.h"
#include "RunChecks.h"
#include "RunSteps.h"

#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

// How long a left-over tool is given to end on SIGTERM before it is killed.
constexpr auto kGraceForLeftovers = 2s;
// Less than this left on a disk after a step failed: it filled up.
constexpr qint64 kNothingLeft = 1 << 20;

// A tool's words for a full disk, in the words the system gives them.
bool saysDiskIsFull(const QString& cause)
{
    for (const int error : {ENOSPC, EDQUOT}) {
        if (cause.contains(QString::fromLocal8Bit(std::strerror(error))))
            return true;
    }
    return cause.contains(u"No space left on device"_s);
}

} // namespace

BookRun::BookRun(RunRequest request, QString folderName, QObject* parent)
    : Job(parent), mRun(std::move(request)), mFolderName(std::move(folderName))
{
    mRetry.setSingleShot(true);
    connect(&mRetry, &QTimer::timeout, this, [this] {
        if (mState == RunState::Starting && ready())
            next();
    });
}

BookRun::~BookRun()
{
    stop();
}

std::vector<std::unique_ptr<RunStep>> BookRun::steps(const RunWork& run)
{
    std::vector<std::unique_ptr<RunStep>> steps;
    const bool mp3 = run.request.format == BookFormat::Mp3;
    if (run.request.evenVolume != EvenVolume::Off)
        steps.push_back(RunSteps::measure(run));
    if (run.copiesAac)
        steps.push_back(RunSteps::copy(run));
    else if (run.decodes)
        steps.push_back(RunSteps::decode(run));
    else
        steps.push_back(RunSteps::join(run));
    if (run.request.evenVolume != EvenVolume::Off)
        steps.push_back(RunSteps::level(run));
    if (!run.copiesAac && (!mp3 || run.decodes))
        steps.push_back(RunSteps::encode(run));
    if (run.request.format == BookFormat::AacBookmark)
        steps.push_back(RunSteps::chapters(run));
    if (mp3)
        steps.push_back(RunSteps::mp3Tags(run));
    else
        steps.push_back(RunSteps::tags(run));
    return steps;
}

QString BookRun::nameOf(RunState state)
{
    switch (state) {
    case RunState::Measuring:
        return u"Measure"_s;
    case RunState::Joining:
        return u"Join"_s;
    case RunState::Decoding:
        return u"Decode"_s;
    case RunState::Copying:
        return u"Copy"_s;
    case RunState::Levelling:
        return u"Level"_s;
    case RunState::Encoding:
        return u"Encode"_s;
    case RunState::WritingChapters:
        return u"Chapters"_s;
    case RunState::Tagging:
        return u"Tags"_s;
    case RunState::Idle:
    case RunState::Starting:
        break;
    }
    return {};
}

void BookRun::begin()
{
    mState = RunState::Starting;
    if (ready())
        next();
}

bool BookRun::ready()
{
    // A file that is gone or holds no audio would make a book with a hole
    // in it: the run stops before anything is touched.
    const QString failures = RunChecks::filesToJoin(mRun);
    Q_EMIT filesLearned(mRun.learned());
    if (!failures.isEmpty()) {
        fail(failures);
        return false;
    }
    if (!mFolder)
        mFolder = FileHelper::makeNewTempFolder(mFolderName);
    // Without a folder of our own, or with one that keeps an earlier run's
    // files, the book would be wrong: stop before anything is written.
    if (!mFolder) {
        fail(FileHelper::whyTempFolderRefused(mFolderName));
        return false;
    }
    // A tool of an earlier instance may still write there; it must end first.
    if (!claimFolder())
        return false;
    if (!FileHelper::deleteContentOfDirectory(*mFolder)) {
        fail(u"The temporary folder %1 cannot be emptied."_s.arg(*mFolder));
        return false;
    }
    if (!hasRoom())
        return false;
    mSteps = steps(mRun);
    mNext = 0;
    mInput.clear();
    return true;
}

bool BookRun::hasRoom()
{
    mNeeds = RunChecks::roomNeeded(mRun);
    if (const std::optional<qint64> free = DiskSpace::available(*mFolder); free && *free < mNeeds) {
        fail(diskFullText());
        return false;
    }
    return true;
}

bool BookRun::claimFolder()
{
    const FolderLock::Result lock = mLock.tryLock(*mFolder);
    if (lock != FolderLock::Result::HeldElsewhere) {
        mWaitStarted.reset();
        // Without the lock the run cannot tell whether an old tool still writes there.
        if (lock == FolderLock::Result::Unusable) {
            const int error = errno;
            fail(u"The temporary folder %1 cannot be locked: %2."_s.arg(
                *mFolder, QString::fromLocal8Bit(std::strerror(error))));
            return false;
        }
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!mWaitStarted)
        mWaitStarted = now;
    QString text;
    const FolderLock::Holders holders = FolderLock::holders(*mFolder);
    if (!holders.leftovers.isEmpty()) {
        const qsizetype count = holders.leftovers.size();
        text =
            count == 1
                ? u"Ending a tool that an earlier Fablewick left running in %1..."_s.arg(*mFolder)
                : u"Ending %1 tools that an earlier Fablewick left running in %2..."_s.arg(count)
                      .arg(*mFolder);
        const int signal = now - *mWaitStarted < kGraceForLeftovers ? SIGTERM : SIGKILL;
        for (const pid_t pid : holders.leftovers)
            ::kill(pid, signal);
    } else if (holders.liveApplication) {
        text = u"Waiting for another Fablewick to finish with the temporary folder %1..."_s.arg(
            *mFolder);
    } else {
        text = u"Waiting for the temporary folder %1 to be free..."_s.arg(*mFolder);
    }
    tell({.done = 0, .total = 0, .text = text, .stage = int(RunState::Starting), .offersStop = true});
    mRetry.start(250ms);
    return false;
}

void BookRun::next()
{
    if (mNext == mSteps.size()) {
        mState = RunState::Idle;
        mMade = mInput;
        succeed();
        return;
    }
    RunStep& step = *mSteps.at(mNext++);
    mState = step.state();
    const auto progressed = [this, &step](const Job::Progress& progress) {
        tell({.done = progress.done,
              .total = progress.total,
              .text = progress.text,
              .stage = int(mState),
              .offersStop = step.offersStop()});
    };
    // Told at once, so that what the step offers is shown before it reports.
    progressed({});
    connect(&step, &Job::progressed, this, progressed);
    // Its end is taken once the step has returned from telling it.
    connect(&step, &Job::succeeded, this, [this, &step] { stepEnded(step, {}); },
            Qt::QueuedConnection);
    connect(&step, &Job::failed, this,
            [this, &step](const QString& reason) { stepEnded(step, reason); },
            Qt::QueuedConnection);
    step.prepare(mRun, *mFolder, mInput);
    step.start();
}

void BookRun::stepEnded(RunStep& step, const QString& failure)
{
    if (mNext == 0 || mNext > mSteps.size() || mSteps.at(mNext - 1).get() != &step)
        return;
    try {
        if (step.failure())
            std::rethrow_exception(step.failure());
    } catch (const AacCopier::NotAlike& e) {
        // A file changed since it was listed: the book is made by decoding,
        // and the decoded audio needs room of its own.
        std::fprintf(stderr, "fablewick: decoding instead of copying, as %s\n", e.what());
        mRun.copiesAac = false;
        mRun.decodes = true;
        if (!hasRoom())
            return;
        mSteps = steps(mRun);
        mNext = 0;
        next();
        return;
    } catch (...) {
    }
    if (!failure.isEmpty() || step.failure()) {
        fail(failure.isEmpty() ? u"An unknown error."_s : failure);
        return;
    }
    const QString unusable = step.settle(mRun);
    Q_EMIT filesLearned(mRun.learned());
    if (!unusable.isEmpty()) {
        fail(unusable);
        return;
    }
    mInput = step.output();
    next();
}

QString BookRun::diskFullText() const
{
    return DiskSpace::fullText(mFolder.value_or(QString()), mNeeds) +
           u" Free some space on it, and make the audiobook again."_s;
}

// A full disk is named, whatever words the tool found for it.
void BookRun::fail(const QString& reason)
{
    const bool running = mState != RunState::Idle && mState != RunState::Starting;
    const QString during =
        running ? mSteps.at(mNext - 1)->during() : u"Before the files were joined"_s;
    QString cause = reason;
    if (running && mFolder &&
        (saysDiskIsFull(cause) ||
         DiskSpace::available(*mFolder).value_or(kNothingLeft) < kNothingLeft))
        cause = diskFullText();
    mState = RunState::Idle;
    mRetry.stop();
    mWaitStarted.reset();
    Job::fail(cause.isEmpty() ? QString() : during + u": "_s + cause);
}

void BookRun::endSteps()
{
    if (mNext > 0 && mNext <= mSteps.size())
        mSteps.at(mNext - 1)->stop();
    // Each worker waits for its tool and thread to end as it goes.
    mSteps.clear();
    mNext = 0;
}

void BookRun::halt()
{
    mState = RunState::Idle;
    mRetry.stop();
    mWaitStarted.reset();
    endSteps();
}

void BookRun::stop(Leftovers leftovers)
{
    Job::stop();
    // After a failure too, no step may run on.
    halt();
    // Only after every tool has been reaped: none may write there any more.
    if (leftovers == Leftovers::Removed && mFolder &&
        mLock.tryLock(*mFolder) == FolderLock::Result::Ours)
        FileHelper::deleteContentOfDirectory(*mFolder);
}

FileMover::Outcome BookRun::deliver(const QString& target, bool replacing) const
{
    return replacing ? FileMover::moveReplacing(mMade, target) : FileMover::move(mMade, target);
}
