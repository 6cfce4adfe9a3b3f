#pragma once

#include "Handles.h"

#include <functional>
#include <string>
#include <thread>

namespace winapi::posix {

// Watches the unit directory and calls OnChange on its own thread whenever a unit is placed
// or taken out. Several changes read in one go give one call.
class TDeviceChangeMonitor {
public:
    TDeviceChangeMonitor(std::string directory, std::function<void()> onChange);
    TDeviceChangeMonitor(const TDeviceChangeMonitor&) = delete;
    TDeviceChangeMonitor& operator=(const TDeviceChangeMonitor&) = delete;
    ~TDeviceChangeMonitor();

private:
    void Run();

    std::function<void()> FOnChange;
    TFd FInotify;
    TFd FStop;
    std::thread FThread;
};

} // namespace winapi::posix
