#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace rtl {

// A worker thread in the framework's manner: created suspended, started with Resume, asked to
// stop with Terminate. Synchronize hands a routine to the main thread and blocks until it has
// run there; WaitFor, on the main thread, keeps running such hand-overs while it waits, so a
// stop can never deadlock against a thread blocked in one.
//
// The owner stops the thread (Terminate, WaitFor) before destroying it: Execute belongs to the
// derived object, which is already gone when this base's destructor runs.
class TThread {
public:
    TThread() = default;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // A last resort for an owner that did not stop the thread: asks it to stop and waits.
    virtual ~TThread();

    void Resume();
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }

    // Main thread: waits for the end, serving hand-overs meanwhile.
    void WaitFor();

    // Runs every hand-over waiting for the main thread; true when one ran. The main loop
    // does this through the main-thread queue; WaitFor does it directly.
    static bool CheckSynchronize();

protected:
    // An exception that leaves it ends the thread and is reported on the main thread, through
    // the application's standard handling.
    virtual void Execute() = 0;

    // Thread side: runs routine on the main thread and waits for it. An error thrown by the
    // routine is thrown again here.
    void Synchronize(const std::function<void()>& routine);

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FStarted = false;
};

} // namespace rtl
