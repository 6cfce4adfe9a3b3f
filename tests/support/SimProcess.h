#pragma once

#include "ChildProcess.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A private unit directory for one test, announced through TOLVANE_UNIT_DIR and removed
// with everything in it afterwards.
class TScratchUnitDirectory {
public:
    TScratchUnitDirectory();
    ~TScratchUnitDirectory();
    TScratchUnitDirectory(const TScratchUnitDirectory&) = delete;
    TScratchUnitDirectory& operator=(const TScratchUnitDirectory&) = delete;

    const std::string& Path() const { return FPath; }
    std::string SocketPath(const std::string& name) const { return FPath + "/" + name + ".sock"; }

private:
    std::string FPath;
};

// One running quillmark-sim, placing its units in the given directory.
class TSimProcess : public TChildProcess {
public:
    // Starts quillmark-sim --dir DIR ARGS... and waits until it has placed `units` units.
    TSimProcess(const std::string& directory, std::vector<std::string> args, int units = 1);
    ~TSimProcess() override;

    // Takes the units out (SIGTERM) unless the program has ended; its exit code, or -signal.
    int Stop();
};

// Runs the main-thread queue until the condition holds or the time is up.
bool PumpMainThreadUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

} // namespace testsupport
