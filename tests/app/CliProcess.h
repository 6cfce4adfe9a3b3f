#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace apptest {

using namespace std::chrono_literals;

// One tolvane-cli run with its standard output and error collected. It inherits the
// environment, so TOLVANE_UNIT_DIR points it at the test's units.
class TCliProcess {
public:
    explicit TCliProcess(const std::vector<std::string>& args);
    ~TCliProcess();
    TCliProcess(const TCliProcess&) = delete;
    TCliProcess& operator=(const TCliProcess&) = delete;

    // Until standard output or error holds text; false on time-out or when the run ended.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = 10s);
    void Signal(int signal);
    // The exit code, -signal, or -1 when it has not ended in time (it is then killed).
    int Wait(std::chrono::milliseconds timeout = 30s);

    const std::string& Out() const { return FOut; }
    const std::string& Err() const { return FErr; }

private:
    // Reads what is there, waiting at most timeoutMs; false once both streams are closed.
    bool Read(int timeoutMs);

    pid_t FPid = -1;
    int FOutFd = -1;
    int FErrFd = -1;
    std::string FOut;
    std::string FErr;
    bool FReaped = false;
    int FExitCode = -1;
};

std::vector<std::string> Lines(const std::string& text);

} // namespace apptest
