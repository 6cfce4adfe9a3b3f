#include "DeviceChangeMonitor.h"

#include "SubstituteCounters.h"
#include "UnitDirectory.h"
#include "UnitRegistry.h"

#include "rtl/ProgramName.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace winapi::posix {

namespace {

// How often a directory that went away is looked for.
constexpr int GoneLookMs = 250;
constexpr std::uint32_t DirectoryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

TDeviceChangeMonitor::TDeviceChangeMonitor(std::string directory, std::function<void()> onChange)
    : FDirectory(std::move(directory)), FOnChange(std::move(onChange)),
      FInotify(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)), FStop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (!FInotify.IsOpen() || !FStop.IsOpen() || !WatchDirectory()) {
        DiagnoseOnce("cannot watch unit directory " + FDirectory + ": device changes will not be seen");
        return;
    }
    FThread = std::thread([this] { Run(); });
}

TDeviceChangeMonitor::~TDeviceChangeMonitor()
{
    if (FThread.joinable()) {
        const std::uint64_t one = 1;
        if (write(FStop.Get(), &one, sizeof one) < 0) {
            // An eventfd write of 1 cannot fail short of a closed descriptor.
        }
        FThread.join();
    }
    TUnitRegistry::Instance().Unwatched(FDirectory);
}

bool TDeviceChangeMonitor::WatchDirectory()
{
    // A directory that came back must pass the same checks as at the start.
    if (const auto problem = CheckUnitDirectory(FDirectory)) {
        if (*problem != "it does not exist")
            DiagnoseOnce("unit directory " + FDirectory + " is ignored: " + *problem);
        return false;
    }
    FWatch = inotify_add_watch(FInotify.Get(), FDirectory.c_str(), DirectoryEvents);
    if (FWatch < 0)
        return false;
    TUnitRegistry::Instance().Watching(FDirectory);
    return true;
}

bool TDeviceChangeMonitor::ReadEvents(std::uint64_t& events)
{
    alignas(inotify_event) char buffer[8192];
    bool changed = false;
    ssize_t got;
    while ((got = read(FInotify.Get(), buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            ++events;
            if (event->len > 0 && IsUnitSocketName(event->name)) {
                // The name may now stand for a new socket that looks like the old one.
                TUnitRegistry::Instance().Named(FDirectory + "/" + event->name);
                changed = true;
            }
            if (event->mask & IN_Q_OVERFLOW) {
                TUnitRegistry::Instance().NamedAll();
                changed = true;
            }
            // Removed or moved away: its units are gone with it, and the watch is no use.
            if (FWatch >= 0 && event->wd == FWatch && (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
                inotify_rm_watch(FInotify.Get(), FWatch);
                FWatch = -1;
                TUnitRegistry::Instance().Unwatched(FDirectory);
                changed = true;
                std::fprintf(stderr, "%s: unit directory %s is gone; waiting for it to come back\n", rtl::ProgramName(),
                             FDirectory.c_str());
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
    return changed;
}

void TDeviceChangeMonitor::Run()
{
    std::vector<pollfd> fds;
    for (;;) {
        fds = {{FInotify.Get(), POLLIN, 0}, {FStop.Get(), POLLIN, 0}};
        int timeout = FUnits.Collect(fds);
        if (FWatch < 0)
            timeout = timeout < 0 ? GoneLookMs : std::min(timeout, GoneLookMs);
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        std::uint64_t events = 0;
        bool changed = fds[0].revents && ReadEvents(events);
        // Back again: units may lie in it already, under the names of old ones.
        if (FWatch < 0 && WatchDirectory())
            changed = true;
        changed |= FUnits.Service(&fds[2]);
        if (changed)
            FOnChange();
        SubstituteCounters().DirectoryEvents += events;
    }
}

} // namespace winapi::posix
