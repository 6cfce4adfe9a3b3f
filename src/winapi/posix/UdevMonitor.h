#pragma once

#include "Handles.h"

#include <functional>
#include <thread>

struct udev;
struct udev_monitor;

namespace winapi::posix {

// Watches hidraw nodes come and go and calls OnChange on its own thread. With a udev daemon
// it follows udev's events, which come after the rules (permissions) are applied; without
// one it follows the kernel's uevents, and failing those, /dev. It says once which.
class TUdevMonitor {
public:
    explicit TUdevMonitor(std::function<void()> onChange);
    TUdevMonitor(const TUdevMonitor&) = delete;
    TUdevMonitor& operator=(const TUdevMonitor&) = delete;
    ~TUdevMonitor();

private:
    bool StartNetlink(const char* source);
    bool StartDevWatch();
    void Run();
    bool Drain();

    std::function<void()> FOnChange;
    udev* FUdev = nullptr;
    udev_monitor* FMonitor = nullptr;
    TFd FInotify;
    TFd FStop;
    std::thread FThread;
};

} // namespace winapi::posix
