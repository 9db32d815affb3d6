#include "TerminationSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};
std::array<int, 2> gPipe{-1, -1};

void onSignal(int number)
{
    // Only what is safe in a handler: the next such signal is not caught.
    const int saved = errno;
    ::signal(number, SIG_DFL);
    const auto byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (gPipe[0] < 0 && ::pipe2(gPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    mNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (int number : kSignals)
        ::signal(number, SIG_DFL);
}

void TerminationSignals::readPipe()
{
    char byte = 0;
    while (::read(gPipe[0], &byte, 1) == 1)
        Q_EMIT arrived(static_cast<unsigned char>(byte));
}
