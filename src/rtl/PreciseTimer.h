#pragma once

#ifdef _WIN32

#include <chrono>

namespace rtl {

// A waitable timer with millisecond precision. On Windows SetTimer raises any interval under
// 10 ms to 10 ms, and wait time-outs run at the system timer resolution (15.6 ms on a stock
// system), which would cost a whole period per step. A high-resolution waitable timer keeps
// the pace; where the system lacks one, the timer resolution is raised to 1 ms through
// winmm.dll while the timer is set, and lowered again as soon as it is not.
class TPreciseTimer {
public:
    TPreciseTimer();
    ~TPreciseTimer();
    TPreciseTimer(const TPreciseTimer&) = delete;
    TPreciseTimer& operator=(const TPreciseTimer&) = delete;

    // Signalled once, after delay, until started again or stopped. A periodic timer would
    // need the system to reset it on each wait, which Wine's high-resolution timer does not.
    void StartOnce(std::chrono::steady_clock::duration delay);
    void Stop();
    // The timer's HANDLE, to wait on.
    void* Handle() const { return FTimer; }
    bool HighResolution() const { return FHighResolution; }

private:
    void RaiseResolution(bool raise);

    void* FTimer = nullptr;
    bool FHighResolution = false;
    bool FRaised = false;
};

} // namespace rtl

#endif
