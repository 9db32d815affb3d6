#pragma once

#include "Job.h"
#include "RunRequest.h"
#include "RunState.h"
#include "WorkerReports.h"

#include <QString>
#include <exception>
#include <functional>

// One step of a run: a job over the worker that does it, made ready with
// the run, its folder and the previous step's output, then started. Its
// worker reports through the job. Once it has succeeded, the run settles
// it. What each kind of step does is given by its parts (see RunSteps).
class RunStep final : public Job
{
public:
    // Where the step works: the run's folder, the previous step's output,
    // and the file it makes.
    struct Paths
    {
        QString folder;
        QString input;
        QString output;
    };
    struct Parts
    {
        RunState state = RunState::Idle;
        // The words that a failure in this step begins with.
        QString during = {};
        // Whether the progress sheet offers Stop while this step runs.
        bool offersStop = true;
        // The file it makes in the folder; empty: its input goes on as it is.
        QString made = {};
        // Starts the worker, which tells its progress and end through the
        // reports; returns at once.
        std::function<void(RunWork& run, const Paths& paths, const WorkerReports& reports)> start = {};
        // Stops the worker; returns once its tools have ended.
        std::function<void()> stop = {};
        // After it has succeeded, on the run's thread: what the worker found
        // of the files goes into the run's records. A reason in words when
        // what it made cannot be used.
        std::function<QString(RunWork& run, const Paths& paths)> settle = {};
    };

    explicit RunStep(Parts parts) : mParts(std::move(parts)) {}
    ~RunStep() override { stop(); }

    [[nodiscard]] RunState state() const { return mParts.state; }
    [[nodiscard]] bool offersStop() const { return mParts.offersStop; }
    [[nodiscard]] const QString& during() const { return mParts.during; }
    // Before start(): input is the previous step's output, if any.
    void prepare(RunWork& run, const QString& folder, const QString& input)
    {
        mRun = &run;
        mPaths = {.folder = folder,
                  .input = input,
                  .output = mParts.made.isEmpty() ? input : folder + u'/' + mParts.made};
    }
    [[nodiscard]] QString settle(RunWork& run)
    {
        return mParts.settle ? mParts.settle(run, mPaths) : QString();
    }
    // The file this step made, once it has succeeded.
    [[nodiscard]] const QString& output() const { return mPaths.output; }
    // What its worker failed with, once it has failed.
    [[nodiscard]] const std::exception_ptr& failure() const { return mFailure; }

private:
    void begin() override { mParts.start(*mRun, mPaths, reports()); }
    void halt() override
    {
        if (mParts.stop)
            mParts.stop();
    }
    void workerFinished(const std::exception_ptr& failure) override
    {
        mFailure = failure;
        Job::workerFinished(failure);
    }

    Parts mParts;
    RunWork* mRun = nullptr;
    Paths mPaths;
    std::exception_ptr mFailure;
};
