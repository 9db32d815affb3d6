#pragma once

#include "Job.h"
#include "RunRequest.h"
#include "RunState.h"
#include "WorkerReports.h"

#include <QString>
#include <exception>

// One step of a run: a job over the worker that does it, made ready with
// the run, its folder and the previous step's output, then started. Its
// worker reports through the job. Once it has succeeded, the run settles it.
class RunStep : public Job
{
public:
    using Reports = WorkerReports;

    [[nodiscard]] virtual RunState state() const = 0;
    // Whether the progress sheet offers Stop while this step runs.
    [[nodiscard]] virtual bool offersStop() const { return true; }
    // The words that a failure in this step begins with.
    [[nodiscard]] virtual QString during() const = 0;
    // Before start(): input is the previous step's output, if any; the
    // step's own goes into folder.
    void prepare(RunWork& run, const QString& folder, const QString& input)
    {
        mRun = &run;
        mFolder = folder;
        mInput = input;
    }
    // After it has succeeded, on the run's thread: what the worker found of
    // the files goes into the run's records. A reason in words when what it
    // made cannot be used.
    [[nodiscard]] virtual QString settle(RunWork& /*run*/) { return {}; }
    // The file this step made, once it has succeeded.
    [[nodiscard]] virtual QString output() const = 0;
    // What its worker failed with, once it has failed.
    [[nodiscard]] const std::exception_ptr& failure() const { return mFailure; }

protected:
    // Returns at once; the worker tells its progress and end through reports.
    virtual void startWorker(RunWork& run, const QString& folder, const QString& input,
                             Reports reports) = 0;

private:
    void begin() final { startWorker(*mRun, mFolder, mInput, reports()); }
    void workerFinished(const std::exception_ptr& failure) final
    {
        mFailure = failure;
        Job::workerFinished(failure);
    }

    RunWork* mRun = nullptr;
    QString mFolder;
    QString mInput;
    std::exception_ptr mFailure;
};
