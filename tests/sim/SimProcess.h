#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simtest {

using namespace std::chrono_literals;

// A quillmark-sim child with its standard output and error captured; every wait is bounded.
class TSimProcess {
public:
    explicit TSimProcess(const std::vector<std::string>& args);
    ~TSimProcess();
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    // The next unread stdout line that starts with `prefix`; lines before it are skipped.
    std::optional<std::string> WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout = 10s);
    // True once standard error contains `text`.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout = 10s);
    void Signal(int signal);
    // The exit status, or nothing when the process did not end in time.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 10s);

    const std::string& Stdout() const { return FStdout; }
    const std::string& Stderr() const { return FStderr; }

private:
    // Reads what is available, waiting at most `timeout` for something; false when both pipes ended.
    bool Pump(std::chrono::milliseconds timeout);

    pid_t FPid = -1;
    int FOut = -1;
    int FErr = -1;
    std::string FStdout;
    std::string FStderr;
    std::size_t FConsumed = 0;
    std::optional<int> FExit;
};

} // namespace simtest
