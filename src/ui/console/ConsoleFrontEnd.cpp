#include "ConsoleFrontEnd.h"

#include "ConsoleLoop.h"
#include "ConsoleRun.h"
#include "SessionReport.h"

#include "hid/Hid.h"
#include "rtl/Application.h"

namespace console {

namespace {

using Clock = std::chrono::steady_clock;

// Runs sessions until they are done, the time is up, the user interrupts or the form closes.
int RunUntilDone(const TSessionOptions& options, TConsoleLoop& loop, TRunHooks& hooks, TConsolePeers& peers,
                 TSessionReporter& reporter, const bool& closed, std::ostream& err)
{
    const auto started = Clock::now();
    for (;;) {
        if (Interrupted())
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
        hooks.Tick(peers);
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
    TRunHooks hooks(err, closed);

    app::TForm1 form;
    TConsolePeers peers(form, options, out, err);
    hooks.SetActive(&peers);
    TSessionReporter reporter(form, options, err, options.Record.empty() ? nullptr : &record);
    if (!options.Devices.empty())
        form.SetUnitFilter([&options](const hid::THidDevice& device) { return DeviceChosen(options.Devices, device); });
    if (!hid::HidBound()) {
        err << "tolvane-cli: the HID libraries (HID.dll, SetupApi.dll) cannot be loaded" << std::endl;
        return ExitNoHid;
    }

    int exitCode = RunUntilDone(options, loop, hooks, peers, reporter, closed, err);
    if (exitCode == ExitInterrupted)
        reporter.RunEnded(TSessionEnding::Interrupted);
    else if (reporter.AnyFailed())
        exitCode = ExitFailed;
    return exitCode;
}

} // namespace console
