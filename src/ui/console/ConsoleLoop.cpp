#include "ConsoleLoop.h"

#include "rtl/MainThreadQueue.h"

#ifdef _WIN32
#include "rtl/PreciseTimer.h"

#include <windows.h>
#endif

namespace console {

#ifdef _WIN32
namespace {
HANDLE gQueued = nullptr;
}

// A plain wait time-out would round up to the system timer resolution.
struct TConsoleLoop::TPlatform {
    rtl::TPreciseTimer Timer;
};

TConsoleLoop::TConsoleLoop() : FPlatform(std::make_unique<TPlatform>())
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    queue.SetMainThread();
    gQueued = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    queue.SetWakeHandler([] { SetEvent(gQueued); });
}

TConsoleLoop::~TConsoleLoop()
{
    rtl::TMainThreadQueue::Instance().SetWakeHandler(nullptr);
    CloseHandle(gQueued);
    gQueued = nullptr;
}

void TConsoleLoop::WaitAndDispatch(std::chrono::milliseconds timeout)
{
    WaitAndDispatchUntil(Clock::now() + timeout);
}

bool TConsoleLoop::NothingWaiting()
{
    return !rtl::TMainThreadQueue::Instance().HasPending()
        && HIWORD(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE)) == 0;
}

void TConsoleLoop::WaitAndDispatchUntil(std::optional<Clock::time_point> until)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    if (!queue.HasPending() && (!until || *until > Clock::now())) {
        const HANDLE handles[] = {gQueued, static_cast<HANDLE>(FPlatform->Timer.Handle())};
        const bool timed = until && handles[1];
        DWORD timeout = INFINITE;
        if (timed)
            FPlatform->Timer.StartOnce(*until - Clock::now());
        else if (until)
            timeout = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count());
        MsgWaitForMultipleObjects(timed ? 2 : 1, handles, FALSE, timeout, QS_ALLINPUT);
        if (timed)
            FPlatform->Timer.Stop();
    }
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    queue.ProcessPending();
}
#else
struct TConsoleLoop::TPlatform {};

TConsoleLoop::TConsoleLoop()
{
    rtl::TMainThreadQueue::Instance().SetMainThread();
}

TConsoleLoop::~TConsoleLoop() = default;

bool TConsoleLoop::NothingWaiting()
{
    return !rtl::TMainThreadQueue::Instance().HasPending();
}

void TConsoleLoop::WaitAndDispatch(std::chrono::milliseconds timeout)
{
    WaitAndDispatchUntil(Clock::now() + timeout);
}

void TConsoleLoop::WaitAndDispatchUntil(std::optional<Clock::time_point> until)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    queue.WaitForWorkUntil(until);
    queue.ProcessPending();
}
#endif

} // namespace console
