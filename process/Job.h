#pragma once

#include "WorkerReports.h"

#include <QObject>
#include <QString>
#include <exception>

// A piece of work that runs by itself: started once, stopped at any time,
// telling its progress as it goes, and ending once, done or failed with its
// reason in words. The book's run, a save, a split, a search for silence
// and a loudness measure are all jobs; a window or a command line shows
// them all the same way. Signals come on the thread that owns the job.
class Job : public QObject
{
    Q_OBJECT
public:
    struct Progress
    {
        double done = 0;
        // 0 is work that cannot be counted.
        double total = 0;
        // Empty keeps the words shown before.
        QString text;
        // What part of its work the job is at, in its own numbering.
        int stage = 0;
        bool offersStop = true;
    };

    explicit Job(QObject* parent = nullptr);
    ~Job() override;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Returns at once; a job that runs already is left to run.
    void start();
    // Ends its tools before it returns; no signal comes after it.
    void stop();
    [[nodiscard]] bool isRunning() const { return mRunning; }

    // A caught exception in words, as a failure gives it.
    [[nodiscard]] static QString reasonOf(const std::exception_ptr& failure);

Q_SIGNALS:
    void progressed(const Job::Progress& progress);
    void succeeded();
    void failed(const QString& reason);

protected:
    virtual void begin() = 0;
    // Stops the work; blocks until its tools and threads have ended.
    virtual void halt() = 0;
    // What a worker tells, on the job's thread: its progress as the job's
    // by default, and at its end succeed() or fail() as the failure says.
    virtual void workerProgressed(double done, double total, const QString& text);
    virtual void workerFinished(const std::exception_ptr& failure);

    // Reports for a worker of this start of the job: taken in order on the
    // job's thread, and dropped once the job has ended or been stopped, or
    // once it has handed out newer ones with renewed().
    [[nodiscard]] WorkerReports reports();
    [[nodiscard]] WorkerReports renewed();
    void tell(const Progress& progress);
    void succeed();
    void fail(const QString& reason);

private:
    bool mRunning = false;
    // Reports of an earlier start, or of a stopped one, carry an old number.
    int mStart = 0;
};

Q_DECLARE_METATYPE(Job::Progress)
