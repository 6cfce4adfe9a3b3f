#pragma once

#include "ChildProcess.h"

namespace simtest {

using namespace std::chrono_literals;

// quillmark-sim run with exactly the arguments given.
class TSimProcess : public testsupport::TChildProcess {
public:
    explicit TSimProcess(const std::vector<std::string>& args) : TChildProcess(QUILLMARK_SIM_PATH, args) {}
};

} // namespace simtest
