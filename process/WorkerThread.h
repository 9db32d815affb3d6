#pragma once

#include <functional>
#include <thread>

// The thread of one worker run. A new run waits for the previous thread to
// end, and the owner's destruction waits for the last one, so no run outlives
// the worker that started it.
class WorkerThread
{
public:
    WorkerThread() = default;
    ~WorkerThread() { join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void start(std::function<void()> body)
    {
        join();
        mThread = std::thread(std::move(body));
    }
    void join()
    {
        if (mThread.joinable())
            mThread.join();
    }

private:
    std::thread mThread;
};
