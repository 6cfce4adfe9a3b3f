#pragma once

#include "Handles.h"
#include "UnitWatch.h"

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace winapi::posix {

// Watches the unit directory and the units met in it, and calls OnChange on its own thread
// whenever a unit is placed, taken out, greets late or dies. Several changes read in one go
// give one call; hidden names (a placement's bind name, lock files) give none. A directory
// removed while watched is watched again once it is back.
class TDeviceChangeMonitor {
public:
    TDeviceChangeMonitor(std::string directory, std::function<void()> onChange);
    TDeviceChangeMonitor(const TDeviceChangeMonitor&) = delete;
    TDeviceChangeMonitor& operator=(const TDeviceChangeMonitor&) = delete;
    ~TDeviceChangeMonitor();

private:
    void Run();
    // True when the directory is watched now.
    bool WatchDirectory();
    // Reads the directory's events: true when units changed; clears FWatch when it went.
    // Counts the events read in `events`.
    bool ReadEvents(std::uint64_t& events);

    std::string FDirectory;
    std::function<void()> FOnChange;
    TFd FInotify;
    TFd FStop;
    int FWatch = -1;
    TUnitWatch FUnits;
    std::thread FThread;
};

} // namespace winapi::posix
