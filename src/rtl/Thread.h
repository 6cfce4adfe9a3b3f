#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace rtl {

// A worker thread in the framework's manner: created suspended, started with Resume, asked to
// stop with Terminate. Synchronize hands a routine to the main thread and blocks until it has
// run there; WaitFor, on the main thread, keeps running such hand-overs while it waits, so a
// stop can never deadlock against a thread blocked in one.
class TThread {
public:
    explicit TThread(bool createSuspended);
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Asks the thread to stop and waits for it, if it was started.
    virtual ~TThread();

    void Resume();
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }

    // When set before the thread ends, the thread deletes its own object as it ends.
    void SetFreeOnTerminate(bool value) { FFreeOnTerminate = value; }
    bool FreeOnTerminate() const { return FFreeOnTerminate; }

    // Main thread: waits for the end, serving hand-overs meanwhile.
    void WaitFor();

    // The error that ended Execute, if any.
    std::exception_ptr FatalException() const { return FFatalException; }

    // Runs every hand-over waiting for the main thread; true when one ran. The main loop
    // does this through the main-thread queue; WaitFor does it directly.
    static bool CheckSynchronize();

protected:
    virtual void Execute() = 0;

    // Thread side: runs routine on the main thread and waits for it. An error thrown by the
    // routine is thrown again here.
    void Synchronize(const std::function<void()>& routine);

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FFreeOnTerminate{false};
    bool FStarted = false;
    std::exception_ptr FFatalException;
};

} // namespace rtl
