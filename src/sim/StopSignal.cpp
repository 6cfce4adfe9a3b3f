#include "StopSignal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

int StopReadFd = -1;
int StopWriteFd = -1;
std::atomic<bool> StopRequested{false};

void HandleStopSignal(int)
{
    const int savedErrno = errno;
    StopRequested.store(true);
    const char byte = 1;
    // The pipe is never drained, so one byte is enough and a full pipe is harmless.
    [[maybe_unused]] const ssize_t written = ::write(StopWriteFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

bool TStopSignal::Install(std::string& error)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot create the stop pipe: ") + std::strerror(errno);
        return false;
    }
    StopReadFd = fds[0];
    StopWriteFd = fds[1];

    struct sigaction action {};
    action.sa_handler = HandleStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0
        || sigaction(SIGPIPE, &ignore, nullptr) != 0) {
        error = std::string("cannot install signal handlers: ") + std::strerror(errno);
        return false;
    }
    return true;
}

int TStopSignal::StopFd()
{
    return StopReadFd;
}

bool TStopSignal::IsRequested()
{
    return StopRequested.load();
}

} // namespace sim
