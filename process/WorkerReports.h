#pragma once

#include <QString>
#include <exception>
#include <functional>

// How every worker tells of its work, from its own threads: how far it has
// come, and then, once, how it ended. A job hands them to its worker and
// takes them on its own thread.
struct WorkerReports
{
    // done of total, with words to show (empty keeps those shown); a total
    // of 0 is work that cannot be counted.
    std::function<void(double done, double total, const QString& text)> progress;
    // Empty on success, else what the worker caught.
    std::function<void(const std::exception_ptr& failure)> finished;

    void tell(double done, double total, const QString& text = {}) const
    {
        if (progress)
            progress(done, total, text);
    }
    void end(const std::exception_ptr& failure) const
    {
        if (finished)
            finished(failure);
    }
};
