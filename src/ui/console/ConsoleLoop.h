#pragma once

#include <chrono>
#include <memory>
#include <optional>

namespace console {

// The console's message loop: waits until something is queued for the main thread (or, on
// Windows, a window message arrives for the controller's hidden window) or the time is up,
// then runs what came.
class TConsoleLoop {
public:
    using Clock = std::chrono::steady_clock;

    TConsoleLoop();
    ~TConsoleLoop();
    TConsoleLoop(const TConsoleLoop&) = delete;
    TConsoleLoop& operator=(const TConsoleLoop&) = delete;

    void WaitAndDispatch(std::chrono::milliseconds timeout);
    // Nothing is queued for the main thread and no window message waits: a timer's step
    // may run, as a timer message would only now.
    static bool NothingWaiting();
    // Waits until the point in time, to the millisecond on every system; without one, only
    // for work.
    void WaitAndDispatchUntil(std::optional<Clock::time_point> until);

private:
    struct TPlatform;
    std::unique_ptr<TPlatform> FPlatform;
};

} // namespace console
