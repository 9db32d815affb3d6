#include "ToolRunner.h"

#include <memory>

void ToolRunner::start(Run run)
{
    mThread.join();
    mSlot.arm();
    mThread.start([this, run = std::move(run)] { body(run); });
}

void ToolRunner::body(const Run& run)
{
    std::exception_ptr failure;
    try {
        auto process = std::make_shared<ToolProcess>(run.command);
        mSlot.hold(process);
        process->launch(run.output);
        if (run.readOutput)
            run.readOutput(*process);
        process->waitUntilExit();
        mSlot.checkEnd(*process, run.tool);
    } catch (const std::exception&) {
        failure = std::current_exception();
    }
    mSlot.release();
    if (run.finished)
        run.finished(failure);
}
