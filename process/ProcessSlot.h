#pragma once

#include "ToolProcess.h"
#include "WorkerException.h"

#include <memory>
#include <mutex>

// A worker's reference to the tool process running for it. The stop method on
// the GUI thread sees either the live process or none, never a released one.
// A stop that comes before the worker thread has started its tool still
// counts: the tool is then never started.
class ProcessSlot
{
public:
    // A new run begins; an earlier stop no longer applies.
    void arm()
    {
        std::lock_guard lock(mMutex);
        mStopRequested = false;
    }
    void hold(std::shared_ptr<ToolProcess> process)
    {
        std::lock_guard lock(mMutex);
        mProcess = std::move(process);
        if (mStopRequested && mProcess)
            mProcess->terminate();
    }
    void release()
    {
        std::lock_guard lock(mMutex);
        mProcess.reset();
    }
    // Sends terminate to the held process if it runs; otherwise only marks the run stopped.
    void terminateIfRunning()
    {
        std::lock_guard lock(mMutex);
        mStopRequested = true;
        if (mProcess)
            mProcess->terminate();
    }
    [[nodiscard]] bool stopRequested() const
    {
        std::lock_guard lock(mMutex);
        return mStopRequested;
    }
    // A tool that failed on its own is an error of the run; one that was stopped is not.
    void checkEnd(const ToolProcess& process, const char* what) const
    {
        if (process.exitedCleanly() || stopRequested())
            return;
        std::string cause = std::string(what) + " " + process.exitDescription();
        if (const std::string said = process.errorTail(); !said.empty())
            cause += ", saying: " + said;
        throw WorkerException(cause);
    }
    [[nodiscard]] bool isRunning() const
    {
        std::lock_guard lock(mMutex);
        return mProcess && mProcess->isRunning();
    }

private:
    mutable std::mutex mMutex;
    std::shared_ptr<ToolProcess> mProcess;
    bool mStopRequested = false;
};
