#include "ToolProcess.h"

#include "WorkerException.h"

#include <QList>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Enough of the end of a tool's standard error to hold its last words
// behind a screenful of progress.
constexpr qsizetype kErrorTailBytes = 64 << 10;
constexpr qsizetype kErrorTailLine = 400;

std::atomic<int> gSharedDescriptor{-1};

// Everything the child needs, worked out before it exists: between vfork and
// exec it runs in our memory and may only make system calls.
struct ChildPlan
{
    char* const* argv = nullptr;
    int stdinFd = -1;
    int stdoutFd = -1;
    int stderrFd = -1;
    int sharedFd = -1;
    pid_t parent = -1;
    volatile int execError = 0;
};

[[noreturn]] void becomeTool(ChildPlan& plan) noexcept
{
    // A group of its own, so that a stop reaches whatever the tool starts too.
    ::setpgid(0, 0);
    // The tool dies with the thread that started it, even when we are killed
    // and can clean nothing up ourselves.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != plan.parent)
        ::_exit(127);
    for (const auto& [from, to] : {std::pair{plan.stdinFd, STDIN_FILENO},
                                   std::pair{plan.stdoutFd, STDOUT_FILENO},
                                   std::pair{plan.stderrFd, STDERR_FILENO}}) {
        if (from >= 0 && ::dup2(from, to) < 0)
            ::_exit(127);
    }
    if (plan.sharedFd >= 0)
        ::fcntl(plan.sharedFd, F_SETFD, 0);
    struct sigaction byDefault
    {
    };
    byDefault.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) {
        if (s != SIGKILL && s != SIGSTOP)
            ::sigaction(s, &byDefault, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve("/bin/sh", plan.argv, environ);
    plan.execError = errno;
    ::_exit(127);
}

pid_t spawn(ChildPlan& plan)
{
    // No handler of ours may run in the child while it shares our memory.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::vfork();
    if (pid == 0)
        becomeTool(plan);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

struct Descriptor
{
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

QByteArray readFrom(int fd)
{
    std::array<char, 16384> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n >= 0)
            return QByteArray(buffer.data(), n);
        if (errno != EINTR)
            return {};
    }
}

} // namespace

ToolProcess::ToolProcess(QString command) : mCommand(std::move(command)) {}

ToolProcess::~ToolProcess()
{
    // Nothing outlives its owner: a child still running is stopped and reaped.
    if (isRunning()) {
        terminate();
        waitUntilExit();
    }
    closeReadEnd();
    if (mErrorFd >= 0)
        ::close(mErrorFd);
}

void ToolProcess::shareWithTools(int fd)
{
    gSharedDescriptor = fd;
}

void ToolProcess::launch(ToolOutput output)
{
    std::lock_guard lock(mMutex);
    if (mTerminateRequested) {
        // Stopped before it started: it ends without ever running.
        mReaped = true;
        return;
    }
    std::array<int, 2> pipeFds{-1, -1};
    const bool piped = output != ToolOutput::StdoutDiscarded && output != ToolOutput::Inherited;
    if (piped && ::pipe2(pipeFds.data(), O_CLOEXEC) != 0)
        throw WorkerException(std::string("cannot make a pipe: ") + std::strerror(errno));
    Descriptor writeEnd(pipeFds[1]);
    Descriptor readEnd(pipeFds[0]);

    // Tools never read the application's input; a terminal there would confuse ffmpeg.
    Descriptor input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Descriptor discarded(output == ToolOutput::StdoutDiscarded
                             ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                             : -1);
    ChildPlan plan;
    plan.stdinFd = input.fd;
    plan.parent = ::getpid();
    plan.sharedFd = gSharedDescriptor;
    switch (output) {
    case ToolOutput::WholeStdout:
    case ToolOutput::StdoutStreamed:
        plan.stdoutFd = writeEnd.fd;
        break;
    case ToolOutput::StdoutDiscarded:
        plan.stdoutFd = discarded.fd;
        break;
    case ToolOutput::StderrStreamed:
        plan.stderrFd = writeEnd.fd;
        break;
    case ToolOutput::Inherited:
        break;
    }
    if (output != ToolOutput::StderrStreamed) {
        // In memory, not on a disk: a tool that fails for want of space
        // must still be able to say so.
        mErrorFd = ::memfd_create("tool-stderr", MFD_CLOEXEC);
        plan.stderrFd = mErrorFd;
    }

    // The shell gives way to the tool, so that the tool itself is our child
    // and dies with us; dash would otherwise run it as a grandchild.
    QByteArray commandBytes = "exec " + mCommand.toUtf8();
    std::array<char*, 4> argv{const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                              commandBytes.data(), nullptr};
    plan.argv = argv.data();
    const pid_t pid = spawn(plan);
    const int error = pid < 0 ? errno : plan.execError;
    if (pid > 0 && error != 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (error != 0)
        throw WorkerException(std::string("cannot start /bin/sh: ") + std::strerror(error));
    mPid = pid;
    mReaped = false;
    if (piped)
        std::swap(mReadFd, readEnd.fd);
}

QByteArray ToolProcess::readStdoutToEnd()
{
    QByteArray all;
    if (mReadFd < 0)
        return all;
    for (QByteArray chunk = readFrom(mReadFd); !chunk.isEmpty(); chunk = readFrom(mReadFd))
        all += chunk;
    closeReadEnd();
    return all;
}

QByteArray ToolProcess::readChunk()
{
    if (mReadFd < 0)
        return {};
    QByteArray chunk = readFrom(mReadFd);
    if (mErrorFd < 0) {
        mStreamedErrors += chunk;
        if (mStreamedErrors.size() > kErrorTailBytes)
            mStreamedErrors.remove(0, mStreamedErrors.size() - kErrorTailBytes);
    }
    return chunk;
}

std::string ToolProcess::errorTail() const
{
    QByteArray tail = mStreamedErrors;
    if (mErrorFd >= 0) {
        const off_t size = ::lseek(mErrorFd, 0, SEEK_END);
        const off_t from = std::max<off_t>(0, size - kErrorTailBytes);
        tail.resize(static_cast<qsizetype>(size - from));
        const ssize_t got = ::pread(mErrorFd, tail.data(), static_cast<size_t>(tail.size()), from);
        tail.resize(got > 0 ? static_cast<qsizetype>(got) : 0);
    }
    // What the tool said, without its progress: lines it ended with a
    // carriage return to write over, and ffmpeg's statistics.
    QList<QByteArray> lines;
    for (QByteArray line : tail.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray said = line.mid(line.lastIndexOf('\r') + 1).trimmed();
        const bool progress = (said.startsWith("size=") || said.startsWith("frame=")) &&
                              said.contains("time=");
        if (!said.isEmpty() && !progress)
            lines.append(said);
    }
    const QByteArray last = lines.mid(std::max<qsizetype>(0, lines.size() - 3)).join(" / ");
    return last.left(kErrorTailLine).toStdString();
}

void ToolProcess::waitUntilExit()
{
    pid_t pid = -1;
    {
        std::lock_guard lock(mMutex);
        if (mPid < 0 || mReaped)
            return;
        pid = mPid;
    }
    // Wait without reaping, so the id stays ours while terminate() may still use it.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    std::lock_guard lock(mMutex);
    if (!mReaped) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        mStatus = status;
        mReaped = true;
    }
}

bool ToolProcess::isRunning() const
{
    std::lock_guard lock(mMutex);
    return mPid > 0 && !mReaped;
}

bool ToolProcess::exitedCleanly() const
{
    std::lock_guard lock(mMutex);
    return mPid > 0 && mReaped && WIFEXITED(mStatus) && WEXITSTATUS(mStatus) == 0;
}

std::string ToolProcess::exitDescription() const
{
    std::lock_guard lock(mMutex);
    if (mPid < 0)
        return "was never started";
    if (!mReaped)
        return "is still running";
    if (WIFSIGNALED(mStatus))
        return std::string("was killed by signal ") + std::to_string(WTERMSIG(mStatus));
    return "exited with status " + std::to_string(WEXITSTATUS(mStatus));
}

void ToolProcess::terminate()
{
    std::lock_guard lock(mMutex);
    if (mPid > 0 && !mReaped)
        ::kill(-mPid, SIGTERM);
    else if (mPid < 0)
        mTerminateRequested = true;
}

void ToolProcess::closeReadEnd()
{
    if (mReadFd >= 0) {
        ::close(mReadFd);
        mReadFd = -1;
    }
}
