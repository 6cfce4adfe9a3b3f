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
    std::function<void()> wake;
    {
        std::lock_guard lock(FLock);
        FRoutines.push_back(std::move(routine));
        wake = FWake;
    }
    FQueued.notify_all();
    if (wake)
        wake();
}

std::size_t TMainThreadQueue::ProcessPending()
{
    std::size_t ran = 0;
    for (;;) {
        TRoutine routine;
        {
            std::lock_guard lock(FLock);
            if (FRoutines.empty())
                return ran;
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
}

bool TMainThreadQueue::WaitForWork(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(FLock);
    return FQueued.wait_for(lock, timeout, [this] { return !FRoutines.empty(); });
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
