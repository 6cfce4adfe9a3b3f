#include "Thread.h"

#include "MainThreadQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace rtl {

namespace {

struct THandOver {
    const std::function<void()>* Routine;
    std::exception_ptr Error;
    bool Done = false;
};

// Hand-overs wait here rather than in the general queue so that WaitFor can run them
// without also running window messages in the middle of a stop.
struct TSynchronizer {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<THandOver*> Waiting;
};

TSynchronizer& Synchronizer()
{
    // Never destroyed: a reader may still finish while the program's statics are torn down.
    static TSynchronizer* synchronizer = new TSynchronizer;
    return *synchronizer;
}

} // namespace

TThread::~TThread()
{
    if (FThread.joinable()) {
        Terminate();
        WaitFor();
    }
}

void TThread::Resume()
{
    if (FStarted)
        return;
    // Started only once the thread exists: a thread that could not be created is never
    // waited for.
    FThread = std::thread([this] { Run(); });
    FStarted = true;
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        // Nobody on this thread can report it; the main thread does, and carries on.
        try {
            TMainThreadQueue::Instance().Post([error = std::current_exception()] { std::rethrow_exception(error); });
        } catch (...) {
        }
    }
    {
        auto& sync = Synchronizer();
        std::lock_guard lock(sync.Lock);
        FFinished = true;
    }
    Synchronizer().Changed.notify_all();
}

void TThread::WaitFor()
{
    if (!FStarted)
        return;
    auto& sync = Synchronizer();
    for (;;) {
        CheckSynchronize();
        std::unique_lock lock(sync.Lock);
        if (FFinished)
            break;
        sync.Changed.wait(lock, [&] { return FFinished || !sync.Waiting.empty(); });
    }
    if (FThread.joinable())
        FThread.join();
}

void TThread::Synchronize(const std::function<void()>& routine)
{
    THandOver handOver{&routine, nullptr, false};
    auto& sync = Synchronizer();
    {
        std::lock_guard lock(sync.Lock);
        sync.Waiting.push_back(&handOver);
    }
    sync.Changed.notify_all();
    TMainThreadQueue::Instance().Post([] { CheckSynchronize(); });
    std::unique_lock lock(sync.Lock);
    sync.Changed.wait(lock, [&] { return handOver.Done; });
    if (handOver.Error)
        std::rethrow_exception(handOver.Error);
}

bool TThread::CheckSynchronize()
{
    auto& sync = Synchronizer();
    bool ran = false;
    for (;;) {
        THandOver* handOver;
        {
            std::lock_guard lock(sync.Lock);
            if (sync.Waiting.empty())
                return ran;
            handOver = sync.Waiting.front();
            sync.Waiting.pop_front();
        }
        try {
            (*handOver->Routine)();
        } catch (...) {
            handOver->Error = std::current_exception();
        }
        {
            std::lock_guard lock(sync.Lock);
            handOver->Done = true;
        }
        sync.Changed.notify_all();
        ran = true;
    }
}

} // namespace rtl
