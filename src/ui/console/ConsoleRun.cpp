#include "ConsoleRun.h"

#include "rtl/Application.h"
#include "rtl/MainThreadQueue.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

namespace console {

namespace {

std::atomic<bool> gInterrupted{false};

void Interrupt()
{
    gInterrupted = true;
    rtl::TMainThreadQueue::Instance().Post([] {});
}

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and closing the console come on a thread of the system's; the main
// loop then ends the run cleanly.
BOOL WINAPI ConsoleControl(DWORD)
{
    Interrupt();
    return TRUE;
}
#endif

} // namespace

#ifdef _WIN32
void WatchSignals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        SetConsoleCtrlHandler(ConsoleControl, TRUE);
        SetConsoleOutputCP(CP_UTF8);
    });
}
#else
// SIGINT and SIGTERM are taken by a thread of their own, which wakes the main loop; the main
// thread then ends the run cleanly.
void WatchSignals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::thread([signals] {
            for (;;) {
                int received = 0;
                if (sigwait(&signals, &received) == 0)
                    Interrupt();
            }
        }).detach();
    });
}
#endif

bool Interrupted()
{
    return gInterrupted;
}

bool OpenRecord(const TSessionOptions& options, TRecordFile& record, std::ostream& err)
{
    std::string error;
    if (options.Record.empty() || record.Open(options.Record, error))
        return true;
    err << "tolvane-cli: cannot open the record " << options.Record << ": " << error << std::endl;
    return false;
}

TDeadline::TDeadline(const TSessionOptions& options)
{
    if (options.Timeout)
        FEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(*options.Timeout);
}

std::optional<TDeadline::Clock::time_point> TDeadline::Limit(std::optional<Clock::time_point> wake) const
{
    if (!FEnd)
        return wake;
    return wake ? std::min(*wake, *FEnd) : *FEnd;
}

TRunHooks::TRunHooks(std::ostream& err, bool& closed) : FErr(err)
{
    rtl::Application->SetTerminateHook([&closed] { closed = true; });
    rtl::Application->SetMessageBoxHook(
        [this](const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags) {
            return FActive ? FActive->Answer(text, caption, flags) : rtl::IdCancel;
        });
    rtl::Application->SetExceptionHook([this](const rtl::AnsiString& message) {
        FErr << (FActive ? FActive->Prefix() : std::string()) << "tolvane-cli: exception: " << OneLine(message)
             << std::endl;
        if (FActive)
            FActive->Form().Log("Exception : " + message);
    });
}

TRunHooks::~TRunHooks()
{
    rtl::Application->SetExceptionHook(nullptr);
    rtl::Application->SetMessageBoxHook(nullptr);
    rtl::Application->SetTerminateHook(nullptr);
}

void TRunHooks::Tick(TConsolePeers& peers)
{
    TConsolePeers* outer = FActive;
    FActive = &peers;
    try {
        peers.TickIfDue();
    } catch (...) {
        rtl::Application->HandleException(std::current_exception());
    }
    FActive = outer;
}

void Turn(TConsoleLoop& loop, TRunHooks& hooks, TConsolePeers& peers, const TDeadline& deadline)
{
    // Nothing to wait for but work: no wake-up at all until something is queued.
    loop.WaitAndDispatchUntil(deadline.Limit(peers.NextWake()));
    hooks.Tick(peers);
}

} // namespace console
