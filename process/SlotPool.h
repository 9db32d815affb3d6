#pragma once

#include "ProcessSlot.h"

#include <QtGlobal>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

// A tool for each of a run's files, as many at once as there are cores:
// each thread takes the next file when its last one is done. The first
// failure fails the run, and the tools still running are stopped.
class SlotPool
{
public:
    using Task = std::function<void(qsizetype index, ProcessSlot& slot)>;
    using Progress = std::function<void(int done, int total)>;

    // Slots for a run of count files: as many as workers, else one per
    // core, and at most one per file.
    void prepare(qsizetype count, int workers = 0);
    // Runs task for every index below count, on this thread and others;
    // returns the first failure, none when all went well or it was stopped.
    [[nodiscard]] std::exception_ptr run(qsizetype count, const Task& task,
                                         const Progress& progress);
    // Stops the tools running, and the files not yet begun.
    void terminate();
    [[nodiscard]] bool stopped() const { return mStopped; }

private:
    std::vector<std::unique_ptr<ProcessSlot>> mSlots;
    std::atomic<bool> mStopped = false;
};
