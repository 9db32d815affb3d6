#include "ToolProcess.h"

#include "WorkerException.h"

#include <QList>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr qsizetype kErrorTailBytes = 4096;
constexpr qsizetype kErrorTailLine = 400;

struct SpawnSetup
{
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
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

void ToolProcess::launch(ToolOutput output)
{
    std::lock_guard lock(mMutex);
    if (mTerminateRequested) {
        // Stopped before it started: it ends without ever running.
        mReaped = true;
        return;
    }
    SpawnSetup setup;
    std::array<int, 2> pipeFds{-1, -1};
    const bool piped = output != ToolOutput::StdoutDiscarded && output != ToolOutput::Inherited;
    if (piped && ::pipe2(pipeFds.data(), O_CLOEXEC) != 0)
        throw WorkerException(std::string("cannot make a pipe: ") + std::strerror(errno));

    // Tools never read the application's input; a terminal there would confuse ffmpeg.
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    switch (output) {
    case ToolOutput::WholeStdout:
    case ToolOutput::StdoutStreamed:
        posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
        break;
    case ToolOutput::StdoutDiscarded:
        posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        break;
    case ToolOutput::StderrStreamed:
        posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDERR_FILENO);
        break;
    case ToolOutput::Inherited:
        break;
    }
    if (output != ToolOutput::StderrStreamed) {
        const char* tmp = std::getenv("TMPDIR");
        mErrorFd = ::open(tmp && *tmp ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (mErrorFd >= 0)
            posix_spawn_file_actions_adddup2(&setup.actions, mErrorFd, STDERR_FILENO);
    }

    // A group of its own, so that a stop reaches the tools the shell started too.
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&defaults, s);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);

    QByteArray commandBytes = mCommand.toUtf8();
    std::array<char*, 4> argv{const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                              commandBytes.data(), nullptr};
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, "/bin/sh", &setup.actions, &setup.attributes, argv.data(), environ);
    if (piped)
        ::close(pipeFds[1]);
    if (rc != 0) {
        if (piped)
            ::close(pipeFds[0]);
        throw WorkerException(std::string("cannot start /bin/sh: ") + std::strerror(rc));
    }
    mPid = pid;
    mReaped = false;
    mReadFd = piped ? pipeFds[0] : -1;
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
    QList<QByteArray> lines;
    for (const QByteArray& line : tail.replace('\r', '\n').split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(line.trimmed());
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
