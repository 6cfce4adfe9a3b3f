#pragma once

#include "ConsoleFrontEnd.h"

#include <string>
#include <vector>

namespace console {

enum class TCommand { Sessions, Station, List, Help, Version, UsageError };

struct TCommandLine {
    TCommand Command = TCommand::Sessions;
    TSessionOptions Options;
    bool Json = false;  // --list --json
    std::string Error;  // UsageError: the problem in one line
    std::string Output; // Help, Version: what to print
};

// args without the program name.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

} // namespace console
