#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;

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

// One running quillmark-sim. Its standard output is read line by line so that a test can
// wait for "placed" and "removed"; its standard error is kept for assertions.
class TSimProcess {
public:
    // Starts quillmark-sim --dir DIR ARGS... and waits until it has placed `units` units.
    TSimProcess(const std::string& directory, std::vector<std::string> args, int units = 1);
    ~TSimProcess();
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    // The next standard-output line starting with prefix, skipping others; empty on time-out.
    std::string WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout = 10s);

    // Sends SIGTERM (unless already ended) and returns the exit code, or -signal.
    int Stop();
    // Waits for the program to end by itself and returns its exit code, or -1 on time-out.
    int WaitForExit(std::chrono::milliseconds timeout = 20s);

    std::string Stderr() const;
    pid_t Pid() const { return FPid; }

private:
    int Reap(int options);

    pid_t FPid = -1;
    int FStdout = -1;
    std::string FStderrPath;
    std::string FPending;
    int FExitCode = 0;
    bool FEnded = false;
};

// Runs the main-thread queue until the condition holds or the time is up.
bool PumpMainThreadUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

} // namespace testsupport
