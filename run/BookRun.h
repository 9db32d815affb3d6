#pragma once

#include "FileMover.h"
#include "Job.h"
#include "FolderLock.h"
#include "RunRequest.h"
#include "RunState.h"
#include "RunStep.h"

#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// One book made from a run request: the files checked, the temporary
// folder taken, locked and emptied, the disk's room checked, then the steps
// that the request needs, one after another, each checked as it ends. As a
// job it tells its progress, each report's stage its RunState, and its end;
// a window or a command line shows them, and the run keeps its state to
// itself.
class BookRun final : public Job
{
    Q_OBJECT
public:
    // Its files go into the temporary folder of that name.
    explicit BookRun(RunRequest request, QString folderName, QObject* parent = nullptr);
    ~BookRun() override;
    BookRun(const BookRun&) = delete;
    BookRun& operator=(const BookRun&) = delete;

    // The steps that make the book the run asks for, in order.
    [[nodiscard]] static std::vector<std::unique_ptr<RunStep>> steps(const RunWork& run);
    // A step's name in a plan: "Join", "Encode", "Tags".
    [[nodiscard]] static QString nameOf(RunState state);

    enum class Leftovers
    {
        Kept,
        Removed,
    };
    // Ends every tool of the run before it returns, and then, if asked,
    // removes what it wrote. No signal comes after it.
    void stop(Leftovers leftovers = Leftovers::Kept);
    [[nodiscard]] RunState state() const { return mState; }
    [[nodiscard]] static RunState stateOf(const Job::Progress& progress)
    {
        return static_cast<RunState>(progress.stage);
    }
    // The book made, in the temporary folder, once the run has succeeded.
    [[nodiscard]] const QString& made() const { return mMade; }
    [[nodiscard]] const RunRequest& request() const { return mRun.request; }
    [[nodiscard]] const std::optional<QString>& folder() const { return mFolder; }
    // The book made, in the temporary folder, to target; replacing puts it
    // in place of whatever stands there.
    [[nodiscard]] FileMover::Outcome deliver(const QString& target, bool replacing) const;

Q_SIGNALS:
    // What the run found of its files (problems, lengths, loudness), as the
    // files stood in the request.
    void filesLearned(const QList<ItemRecord>& files);

protected:
    void begin() override;
    void halt() override;


private:
    // Checks, takes the folder and checks its room; false while it waits
    // for the folder, or after a failure.
    bool ready();
    bool claimFolder();
    // Refuses the run, false, when the folder's disk cannot hold what it writes.
    bool hasRoom();
    void next();
    // A step's end: what it found is settled, and the next step begins.
    void stepEnded(RunStep& step, const QString& failure);
    void fail(const QString& cause);
    [[nodiscard]] QString diskFullText() const;
    void endSteps();

    RunWork mRun;
    QString mFolderName;
    std::optional<QString> mFolder;
    FolderLock mLock;
    QTimer mRetry;
    std::optional<std::chrono::steady_clock::time_point> mWaitStarted;
    qint64 mNeeds = 0;
    RunState mState = RunState::Idle;
    std::vector<std::unique_ptr<RunStep>> mSteps;
    std::size_t mNext = 0;
    QString mInput;
    QString mMade;
};
