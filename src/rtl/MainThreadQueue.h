#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace rtl {

// The one road from other threads (device readers, device-source monitors) to the main
// thread. Anything may post; only the main thread runs what was posted. A front end
// installs a wake routine so that its loop notices new work; the console loop can instead
// block in WaitForWork.
class TMainThreadQueue {
public:
    using TRoutine = std::function<void()>;

    static TMainThreadQueue& Instance();

    // The thread that first asked for the queue is the main thread unless a front end says
    // otherwise before anything is posted.
    void SetMainThread(std::thread::id id = std::this_thread::get_id());
    bool IsMainThread() const;

    void Post(TRoutine routine);
    // Main thread, for tests: queued only once the running drain has ended, as if another
    // thread had posted it just then, so that two messages wait when the loop turns next.
    // Outside a drain it is posted at once.
    void PostNextTurn(TRoutine routine);

    // Main thread only: runs queued routines in order until the queue is empty. Returns how
    // many ran. An exception leaving a routine goes to the application's standard handling.
    std::size_t ProcessPending();

    // Blocks until something is queued or the time has passed; true when work is waiting.
    bool WaitForWork(std::chrono::milliseconds timeout);
    // Likewise until a point in time; without one, until something is queued.
    bool WaitForWorkUntil(std::optional<std::chrono::steady_clock::time_point> until);

    // Called on the posting thread after each post. Must not block.
    void SetWakeHandler(std::function<void()> wake);

    bool HasPending() const;

private:
    TMainThreadQueue();
    std::function<void()> WakeHandler() const;

    mutable std::mutex FLock;
    std::condition_variable FQueued;
    std::deque<TRoutine> FRoutines;
    // Main thread only.
    std::deque<TRoutine> FNextTurn;
    bool FDraining = false;
    std::function<void()> FWake;
    std::thread::id FMainThread;
};

} // namespace rtl
