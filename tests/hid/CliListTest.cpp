// tolvane-cli --list, run as a program over units placed in a private unit directory.

#include "FakeUnit.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <sys/wait.h>

using namespace testsupport;

namespace {

struct TRun {
    std::string Out;
    int ExitCode = -1;
};

// The unit directory reaches the program through the environment set by TScratchUnitDirectory.
TRun RunList()
{
    TRun run;
    FILE* pipe = popen(TOLVANE_CLI_PATH " --list", "r");
    if (!pipe)
        return run;
    char buffer[512];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.Out.append(buffer, got);
    const int status = pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CliList, PrintsEveryUnitInSocketNameOrder)
{
    TScratchUnitDirectory units;
    // Placed out of order; listed by socket name.
    TSimProcess zeta(units.Path(), {"--name", "zeta"});
    TSimProcess alpha(units.Path(),
                      {"--name", "alpha", "--vid", "0xF055", "--pid", "0x7800", "--product", "Alpha Unit"});
    TSimProcess mid(
        units.Path(),
        {"--name", "mid", "--pid", "0x7802", "--product", "Mid", "--in-length", "65", "--out-length", "33"});

    const TRun run = RunList();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Out,
              "f055:7800\tAlpha Unit\t" + units.SocketPath("alpha")
                  + "\tff00:0001 1025/65/0\n"
                    "1209:7802\tMid\t"
                  + units.SocketPath("mid")
                  + "\tff00:0001 65/33/0\n"
                    "1209:0043\tQuillmark\t"
                  + units.SocketPath("zeta") + "\tff00:0001 1025/65/0\n");
}

TEST(CliList, PrintsNothingWithoutUnits)
{
    TScratchUnitDirectory units;
    const TRun run = RunList();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Out, "");
}

TEST(CliList, BrokenSocketsAreNotListedAndHoldNothing)
{
    TScratchUnitDirectory units;
    TFakeUnit never(units.Path(), "a-never", TFakeUnit::NeverAccepts);
    TFakeUnit full(units.Path(), "b-full", TFakeUnit::BacklogFull);
    TFakeUnit silent(units.Path(), "c-silent", TFakeUnit::Silent);
    TFakeUnit stale(units.Path(), "d-stale", TFakeUnit::Stale);
    TSimProcess real(units.Path(), {"--name", "e-real"});
    const TRun run = RunList();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Out, "1209:0043\tQuillmark\t" + units.SocketPath("e-real") + "\tff00:0001 1025/65/0\n");
}

} // namespace
