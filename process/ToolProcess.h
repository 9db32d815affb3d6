#pragma once

#include <QByteArray>
#include <QString>
#include <mutex>
#include <string>
#include <sys/types.h>

// How a tool's output is handled.
enum class ToolOutput
{
    WholeStdout,     // standard output read whole by the caller
    StdoutDiscarded, // standard output thrown away
    StderrStreamed,  // standard error read chunk by chunk by the caller
    StdoutStreamed,  // standard output read chunk by chunk by the caller
    Inherited,       // output goes wherever the application's own goes
};

// One run of "/bin/sh" "-c" "exec " + command. Made anew for every run.
//
// The command is one tool with its arguments and redirections; the shell is
// replaced by it, so the tool is our own child and is killed when the thread
// that started it dies, however the application ends.
//
// terminate() may be called from any thread while another thread waits in
// waitUntilExit(): the child is reaped only under the lock, so a stop never
// signals a process id that has been handed back to the system.
class ToolProcess
{
public:
    explicit ToolProcess(QString command);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts the shell; throws WorkerException when it cannot be started.
    void launch(ToolOutput output);
    // WholeStdout: everything the tool writes, up to the end of its output.
    [[nodiscard]] QByteArray readStdoutToEnd();
    // StderrStreamed, StdoutStreamed: the next chunk as one read returns it;
    // empty at the end of the stream.
    [[nodiscard]] QByteArray readChunk();
    void waitUntilExit();
    [[nodiscard]] bool isRunning() const;
    // After waitUntilExit: whether the tool ended by itself with status 0, and
    // how it ended, in words.
    [[nodiscard]] bool exitedCleanly() const;
    [[nodiscard]] std::string exitDescription() const;
    // The last few lines the tool wrote to its standard error, on one line and
    // bounded in length, for telling why it failed; empty when it wrote none.
    [[nodiscard]] std::string errorTail() const;
    // Asks the tool and everything it started to end (SIGTERM). Does not wait.
    // Before launch, it keeps the tool from being started at all.
    void terminate();

    [[nodiscard]] const QString& command() const { return mCommand; }

    // A descriptor that every tool started from now on holds open (-1: none),
    // so that a lock on it lasts as long as the last of them.
    static void shareWithTools(int fd);

private:
    void closeReadEnd();

    QString mCommand;
    mutable std::mutex mMutex;
    pid_t mPid = -1;
    bool mReaped = false;
    bool mTerminateRequested = false;
    int mStatus = 0;
    int mReadFd = -1;
    // Where the tool's standard error goes when nobody streams it: a file in
    // memory, read back only for its end.
    int mErrorFd = -1;
    QByteArray mStreamedErrors;
};
