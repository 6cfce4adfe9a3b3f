// Windows (or Wine): the pace a 1 ms step timer really keeps. SetTimer's WM_TIMER, which the
// system raises to at least 10 ms, against the waitable timer the window and tolvane-cli use.
// Prints the median and 99th percentile interval of each; it never fails on a timing.
//
//   wine bench-step-pace.exe

#include "rtl/PreciseTimer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Intervals = 300;

template <class Wait> std::vector<double> Measure(Wait wait)
{
    std::vector<double> intervals;
    auto last = Clock::now();
    for (int i = 0; i < Intervals; ++i) {
        wait();
        const auto now = Clock::now();
        intervals.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    std::sort(intervals.begin(), intervals.end());
    return intervals;
}

void Print(const char* what, const std::vector<double>& sorted)
{
    std::printf("%-40s p50 %6.2f ms   p99 %6.2f ms\n", what, sorted[sorted.size() / 2],
                sorted[sorted.size() * 99 / 100]);
}

} // namespace

int main()
{
    const UINT_PTR timer = SetTimer(nullptr, 0, 1, nullptr);
    Print("SetTimer(1 ms), WM_TIMER", Measure([] {
              MSG message;
              while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER) {
              }
          }));
    KillTimer(nullptr, timer);

    // As the window's loop uses it: armed for 1 ms again after each signal.
    rtl::TPreciseTimer precise;
    precise.StartOnce(std::chrono::milliseconds(1));
    Print(precise.HighResolution() ? "waitable timer (high resolution), 1 ms" : "waitable timer (fallback), 1 ms",
          Measure([&] {
              WaitForSingleObject(precise.Handle(), INFINITE);
              precise.StartOnce(std::chrono::milliseconds(1));
          }));
    precise.Stop();

    // A timer that fired and was then stopped must not stay signalled: the window's loop
    // waits on it and would spin.
    precise.StartOnce(std::chrono::milliseconds(1));
    Sleep(20);
    precise.Stop();
    // At most the one signal it had: an auto-reset timer gives it to the first wait only.
    int signals = 0;
    while (signals < 3 && WaitForSingleObject(precise.Handle(), 50) == WAIT_OBJECT_0)
        ++signals;
    std::printf("waits satisfied after a stop: %d%s\n", signals, signals > 1 ? " (the loop would spin)" : "");
    return 0;
}
