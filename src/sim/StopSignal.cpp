#include "StopSignal.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/signalfd.h>

namespace sim {

namespace {

int StopReadFd = -1;

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

bool TStopSignal::Install(std::string& error)
{
    // Blocked, and taken as a descriptor that stays readable while the signal is pending: no
    // handler runs, so none can be held back (as a sanitizer's runtime may hold one back from a
    // thread in poll), and every thread made later inherits the mask.
    const sigset_t stop = StopSignals();
    if (const int failed = pthread_sigmask(SIG_BLOCK, &stop, nullptr); failed != 0) {
        error = std::string("cannot block the stop signals: ") + std::strerror(failed);
        return false;
    }
    StopReadFd = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    if (StopReadFd < 0) {
        error = std::string("cannot watch the stop signals: ") + std::strerror(errno);
        return false;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, nullptr) != 0) {
        error = std::string("cannot ignore SIGPIPE: ") + std::strerror(errno);
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
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

} // namespace sim
