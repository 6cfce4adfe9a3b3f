// The window's command line: its own options, and the window system's passed over with
// their values.

#include "app/WindowOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct TOptionsCase {
    std::vector<std::string> Args;
    std::optional<std::string> LogFile; // UTF-8
    bool Help = false;
    bool Version = false;
    std::string Error;
};

// Stands for the window system: one option with a value, one without.
int ForeignArity(std::string_view option)
{
    return option == "-platform" ? 1 : option == "-reverse" ? 0 : -1;
}

TEST(WindowOptions, ParsesOwnOptionsAndPassesForeignOnes)
{
    const TOptionsCase cases[] = {
        {{}, {}, false, false, ""},
        {{"--log", "run.log"}, "run.log", false, false, ""},
        {{"--log=run.log"}, "run.log", false, false, ""},
        {{"--log", "\xE3\x83\xAD\xE3\x82\xB0.txt"}, "\xE3\x83\xAD\xE3\x82\xB0.txt", false, false, ""}, // ログ.txt
        {{"--log"}, {}, false, false, "--log: 1 required FILE missing"},
        {{"--log="}, {}, false, false, "--log: 1 required FILE missing"},
        {{"--log", "a.log", "--log", "b.log"}, "b.log", false, false, ""},
        {{"-h"}, {}, true, false, ""},
        {{"--help"}, {}, true, false, ""},
        {{"-V"}, {}, false, true, ""},
        {{"--version"}, {}, false, true, ""},
        {{"--bogus"}, {}, false, false, "unknown option --bogus"},
        {{"session.log"}, {}, false, false, "unexpected argument session.log"},
        {{"--bogus=1"}, {}, false, false, "unknown option --bogus"},
        {{"-platform", "offscreen", "--log", "a.log"}, "a.log", false, false, ""},
        // The value belongs to the foreign option, whatever it looks like.
        {{"-platform", "--log"}, {}, false, false, ""},
        {{"-reverse", "-V"}, {}, false, true, ""},
        {{"--log", "a.log", "-platform"}, {}, false, false, "-platform needs a value"},
    };
    for (const TOptionsCase& expected : cases) {
        std::string shown;
        for (const std::string& arg : expected.Args)
            shown += " " + arg;
        SCOPED_TRACE("tolvane" + shown);
        const app::TWindowOptions options = app::ParseWindowOptions(expected.Args, ForeignArity);
        EXPECT_EQ(options.Error, expected.Error);
        EXPECT_EQ(options.Help, expected.Help);
        EXPECT_EQ(options.Version, expected.Version);
        ASSERT_EQ(options.LogFile.has_value(), expected.LogFile.has_value());
        if (expected.LogFile) {
            const std::u8string file = options.LogFile->u8string();
            EXPECT_EQ(std::string(file.begin(), file.end()), *expected.LogFile);
        }
    }
}

} // namespace
