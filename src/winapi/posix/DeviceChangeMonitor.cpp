#include "DeviceChangeMonitor.h"

#include "UnitDirectory.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace winapi::posix {

TDeviceChangeMonitor::TDeviceChangeMonitor(std::string directory, std::function<void()> onChange)
    : FOnChange(std::move(onChange)), FInotify(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
      FStop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (!FInotify.IsOpen() || !FStop.IsOpen()
        || inotify_add_watch(FInotify.Get(), directory.c_str(),
                             IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR)
            < 0) {
        DiagnoseOnce("cannot watch unit directory " + directory + ": device changes will not be seen");
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
}

void TDeviceChangeMonitor::Run()
{
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        pollfd fds[2] = {{FInotify.Get(), POLLIN, 0}, {FStop.Get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        bool changed = false;
        ssize_t got;
        while ((got = read(FInotify.Get(), buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && IsUnitSocketName(event->name))
                    changed = true;
                at += sizeof(inotify_event) + event->len;
            }
        }
        if (changed)
            FOnChange();
    }
}

} // namespace winapi::posix
