#pragma once

#include "ToolProcess.h"

#include <memory>
#include <mutex>

// A worker's reference to the tool process running for it. The stop method on
// the GUI thread sees either the live process or none, never a released one.
class ProcessSlot
{
public:
    void hold(std::shared_ptr<ToolProcess> process)
    {
        std::lock_guard lock(mMutex);
        mProcess = std::move(process);
    }
    void release()
    {
        std::lock_guard lock(mMutex);
        mProcess.reset();
    }
    // Sends terminate to the held process if it runs; otherwise does nothing.
    void terminateIfRunning()
    {
        std::shared_ptr<ToolProcess> process;
        {
            std::lock_guard lock(mMutex);
            process = mProcess;
        }
        if (process && process->isRunning())
            process->terminate();
    }
    [[nodiscard]] bool isRunning() const
    {
        std::lock_guard lock(mMutex);
        return mProcess && mProcess->isRunning();
    }

private:
    mutable std::mutex mMutex;
    std::shared_ptr<ToolProcess> mProcess;
};
