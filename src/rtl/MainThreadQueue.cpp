#include "MainThreadQueue.h"

#include "Application.h"

namespace rtl {

TMainThreadQueue& TMainThreadQueue::Instance()
{
    // Never destroyed: a thread of its own (a signal watcher, a device monitor) may still
    // post while the program's statics are torn down at exit.
    static TMainThreadQueue* queue = new TMainThreadQueue;
    return *queue;
}

TMainThreadQueue::TMainThreadQueue() : FMainThread(std::this_thread::get_id()) {}

void TMainThreadQueue::SetMainThread(std::thread::id id)
{
    std::lock_guard lock(FLock);
    FMainThread = id;
}

bool TMainThreadQueue::IsMainThread() const
{
    std::lock_guard lock(FLock);
    return std::this_thread::get_id() == FMainThread;
}

void TMainThreadQueue::Post(TRoutine routine)
{
    {
        std::lock_guard lock(FLock);
        FRoutines.push_back(std::move(routine));
    }
    const std::function<void()> wake = WakeHandler();
    FQueued.notify_all();
    if (wake)
        wake();
}

void TMainThreadQueue::PostNextTurn(TRoutine routine)
{
    if (FDraining)
        FNextTurn.push_back(std::move(routine));
    else
        Post(std::move(routine));
}

std::size_t TMainThreadQueue::ProcessPending()
{
    std::size_t ran = 0;
    const bool outer = !FDraining;
    bool deferred = false;
    FDraining = true;
    for (;;) {
        TRoutine routine;
        {
            std::lock_guard lock(FLock);
            if (FRoutines.empty()) {
                if (outer) {
                    FDraining = false;
                    deferred = !FNextTurn.empty();
                    while (!FNextTurn.empty()) {
                        TRoutine later = std::move(FNextTurn.front());
                        FNextTurn.pop_front();
                        FRoutines.push_back(std::move(later));
                    }
                }
                break;
            }
            routine = std::move(FRoutines.front());
            FRoutines.pop_front();
        }
        // One failing routine must not take the loop, or the routines after it, down.
        try {
            routine();
        } catch (...) {
            Application->HandleException(std::current_exception());
        }
        ++ran;
    }
    if (deferred) {
        FQueued.notify_all();
        if (auto wake = WakeHandler())
            wake();
    }
    return ran;
}

std::function<void()> TMainThreadQueue::WakeHandler() const
{
    std::lock_guard lock(FLock);
    return FWake;
}

bool TMainThreadQueue::WaitForWork(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(FLock);
    return FQueued.wait_for(lock, timeout, [this] { return !FRoutines.empty(); });
}

bool TMainThreadQueue::WaitForWorkUntil(std::optional<std::chrono::steady_clock::time_point> until)
{
    std::unique_lock lock(FLock);
    const auto queued = [this] { return !FRoutines.empty(); };
    if (!until) {
        FQueued.wait(lock, queued);
        return true;
    }
    return FQueued.wait_until(lock, *until, queued);
}

void TMainThreadQueue::SetWakeHandler(std::function<void()> wake)
{
    std::lock_guard lock(FLock);
    FWake = std::move(wake);
}

bool TMainThreadQueue::HasPending() const
{
    std::lock_guard lock(FLock);
    return !FRoutines.empty();
}

} // namespace rtl
