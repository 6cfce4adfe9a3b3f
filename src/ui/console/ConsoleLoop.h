#pragma once

#include <chrono>

namespace console {

// The console's message loop: waits until something is queued for the main thread (or, on
// Windows, a window message arrives for the controller's hidden window) or the time is up,
// then runs what came.
class TConsoleLoop {
public:
    TConsoleLoop();
    ~TConsoleLoop();
    TConsoleLoop(const TConsoleLoop&) = delete;
    TConsoleLoop& operator=(const TConsoleLoop&) = delete;

    void WaitAndDispatch(std::chrono::milliseconds timeout);
};

} // namespace console
