#include "ConsoleLoop.h"

#include "rtl/MainThreadQueue.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace console {

#ifdef _WIN32
namespace {
HANDLE gQueued = nullptr;
}

TConsoleLoop::TConsoleLoop()
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
    auto& queue = rtl::TMainThreadQueue::Instance();
    if (!queue.HasPending())
        MsgWaitForMultipleObjects(1, &gQueued, FALSE, static_cast<DWORD>(timeout.count()), QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    queue.ProcessPending();
}
#else
TConsoleLoop::TConsoleLoop()
{
    rtl::TMainThreadQueue::Instance().SetMainThread();
}

TConsoleLoop::~TConsoleLoop() = default;

void TConsoleLoop::WaitAndDispatch(std::chrono::milliseconds timeout)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    queue.WaitForWork(timeout);
    queue.ProcessPending();
}
#endif

} // namespace console
