#include "PreciseTimer.h"

#ifdef _WIN32

#include <windows.h>

#include <algorithm>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace rtl {

namespace {

using TTimePeriod = UINT(WINAPI*)(UINT);

// timeBeginPeriod and timeEndPeriod, from the system directory only; absent, nothing is raised.
struct TWinmm {
    TTimePeriod Begin = nullptr;
    TTimePeriod End = nullptr;
    TWinmm()
    {
        if (HMODULE module = LoadLibraryExA("winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            Begin =
                reinterpret_cast<TTimePeriod>(reinterpret_cast<void (*)()>(GetProcAddress(module, "timeBeginPeriod")));
            End = reinterpret_cast<TTimePeriod>(reinterpret_cast<void (*)()>(GetProcAddress(module, "timeEndPeriod")));
        }
    }
};

TWinmm& Winmm()
{
    static TWinmm winmm;
    return winmm;
}

} // namespace

TPreciseTimer::TPreciseTimer()
{
    FTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    FHighResolution = FTimer != nullptr;
    if (!FTimer)
        FTimer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
}

TPreciseTimer::~TPreciseTimer()
{
    Stop();
    if (FTimer)
        CloseHandle(FTimer);
}

void TPreciseTimer::StartOnce(std::chrono::steady_clock::duration delay)
{
    LARGE_INTEGER due;
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count() / 100;
    due.QuadPart = -std::max<LONGLONG>(ticks, 1); // relative, in 100 ns units
    RaiseResolution(true);
    SetWaitableTimer(FTimer, &due, 0, nullptr, nullptr, FALSE);
}

void TPreciseTimer::Stop()
{
    // A signal that came before the stop stays; the timer resets on the one wait it wakes.
    if (FTimer)
        CancelWaitableTimer(FTimer);
    RaiseResolution(false);
}

void TPreciseTimer::RaiseResolution(bool raise)
{
    if (FHighResolution || raise == FRaised)
        return;
    auto& winmm = Winmm();
    if (!winmm.Begin || !winmm.End)
        return;
    if (raise)
        winmm.Begin(1);
    else
        winmm.End(1);
    FRaised = raise;
}

} // namespace rtl

#endif
