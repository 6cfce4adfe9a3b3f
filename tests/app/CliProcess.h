#pragma once

#include "ChildProcess.h"

#include <string>
#include <vector>

namespace apptest {

using namespace std::chrono_literals;

// One tolvane-cli run with its standard output and error collected.
class TCliProcess : public testsupport::TChildProcess {
public:
    explicit TCliProcess(const std::vector<std::string>& args) : TChildProcess(TOLVANE_CLI_PATH, args) {}

    // The exit code, -signal, or -1 when it has not ended in time (it is then killed).
    int Wait(std::chrono::milliseconds timeout = 30s);
};

std::vector<std::string> Lines(const std::string& text);

} // namespace apptest
