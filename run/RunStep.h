#pragma once

#include "RunRequest.h"
#include "RunState.h"

#include <QString>
#include <exception>
#include <functional>

// One step of a run, over the worker that does it. A step is started once,
// reports its progress and its end through the run's reports, from any
// thread, and can be stopped at any time; a stopped step need not report.
class RunStep
{
public:
    struct Reports
    {
        // done of total; a total of 0 is work that cannot be counted.
        std::function<void(double done, double total, const QString& text)> progress;
        // An empty failure is success.
        std::function<void(const std::exception_ptr& failure)> finished;
    };

    RunStep() = default;
    virtual ~RunStep() = default;
    RunStep(const RunStep&) = delete;
    RunStep& operator=(const RunStep&) = delete;

    [[nodiscard]] virtual RunState state() const = 0;
    // Whether the progress sheet offers Stop while this step runs.
    [[nodiscard]] virtual bool offersStop() const { return true; }
    // The words that a failure in this step begins with.
    [[nodiscard]] virtual QString during() const = 0;
    // Returns at once. input is the previous step's output, if any; the
    // step's own goes into folder.
    virtual void start(RunRequest& run, const QString& folder, const QString& input,
                       Reports reports) = 0;
    virtual void stop() = 0;
    // After a successful end, on the run's thread: what the worker found of
    // the files goes into the run's records. A reason in words when what it
    // made cannot be used.
    [[nodiscard]] virtual QString settle(RunRequest& /*run*/) { return {}; }
    // The file this step made, once finished.
    [[nodiscard]] virtual QString output() const = 0;
};
