#include "Job.h"

using namespace Qt::Literals::StringLiterals;

Job::Job(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Job::Progress>();
}

Job::~Job() = default;

void Job::start()
{
    if (mRunning)
        return;
    mRunning = true;
    ++mStart;
    begin();
}

void Job::stop()
{
    ++mStart;
    const bool running = std::exchange(mRunning, false);
    if (running)
        halt();
}

QString Job::reasonOf(const std::exception_ptr& failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return u"An unknown error."_s;
    }
    return {};
}

void Job::workerProgressed(double done, double total, const QString& text)
{
    tell({.done = done, .total = total, .text = text});
}

void Job::workerFinished(const std::exception_ptr& failure)
{
    if (failure)
        fail(reasonOf(failure));
    else
        succeed();
}

WorkerReports Job::renewed()
{
    ++mStart;
    return reports();
}

WorkerReports Job::reports()
{
    const int start = mStart;
    return {.progress =
                [this, start](double done, double total, const QString& text) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, start, done, total, text] {
                            if (start == mStart && mRunning)
                                workerProgressed(done, total, text);
                        },
                        Qt::QueuedConnection);
                },
            .finished =
                [this, start](const std::exception_ptr& failure) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, start, failure] {
                            if (start == mStart && mRunning)
                                workerFinished(failure);
                        },
                        Qt::QueuedConnection);
                }};
}

void Job::tell(const Progress& progress)
{
    if (mRunning)
        Q_EMIT progressed(progress);
}

void Job::succeed()
{
    if (!std::exchange(mRunning, false))
        return;
    ++mStart;
    Q_EMIT succeeded();
}

void Job::fail(const QString& reason)
{
    if (!std::exchange(mRunning, false))
        return;
    ++mStart;
    Q_EMIT failed(reason);
}
