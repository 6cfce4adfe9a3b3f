#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;

// A program run by a test, its standard output and error collected as they come; every
// wait is bounded. It inherits the environment (TOLVANE_UNIT_DIR among it) and reads no
// input. A child still running when the object goes is killed.
class TChildProcess {
public:
    TChildProcess(const std::string& program, const std::vector<std::string>& args);
    virtual ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // The next unread standard-output line starting with prefix; earlier lines are skipped.
    std::optional<std::string> WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout = 10s);
    // Until standard output or standard error holds text.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = 10s);
    // Until standard error holds the text `count` times.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout = 10s, std::size_t count = 1);
    void Signal(int signal);
    // The exit code, or -signal; nothing when it has not ended in time.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 20s);

    const std::string& Stdout() const { return FStdout; }
    const std::string& Stderr() const { return FStderr; }
    pid_t Pid() const { return FPid; }

private:
    // Reads what is there, waiting at most timeout; false once both streams have ended.
    bool Pump(std::chrono::milliseconds timeout);

    pid_t FPid = -1;
    int FOut = -1;
    int FErr = -1;
    std::string FStdout;
    std::string FStderr;
    std::size_t FConsumed = 0;
    std::optional<int> FExit;
};

} // namespace testsupport
