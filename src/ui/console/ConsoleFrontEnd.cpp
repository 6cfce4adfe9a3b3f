#include "ConsoleFrontEnd.h"

#include "ConsoleLoop.h"
#include "ConsoleText.h"
#include "SessionReport.h"

#include "hid/Hid.h"
#include "rtl/Application.h"
#include "rtl/CodePage.h"
#include "rtl/MainThreadQueue.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

namespace console {

namespace {

using Clock = std::chrono::steady_clock;

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

// One terminal line, whatever a unit put into the text.
std::string OneLine(const rtl::AnsiString& text)
{
    return EscapeControls(rtl::Utf8FromCp932(text));
}

class TConsolePeers : public app::TFormPeer {
public:
    TConsolePeers(app::TForm1& form, const TSessionOptions& options, std::ostream& out, std::ostream& err)
        : FForm(form), FOptions(options), FOut(out), FErr(err)
    {
        form.SetPeer(this);
        CaptionChanged(*form.Label1);
        TimerChanged(*form.Timer1);
        rtl::Application->SetMessageBoxHook([this](const rtl::AnsiString& text, const rtl::AnsiString& caption,
                                                   unsigned flags) { return Answer(text, caption, flags); });
    }
    ~TConsolePeers() override
    {
        rtl::Application->SetMessageBoxHook(nullptr);
        FForm.SetPeer(nullptr);
    }

    void CaptionChanged(rtl::TLabel& label) override { FErr << "status: " << OneLine(label.Caption()) << std::endl; }

    void LineAdded(rtl::TMemo& memo, const rtl::AnsiString& line) override
    {
        if (&memo == FForm.Memo1.get())
            FOut << OneLine(line) << std::endl;
    }

    void LinesChanged(rtl::TMemo& memo) override
    {
        if (&memo != FForm.Memo2.get())
            return;
        const auto& lines = memo.Lines();
        FErr << "identity: " << (lines.size() > 0 ? OneLine(lines[0]) : "") << " | "
             << (lines.size() > 1 ? OneLine(lines[1]) : "") << std::endl;
    }

    void TimerChanged(rtl::TTimer& timer) override
    {
        FNextTick = Clock::now() + std::chrono::milliseconds(timer.Interval());
    }

    void TickSoon(rtl::TTimer&) override { FTickSoon = true; }

    // Bound to the form's OnUnitInUse: said once for each unit.
    void UnitInUse(rtl::TObject*)
    {
        for (const std::string& path : FForm.UnitsInUse())
            if (FInUseTold.insert(path).second)
                FErr << "tolvane-cli: the unit at " << EscapeControls(path)
                     << " is in use by another process; waiting for it" << std::endl;
    }

    // When the loop must wake for the timer next: at once for an asked tick, at the next
    // period while armed, never while it rests.
    std::optional<Clock::time_point> NextWake() const
    {
        if (FTickSoon)
            return Clock::now();
        if (FForm.Timer1->Armed())
            return FNextTick;
        return std::nullopt;
    }

    // Runs the tick that is due, if any; a period restarts from the tick.
    void TickIfDue()
    {
        rtl::TTimer& timer = *FForm.Timer1;
        const bool periodDue = timer.Armed() && Clock::now() >= FNextTick;
        if (!FTickSoon && !periodDue)
            return;
        FTickSoon = false;
        if (periodDue)
            TimerChanged(timer);
        timer.Tick();
    }

private:
    int Answer(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned)
    {
        if (caption != app::ConfirmationCaption)
            return rtl::IdOk;
        const bool yes = rtl::Contains(text, "RGINFO.INI") ? FOptions.ReadInfo : FOptions.WriteSerial;
        FErr << "confirm: " << OneLine(rtl::StringReplaceAll(text, "\r\n", " ")) << " -> " << (yes ? "OK" : "Cancel")
             << std::endl;
        return yes ? rtl::IdOk : rtl::IdCancel;
    }

    app::TForm1& FForm;
    const TSessionOptions& FOptions;
    std::ostream& FOut;
    std::ostream& FErr;
    Clock::time_point FNextTick = Clock::now();
    bool FTickSoon = false;
    std::set<std::string> FInUseTold;
};

// Runs sessions until they are done, the time is up, the user interrupts or the form closes.
int RunUntilDone(const TSessionOptions& options, TConsoleLoop& loop, TConsolePeers& peers, TSessionReporter& reporter,
                 const bool& closed, std::ostream& err)
{
    const auto started = Clock::now();
    for (;;) {
        if (gInterrupted)
            return ExitInterrupted;
        if (closed || (options.Sessions > 0 && reporter.FinishedSessions() >= options.Sessions))
            return ExitDone;
        // Nothing to wait for but work: no wake-up at all until something is queued.
        std::optional<Clock::time_point> wake = peers.NextWake();
        if (options.Timeout) {
            const auto end = started + std::chrono::duration_cast<Clock::duration>(*options.Timeout);
            if (Clock::now() >= end) {
                err << "tolvane-cli: timed out" << std::endl;
                reporter.RunEnded(TSessionEnding::TimedOut);
                return ExitTimeout;
            }
            wake = wake ? std::min(*wake, end) : end;
        }
        loop.WaitAndDispatchUntil(wake);
        try {
            peers.TickIfDue();
        } catch (...) {
            rtl::Application->HandleException(std::current_exception());
        }
    }
}

} // namespace

int RunSessions(const TSessionOptions& options, std::ostream& out, std::ostream& err)
{
    TRecordFile record;
    if (!options.Record.empty()) {
        std::string error;
        if (!record.Open(options.Record, error)) {
            err << "tolvane-cli: cannot open the record " << options.Record << ": " << error << std::endl;
            return ExitUsage;
        }
    }
    WatchSignals();
    TConsoleLoop loop;
    bool closed = false;
    rtl::Application->SetTerminateHook([&closed] { closed = true; });

    app::TForm1 form;
    TConsolePeers peers(form, options, out, err);
    TSessionReporter reporter(form, options, err, options.Record.empty() ? nullptr : &record);
    form.OnSessionEnd = rtl::TNotifyEvent::Of<&TSessionReporter::SessionEnded>(&reporter);
    form.OnUnitInUse = rtl::TNotifyEvent::Of<&TConsolePeers::UnitInUse>(&peers);
    if (!hid::HidBound()) {
        err << "tolvane-cli: the HID libraries (HID.dll, SetupApi.dll) cannot be loaded" << std::endl;
        return ExitNoHid;
    }
    rtl::Application->SetExceptionHook([&](const rtl::AnsiString& message) {
        err << "tolvane-cli: exception: " << OneLine(message) << std::endl;
        form.Log("Exception : " + message);
    });

    int exitCode = RunUntilDone(options, loop, peers, reporter, closed, err);
    if (exitCode == ExitInterrupted)
        reporter.RunEnded(TSessionEnding::Interrupted);
    else if (reporter.AnyFailed())
        exitCode = ExitFailed;
    rtl::Application->SetExceptionHook(nullptr);
    rtl::Application->SetTerminateHook(nullptr);
    return exitCode;
}

} // namespace console
