#include "ConsoleFrontEnd.h"

#include "ConsoleLoop.h"
#include "ConsoleRun.h"
#include "SessionReport.h"

#include "hid/Hid.h"
#include "rtl/Application.h"

namespace console {

namespace {

// Runs sessions until they are done, the time is up, the user interrupts or the form closes.
int RunUntilDone(const TSessionOptions& options, TConsoleLoop& loop, TRunHooks& hooks, TConsolePeers& peers,
                 TSessionReporter& reporter, const bool& closed, std::ostream& err)
{
    const TDeadline deadline(options);
    for (;;) {
        if (Interrupted())
            return ExitInterrupted;
        if (closed || (options.Sessions > 0 && reporter.FinishedSessions() >= options.Sessions))
            return ExitDone;
        if (deadline.Passed()) {
            err << "tolvane-cli: timed out" << std::endl;
            reporter.RunEnded(TSessionEnding::TimedOut);
            return ExitTimeout;
        }
        Turn(loop, hooks, peers, deadline);
    }
}

} // namespace

int RunSessions(const TSessionOptions& options, std::ostream& out, std::ostream& err)
{
    TRecordFile record;
    if (!OpenRecord(options, record, err))
        return ExitUsage;
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
