#pragma once

#include "ProcessSlot.h"
#include "ToolProcess.h"
#include "WorkerThread.h"

#include <QString>
#include <exception>
#include <functional>

// Runs one tool at a time on a worker thread of its own: the run body that
// every threaded worker shares. A stop from the GUI thread reaches the tool
// wherever the run stands, and a tool that fails on its own fails the run.
class ToolRunner
{
public:
    struct Run
    {
        QString command;
        ToolOutput output = ToolOutput::Inherited;
        // The tool's name in a failure's description.
        const char* tool = "";
        // Reads the tool's output while it runs, on the worker thread.
        std::function<void(ToolProcess& process)> readOutput;
        // Called on the worker thread at the end: none on success, else what failed.
        std::function<void(const std::exception_ptr& failure)> finished;
    };

    ToolRunner() = default;
    ~ToolRunner() { terminate(); }
    ToolRunner(const ToolRunner&) = delete;
    ToolRunner& operator=(const ToolRunner&) = delete;

    // Waits for the previous run's thread to end, and only then clears a
    // previous stop, so a stopped run can never see itself going again.
    void start(Run run);
    void terminate() { mSlot.terminateIfRunning(); }
    // Waits for the last run's thread, report included, to end.
    void join() { mThread.join(); }
    [[nodiscard]] bool isRunning() const { return mSlot.isRunning(); }

private:
    void body(const Run& run);

    ProcessSlot mSlot;
    WorkerThread mThread;
};
