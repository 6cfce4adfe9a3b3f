#include "UdevMonitor.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace winapi::posix {

namespace {
// Where a running udev daemon listens; libudev itself takes it as the sign of one.
constexpr const char* UdevControl = "/run/udev/control";
} // namespace

TUdevMonitor::TUdevMonitor(std::function<void()> onChange)
    : FOnChange(std::move(onChange)), FUdev(udev_new()), FStop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    const bool daemon = access(UdevControl, F_OK) == 0;
    // Only a fallback is worth a word: with a udev daemon all is as on any desktop.
    if (!(daemon && StartNetlink("udev"))) {
        if (StartNetlink("kernel")) {
            DiagnoseOnce(
                std::string(daemon ? "hidraw devices: udev events unavailable" : "hidraw devices: no udev daemon")
                + "; following kernel uevents");
        } else if (StartDevWatch()) {
            DiagnoseOnce("hidraw devices: no uevents; watching /dev");
        } else {
            DiagnoseOnce("hidraw devices: cannot watch for arrivals and removals; only the first scan sees them");
            return;
        }
    }
    if (FStop.IsOpen())
        FThread = std::thread([this] { Run(); });
}

TUdevMonitor::~TUdevMonitor()
{
    if (FThread.joinable()) {
        const std::uint64_t one = 1;
        if (write(FStop.Get(), &one, sizeof one) < 0) {
            // An eventfd write of 1 cannot fail short of a closed descriptor.
        }
        FThread.join();
    }
    if (FMonitor)
        udev_monitor_unref(FMonitor);
    if (FUdev)
        udev_unref(FUdev);
}

bool TUdevMonitor::StartNetlink(const char* source)
{
    if (!FUdev)
        return false;
    FMonitor = udev_monitor_new_from_netlink(FUdev, source);
    if (FMonitor && udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "hidraw", nullptr) >= 0
        && udev_monitor_enable_receiving(FMonitor) >= 0)
        return true;
    if (FMonitor)
        udev_monitor_unref(FMonitor);
    FMonitor = nullptr;
    return false;
}

bool TUdevMonitor::StartDevWatch()
{
    FInotify = TFd(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    return FInotify.IsOpen() && inotify_add_watch(FInotify.Get(), "/dev", IN_CREATE | IN_DELETE | IN_ONLYDIR) >= 0;
}

// Reads what is waiting; true when a hidraw node came or went.
bool TUdevMonitor::Drain()
{
    bool changed = false;
    if (FMonitor) {
        while (udev_device* device = udev_monitor_receive_device(FMonitor)) {
            changed = true;
            udev_device_unref(device);
        }
        return changed;
    }
    alignas(inotify_event) char buffer[4096];
    ssize_t got;
    while ((got = read(FInotify.Get(), buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && std::strncmp(event->name, "hidraw", 6) == 0)
                changed = true;
            at += sizeof(inotify_event) + event->len;
        }
    }
    return changed;
}

void TUdevMonitor::Run()
{
    const int source = FMonitor ? udev_monitor_get_fd(FMonitor) : FInotify.Get();
    for (;;) {
        pollfd fds[2] = {{source, POLLIN, 0}, {FStop.Get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (Drain())
            FOnChange();
    }
}

} // namespace winapi::posix
