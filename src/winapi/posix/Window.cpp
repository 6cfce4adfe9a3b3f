// Window classes, windows and posted messages, enough for a hidden notification window.
// Window procedures run on the main thread only, through the main-thread queue; device
// changes of every source are broadcast to all top-level windows as on Windows.

#include "DeviceChangeMonitor.h"
#include "Handles.h"
#include "UdevMonitor.h"
#include "VirtualUnitSource.h"

#include "rtl/AnsiString.h"
#include "rtl/MainThreadQueue.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace winapi::posix;

namespace {

struct TWindow {
    WNDPROC Procedure;
    LONG_PTR UserData = 0;
    bool TopLevel;
    // A device-change broadcast is posted to it and not yet delivered: later changes ride on
    // it, since the rescan it starts sees them too.
    bool BroadcastPending = false;
};

using TimerClock = std::chrono::steady_clock;

struct TWindowTimer {
    TimerClock::duration Interval;
    TimerClock::time_point Due;
    // Like the system's, a timer has at most one WM_TIMER waiting.
    bool Posted = false;
};

struct TWindowing {
    std::mutex Lock;
    std::map<std::string, WNDPROC> Classes;
    std::map<HWND, TWindow> Windows;
    std::map<std::pair<HWND, UINT_PTR>, TWindowTimer> Timers;
    std::condition_variable TimersChanged;
    bool TimerThreadRuns = false;
    std::uintptr_t NextWindow = 0x10010;
    std::unique_ptr<TDeviceChangeMonitor> Monitor;
    std::unique_ptr<TUdevMonitor> HidrawMonitor;
};

TWindowing& Windowing()
{
    // Never destroyed: a device monitor may still broadcast while statics are torn down.
    static TWindowing* windowing = new TWindowing;
    return *windowing;
}

std::string ClassKey(LPCSTR name)
{
    return rtl::LowerCase(name ? name : "");
}

// Finds the window's procedure at delivery time: a window destroyed after the post gets
// nothing.
bool Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC procedure = nullptr;
    {
        auto& windowing = Windowing();
        std::lock_guard lock(windowing.Lock);
        const auto found = windowing.Windows.find(window);
        if (found == windowing.Windows.end())
            return false;
        procedure = found->second.Procedure;
    }
    procedure(window, message, wParam, lParam);
    return true;
}

void DeliverBroadcast(HWND window)
{
    WNDPROC procedure = nullptr;
    {
        auto& windowing = Windowing();
        std::lock_guard lock(windowing.Lock);
        const auto found = windowing.Windows.find(window);
        if (found == windowing.Windows.end())
            return;
        // From here on a change may come after the rescan looked: it needs a broadcast of its own.
        found->second.BroadcastPending = false;
        procedure = found->second.Procedure;
    }
    procedure(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

// One broadcast pending per window, however many changes come while it waits in the queue:
// each rescan costs the main thread, and a burst of changes must not queue one rescan each.
void BroadcastDeviceChange()
{
    std::vector<HWND> targets;
    {
        auto& windowing = Windowing();
        std::lock_guard lock(windowing.Lock);
        for (auto& [window, state] : windowing.Windows)
            if (state.TopLevel && !state.BroadcastPending) {
                state.BroadcastPending = true;
                targets.push_back(window);
            }
    }
    for (HWND window : targets)
        rtl::TMainThreadQueue::Instance().Post([window] { DeliverBroadcast(window); });
}

std::size_t TopLevelCount(const TWindowing& windowing)
{
    std::size_t count = 0;
    for (const auto& [window, state] : windowing.Windows)
        count += state.TopLevel;
    return count;
}

void DeliverTimer(HWND window, UINT_PTR id)
{
    {
        auto& windowing = Windowing();
        std::lock_guard lock(windowing.Lock);
        const auto found = windowing.Timers.find({window, id});
        if (found == windowing.Timers.end())
            return;
        found->second.Posted = false;
        windowing.TimersChanged.notify_all();
    }
    Deliver(window, WM_TIMER, id, 0);
}

// Posts each due timer's WM_TIMER to the main thread; lives as long as the process.
void RunTimers()
{
    auto& windowing = Windowing();
    std::unique_lock lock(windowing.Lock);
    for (;;) {
        std::vector<std::pair<HWND, UINT_PTR>> due;
        std::optional<TimerClock::time_point> next;
        const auto now = TimerClock::now();
        for (auto& [key, timer] : windowing.Timers) {
            if (timer.Posted)
                continue;
            if (timer.Due <= now) {
                timer.Posted = true;
                timer.Due = now + timer.Interval;
                due.push_back(key);
            } else if (!next || timer.Due < *next) {
                next = timer.Due;
            }
        }
        if (!due.empty()) {
            lock.unlock();
            for (const auto& key : due)
                rtl::TMainThreadQueue::Instance().Post([key] { DeliverTimer(key.first, key.second); });
            lock.lock();
            continue;
        }
        if (next)
            windowing.TimersChanged.wait_until(lock, *next);
        else
            windowing.TimersChanged.wait(lock);
    }
}

void DropTimers(TWindowing& windowing, HWND window)
{
    for (auto it = windowing.Timers.begin(); it != windowing.Timers.end();)
        it = it->first.first == window ? windowing.Timers.erase(it) : std::next(it);
}

} // namespace

ATOM RegisterClassA(const WNDCLASSA* lpWndClass)
{
    if (!lpWndClass || !lpWndClass->lpfnWndProc || !lpWndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    if (!windowing.Classes.emplace(ClassKey(lpWndClass->lpszClassName), lpWndClass->lpfnWndProc).second) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    return static_cast<ATOM>(0xC000 + windowing.Classes.size());
}

BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    return windowing.Classes.erase(ClassKey(lpClassName)) ? TRUE : Fail(ERROR_CLASS_DOES_NOT_EXIST);
}

HWND CreateWindowExA(DWORD, LPCSTR lpClassName, LPCSTR, DWORD, int, int, int, int, HWND hWndParent, HMENU, HINSTANCE,
                     LPVOID)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    const auto found = windowing.Classes.find(ClassKey(lpClassName));
    if (found == windowing.Classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    // Message-only windows and child windows receive no broadcasts.
    const bool topLevel = hWndParent == nullptr;
    if (hWndParent && hWndParent != HWND_MESSAGE && !windowing.Windows.count(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const auto window = reinterpret_cast<HWND>(windowing.NextWindow);
    windowing.NextWindow += 2;
    windowing.Windows[window] = {found->second, 0, topLevel, false};
    if (topLevel && !windowing.Monitor && DeviceSourceEnabled(TDeviceSource::Virtual)) {
        TVirtualUnitSource units;
        if (units.IsUsable())
            windowing.Monitor = std::make_unique<TDeviceChangeMonitor>(units.Directory(), BroadcastDeviceChange);
    }
    if (topLevel && !windowing.HidrawMonitor && DeviceSourceEnabled(TDeviceSource::Hidraw))
        windowing.HidrawMonitor = std::make_unique<TUdevMonitor>(BroadcastDeviceChange);
    SetLastError(ERROR_SUCCESS);
    return window;
}

BOOL DestroyWindow(HWND hWnd)
{
    std::unique_ptr<TDeviceChangeMonitor> monitor;
    std::unique_ptr<TUdevMonitor> hidrawMonitor;
    {
        auto& windowing = Windowing();
        std::lock_guard lock(windowing.Lock);
        if (!windowing.Windows.erase(hWnd))
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        DropTimers(windowing, hWnd);
        if (TopLevelCount(windowing) == 0) {
            monitor = std::move(windowing.Monitor);
            hidrawMonitor = std::move(windowing.HidrawMonitor);
        }
    }
    // The monitors' threads are joined outside the lock: they may be about to post a broadcast.
    monitor.reset();
    hidrawMonitor.reset();
    return TRUE;
}

BOOL IsWindow(HWND hWnd)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    return windowing.Windows.count(hWnd) ? TRUE : FALSE;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!IsWindow(hWnd))
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    rtl::TMainThreadQueue::Instance().Post([=] { Deliver(hWnd, Msg, wParam, lParam); });
    return TRUE;
}

LRESULT DefWindowProcA(HWND, UINT Msg, WPARAM, LPARAM)
{
    // A device-change notice is granted by default, as on Windows.
    return Msg == WM_DEVICECHANGE ? TRUE : 0;
}

namespace {

// The window's user-data slot, the only one kept; null with the last error set otherwise.
// The caller holds the windowing lock.
LONG_PTR* UserDataSlot(TWindowing& windowing, HWND window, int index)
{
    const auto found = windowing.Windows.find(window);
    if (found == windowing.Windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (index != GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &found->second.UserData;
}

} // namespace

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    LONG_PTR* slot = UserDataSlot(windowing, hWnd, nIndex);
    if (!slot)
        return 0;
    SetLastError(ERROR_SUCCESS);
    const LONG_PTR previous = *slot;
    *slot = dwNewLong;
    return previous;
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    const LONG_PTR* slot = UserDataSlot(windowing, hWnd, nIndex);
    return slot ? *slot : 0;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    if (!hWnd || !windowing.Windows.count(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpTimerFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The system's shortest period, USER_TIMER_MINIMUM.
    const auto interval = std::chrono::milliseconds(uElapse < 10 ? 10 : uElapse);
    auto& timer = windowing.Timers[{hWnd, nIDEvent}];
    timer.Interval = interval;
    timer.Due = TimerClock::now() + interval;
    if (!windowing.TimerThreadRuns) {
        std::thread(RunTimers).detach();
        windowing.TimerThreadRuns = true;
    }
    windowing.TimersChanged.notify_all();
    return nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    auto& windowing = Windowing();
    std::lock_guard lock(windowing.Lock);
    if (!windowing.Timers.erase({hWnd, uIDEvent}))
        return Fail(ERROR_INVALID_PARAMETER);
    windowing.TimersChanged.notify_all();
    return TRUE;
}
