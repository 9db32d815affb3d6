#include "BookRun.h"

#include "AacCopier.h"
#include "ChaptersStep.h"
#include "CopyStep.h"
#include "DecodeStep.h"
#include "DiskSpace.h"
#include "EncodeStep.h"
#include "FileHelper.h"
#include "JoinStep.h"
#include "LevelStep.h"
#include "MeasureStep.h"
#include "Mp3TagsStep.h"
#include "RunChecks.h"
#include "TagsStep.h"

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
    : QObject(parent), mRun(std::move(request)), mFolderName(std::move(folderName))
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

std::vector<std::unique_ptr<RunStep>> BookRun::steps(const RunRequest& run)
{
    std::vector<std::unique_ptr<RunStep>> steps;
    const bool mp3 = run.format == BookFormat::Mp3;
    if (run.evenVolume != EvenVolume::Off)
        steps.push_back(std::make_unique<MeasureStep>());
    if (run.copiesAac)
        steps.push_back(std::make_unique<CopyStep>());
    else if (run.decodes)
        steps.push_back(std::make_unique<DecodeStep>());
    else
        steps.push_back(std::make_unique<JoinStep>());
    if (run.evenVolume != EvenVolume::Off)
        steps.push_back(std::make_unique<LevelStep>());
    if (!run.copiesAac && (!mp3 || run.decodes))
        steps.push_back(std::make_unique<EncodeStep>());
    if (run.format == BookFormat::AacBookmark)
        steps.push_back(std::make_unique<ChaptersStep>());
    if (mp3)
        steps.push_back(std::make_unique<Mp3TagsStep>());
    else
        steps.push_back(std::make_unique<TagsStep>());
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

void BookRun::start()
{
    if (mState != RunState::Idle)
        return;
    mState = RunState::Starting;
    if (ready())
        next();
}

bool BookRun::ready()
{
    // A file that is gone or holds no audio would make a book with a hole
    // in it: the run stops before anything is touched.
    const QString failures = RunChecks::filesToJoin(mRun);
    Q_EMIT recordsChanged();
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
    Q_EMIT progressed(
        {.state = RunState::Starting, .text = text, .done = 0, .total = 0, .offersStop = true});
    mRetry.start(250ms);
    return false;
}

void BookRun::next()
{
    if (mNext == mSteps.size()) {
        mState = RunState::Idle;
        mMade = mInput;
        Q_EMIT made(mMade);
        return;
    }
    RunStep& step = *mSteps.at(mNext++);
    mState = step.state();
    // Told at once, so that what the step offers is shown before it reports.
    Q_EMIT progressed(
        {.state = mState, .text = {}, .done = 0, .total = 0, .offersStop = step.offersStop()});
    step.start(mRun, *mFolder, mInput, reportsFor(++mToken));
}

// Reports come from the workers' threads; they are taken in order on the
// run's own, and only while their step is the one under way.
RunStep::Reports BookRun::reportsFor(int token)
{
    return {.progress =
                [this, token](double done, double total, const QString& text) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, token, done, total, text] {
                            if (token != mToken || mState == RunState::Idle)
                                return;
                            Q_EMIT progressed({.state = mState,
                                               .text = text,
                                               .done = done,
                                               .total = total,
                                               .offersStop = mSteps.at(mNext - 1)->offersStop()});
                        },
                        Qt::QueuedConnection);
                },
            .finished =
                [this, token](const std::exception_ptr& failure) {
                    QMetaObject::invokeMethod(
                        this, [this, token, failure] { stepEnded(token, failure); },
                        Qt::QueuedConnection);
                }};
}

void BookRun::stepEnded(int token, const std::exception_ptr& failure)
{
    if (token != mToken || mState == RunState::Idle)
        return;
    RunStep& step = *mSteps.at(mNext - 1);
    try {
        if (failure)
            std::rethrow_exception(failure);
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
    } catch (const std::exception& e) {
        fail(QString::fromStdString(e.what()));
        return;
    } catch (...) {
        fail(u"An unknown error."_s);
        return;
    }
    const QString unusable = step.settle(mRun);
    Q_EMIT recordsChanged();
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
    ++mToken;
    mRetry.stop();
    mWaitStarted.reset();
    Q_EMIT failed(cause.isEmpty() ? QString() : during + u": "_s + cause);
}

void BookRun::endSteps()
{
    if (mNext > 0 && mNext <= mSteps.size())
        mSteps.at(mNext - 1)->stop();
    // Each worker waits for its tool and thread to end as it goes.
    mSteps.clear();
    mNext = 0;
}

void BookRun::stop(Leftovers leftovers)
{
    ++mToken;
    mState = RunState::Idle;
    mRetry.stop();
    mWaitStarted.reset();
    endSteps();
    // Only after every tool has been reaped: none may write there any more.
    if (leftovers == Leftovers::Removed && mFolder &&
        mLock.tryLock(*mFolder) == FolderLock::Result::Ours)
        FileHelper::deleteContentOfDirectory(*mFolder);
}

FileMover::Outcome BookRun::deliver(const QString& target, bool replacing) const
{
    return replacing ? FileMover::moveReplacing(mMade, target) : FileMover::move(mMade, target);
}
