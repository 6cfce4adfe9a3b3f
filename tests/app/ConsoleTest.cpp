// tolvane-cli's own pieces in this process: the escaping of unit text for a terminal line, a
// JSON record and a log file's name, and its loop carrying on after an exception leaves a step.

#include "CliProcess.h"
#include "SimProcess.h"

#include "hid/Hid.h"
#include "rtl/MainThreadQueue.h"
#include "ui/console/ConsoleFrontEnd.h"
#include "ui/console/ConsoleText.h"
#include "ui/console/Station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

using namespace apptest;
using namespace testsupport;

namespace {

TEST(ConsoleText, ControlCharactersAreEscapedForATerminalAndForJson)
{
    const struct {
        std::string Text, Shown, Json;
    } cases[] = {
        {"plain 1.0", "plain 1.0", R"("plain 1.0")"},
        {"a\nb\r\x1b[2J\t\x7f", R"(a\x0Ab\x0D\x1B[2J\x09\x7F)", R"("a\u000Ab\u000D\u001B[2J\u0009\u007F")"},
        {std::string("nul\0end", 7), R"(nul\x00end)", R"("nul\u0000end")"},
        {"back\\slash \"quoted\"", R"(back\\slash "quoted")", R"("back\\slash \"quoted\"")"},
        {"c1 \xC2\x9B"
         "1m \xC2\x85 kept \xC2\xA0",
         "c1 \\u009B1m \\u0085 kept \xC2\xA0", "\"c1 \\u009B1m \\u0085 kept \xC2\xA0\""},
        {"\xE3\x83\x90\xE2\x80\xA8\xE2\x80\xA9", "\xE3\x83\x90\xE2\x80\xA8\xE2\x80\xA9", R"("バ\u2028\u2029")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(console::EscapeControls(c.Text), c.Shown);
        EXPECT_EQ(console::JsonString(c.Text), c.Json);
    }
    // A system path keeps its backslashes, so that it can be given back to --device.
    EXPECT_EQ(console::EscapePath(R"(\\?\hid#vid_1209&pid_0043#7&1a&0&0000#{4d1e55b2})"
                                  "\x1b"),
              R"(\\?\hid#vid_1209&pid_0043#7&1a&0&0000#{4d1e55b2}\x1B)");
}

// HidP_GetCaps failing once, put in place by the log once the session has taken its unit, so
// that the first step's command meets it. The unit is query-only: no reader thread shares the
// entry-point table meanwhile.
decltype(hid::HidApi.HidP_GetCaps) gRealGetCaps = nullptr;

NTSTATUS FailingGetCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS)
{
    hid::HidApi.HidP_GetCaps = gRealGetCaps;
    throw std::runtime_error("caps failed");
}

class TArmingLog : public std::stringbuf {
protected:
    int sync() override
    {
        if (!gRealGetCaps && str().find("Connect device") != std::string::npos) {
            gRealGetCaps = hid::HidApi.HidP_GetCaps;
            hid::HidApi.HidP_GetCaps = FailingGetCaps;
        }
        return 0;
    }
};

TEST(StationLog, FileNamePartsHoldOnlyWhatEveryFileSystemTakes)
{
    const std::string tail(80, 'x');
    const struct {
        std::string Text;
        std::string Part;
    } cases[] = {
        {"u1", "u1"},
        {"/sys/devices/virtual/misc/uhid/0003:1209:0043.0001", "sys_devices_virtual_misc_uhid_0003_1209_0043.0001"},
        {R"(\\?\hid#vid_1209&pid_0043#7&1a&0&0000#{4d1e55b2})", "hid_vid_1209_pid_0043_7_1a_0_0000_4d1e55b2"},
        {"..", "none"},
        {"", "none"},
        {".hidden name/", "hidden_name"},
        {"QM00 0001\x01\xE3\x81\x82", "QM00_0001"},
        {std::string(30, '/') + "y" + tail, tail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(console::FileNamePart(c.Text), c.Part) << c.Text;
}

TEST(ConsoleLoop, ExceptionLeavingAStepIsReportedAndTheTimerGoesOn)
{
    TScratchUnitDirectory units;
    TSimProcess sim(units.Path(), {"--access", "query-only"});
    TArmingLog log;
    std::ostream out(&log);
    std::ostringstream err;
    console::TSessionOptions options;
    options.Timeout = std::chrono::milliseconds(1500);
    int code = -1;
    EXPECT_NO_THROW(code = console::RunSessions(options, out, err));

    // The unit never answers a query-only handle's write, so the session waits to the end.
    EXPECT_EQ(code, console::ExitFailed) << err.str();
    const auto errLines = Lines(err.str());
    EXPECT_EQ(std::count(errLines.begin(), errLines.end(), "tolvane-cli: exception: caps failed"), 1) << err.str();
    EXPECT_EQ(errLines.back(), "result: failed timeout");
    const std::string logged = log.str();
    EXPECT_NE(logged.find("  Exception : caps failed\n"), std::string::npos) << logged;
    // The step that failed ran again at a later tick.
    std::size_t vers = 0;
    for (const std::string& line : Lines(logged))
        vers += line.size() > 22 && line.compare(22, std::string::npos, ">>VER") == 0;
    EXPECT_EQ(vers, 2u) << logged;
}

} // namespace
