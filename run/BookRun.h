#pragma once

#include "FileMover.h"
#include "FolderLock.h"
#include "RunRequest.h"
#include "RunState.h"
#include "RunStep.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// One book made from a run request: the files checked, the temporary
// folder taken, locked and emptied, the disk's room checked, then the steps
// that the request needs, one after another, each checked as it ends. What
// it tells of its progress and its end comes as signals on its own thread.
// A window or a command line shows them; the run keeps its state to itself.
class BookRun final : public QObject
{
    Q_OBJECT
public:
    struct Progress
    {
        RunState state = RunState::Idle;
        // Empty keeps the words shown before.
        QString text;
        double done = 0;
        // 0 is work that cannot be counted.
        double total = 0;
        bool offersStop = true;
    };

    // Its files go into the temporary folder of that name.
    explicit BookRun(RunRequest request, QString folderName, QObject* parent = nullptr);
    ~BookRun() override;
    BookRun(const BookRun&) = delete;
    BookRun& operator=(const BookRun&) = delete;

    // The steps that make the book the request asks for, in order.
    [[nodiscard]] static std::vector<std::unique_ptr<RunStep>> steps(const RunRequest& run);
    // A step's name in a plan: "Join", "Encode", "Tags".
    [[nodiscard]] static QString nameOf(RunState state);

    void start();
    enum class Leftovers
    {
        Kept,
        Removed,
    };
    // Ends every tool of the run before it returns, and then, if asked,
    // removes what it wrote. No signal comes after it.
    void stop(Leftovers leftovers = Leftovers::Kept);
    [[nodiscard]] bool isRunning() const { return mState != RunState::Idle; }
    [[nodiscard]] RunState state() const { return mState; }
    [[nodiscard]] const RunRequest& request() const { return mRun; }
    [[nodiscard]] const std::optional<QString>& folder() const { return mFolder; }
    // The book made, in the temporary folder, to target; replacing puts it
    // in place of whatever stands there.
    [[nodiscard]] FileMover::Outcome deliver(const QString& target, bool replacing) const;

Q_SIGNALS:
    void progressed(const BookRun::Progress& progress);
    // Problems or lengths were found and marked on the records.
    void recordsChanged();
    // The book is made, at that path in the temporary folder.
    void made(const QString& book);
    // Why the run failed, in words for the user, beginning with the step.
    void failed(const QString& cause);

private:
    // Checks, takes the folder and checks its room; false while it waits
    // for the folder, or after a failure.
    bool ready();
    bool claimFolder();
    // Refuses the run, false, when the folder's disk cannot hold what it writes.
    bool hasRoom();
    void next();
    void stepEnded(int token, const std::exception_ptr& failure);
    void fail(const QString& cause);
    [[nodiscard]] RunStep::Reports reportsFor(int token);
    [[nodiscard]] QString diskFullText() const;
    void endSteps();

    RunRequest mRun;
    QString mFolderName;
    std::optional<QString> mFolder;
    FolderLock mLock;
    QTimer mRetry;
    std::optional<std::chrono::steady_clock::time_point> mWaitStarted;
    qint64 mNeeds = 0;
    RunState mState = RunState::Idle;
    std::vector<std::unique_ptr<RunStep>> mSteps;
    std::size_t mNext = 0;
    // The step under way is known by this number; a stopped one's late reports are not.
    int mToken = 0;
    QString mInput;
    QString mMade;
};
