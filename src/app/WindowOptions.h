#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The window's command line. Texts are UTF-8.
struct TWindowOptions {
    std::optional<std::filesystem::path> LogFile;
    bool Version = false;
    bool Help = false;
    // A usage error in one line; empty when the command line was understood.
    std::string Error;
};

// How many values an option of the window system takes (0 or 1), or -1 when it is none of
// its options. Such options are left to the window system.
using TForeignOptionArity = std::function<int(std::string_view option)>;

// args without the program name.
TWindowOptions ParseWindowOptions(const std::vector<std::string>& args, const TForeignOptionArity& foreign = {});

// The --help text, ending in a line break; `extra`, a paragraph of its own ending in a line
// break, goes after the options.
std::string WindowHelpText(std::string_view extra = {});

// "tolvane VERSION" and a line break.
std::string WindowVersionText();

} // namespace app
