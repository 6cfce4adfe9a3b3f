// The window program where there is no display: what it answers, before Qt is touched.

#include "ChildProcess.h"

#include "app/WindowOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

struct TRunCase {
    std::vector<std::string> Args;
    int Exit;
    std::string StdoutHas;
    std::string Stderr;
};

TEST(QtCommandLine, AnswersWithoutADisplay)
{
    const TRunCase cases[] = {
        {{"--version"}, 0, app::WindowVersionText(), ""},
        {{"-V", "-platform", "xcb"}, 0, app::WindowVersionText(), ""},
        {{"--help"}, 0, "-platform NAME", ""},
        {{},
         1,
         "",
         "tolvane: no display (DISPLAY and WAYLAND_DISPLAY are not set); use tolvane-cli to run a session in a "
         "terminal\n"},
        {{"--bogus"}, 2, "", "tolvane: unknown option --bogus\nRun with --help for more.\n"},
        {{"--platform"}, 2, "", "tolvane: --platform needs a value\nRun with --help for more.\n"},
    };
    for (const TRunCase& expected : cases) {
        std::vector<std::string> args{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", TOLVANE_PATH};
        args.insert(args.end(), expected.Args.begin(), expected.Args.end());
        std::string shown;
        for (const std::string& arg : expected.Args)
            shown += " " + arg;
        SCOPED_TRACE("tolvane" + shown);
        TChildProcess tolvane("/usr/bin/env", args);
        EXPECT_EQ(tolvane.WaitForExit(), expected.Exit);
        if (expected.StdoutHas.empty())
            EXPECT_EQ(tolvane.Stdout(), "");
        else
            EXPECT_NE(tolvane.Stdout().find(expected.StdoutHas), std::string::npos) << tolvane.Stdout();
        EXPECT_EQ(tolvane.Stderr(), expected.Stderr);
    }
}

} // namespace
