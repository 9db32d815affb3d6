#include "SlotPool.h"

#include <QThread>
#include <algorithm>
#include <mutex>
#include <thread>

void SlotPool::prepare(qsizetype count, int workers)
{
    mStopped = false;
    const auto slots = static_cast<std::size_t>(
        std::clamp<qsizetype>(workers > 0 ? workers : QThread::idealThreadCount(), 1,
                              std::max<qsizetype>(count, 1)));
    mSlots.clear();
    for (std::size_t i = 0; i < slots; ++i)
        mSlots.push_back(std::make_unique<ProcessSlot>());
}

std::exception_ptr SlotPool::run(qsizetype count, const Task& task, const Progress& progress)
{
    std::atomic<qsizetype> next = 0;
    std::atomic<int> done = 0;
    std::mutex failureMutex;
    std::exception_ptr failure;
    std::vector<std::thread> threads;
    for (const auto& slot : mSlots) {
        threads.emplace_back([&, slot = slot.get()] {
            for (qsizetype i = next++; i < count && !mStopped; i = next++) {
                try {
                    task(i, *slot);
                } catch (const std::exception&) {
                    std::lock_guard lock(failureMutex);
                    if (!failure)
                        failure = std::current_exception();
                    // One file failing fails the book: the others stop.
                    terminate();
                }
                if (progress && !mStopped)
                    progress(++done, static_cast<int>(count));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    return failure;
}

void SlotPool::terminate()
{
    mStopped = true;
    for (const auto& slot : mSlots)
        slot->terminateIfRunning();
}
