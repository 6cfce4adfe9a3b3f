#pragma once

#include "ConsoleLoop.h"
#include "ConsolePeers.h"

#include "SessionReport.h"

#include <chrono>
#include <optional>
#include <ostream>

namespace console {

// Opens the --record file, if one is given; false, with the reason on err, when it cannot be.
bool OpenRecord(const TSessionOptions& options, TRecordFile& record, std::ostream& err);

// The --timeout of a run, counted from its start.
class TDeadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit TDeadline(const TSessionOptions& options);
    bool Passed() const { return FEnd && Clock::now() >= *FEnd; }
    // The earlier of the wake-up and the deadline.
    std::optional<Clock::time_point> Limit(std::optional<Clock::time_point> wake) const;

private:
    std::optional<Clock::time_point> FEnd;
};

// SIGINT and SIGTERM (Ctrl-C, Ctrl-Break and closing the console on Windows) from here on
// wake the main loop and mark the run interrupted.
void WatchSignals();
bool Interrupted();

// The application's hooks for the time of a run: a confirmation is answered by the peers
// whose tick is running, an exception leaving a handler is reported on err and logged by
// that form, and a terminate request marks the run closed.
class TRunHooks {
public:
    TRunHooks(std::ostream& err, bool& closed);
    ~TRunHooks();
    TRunHooks(const TRunHooks&) = delete;
    TRunHooks& operator=(const TRunHooks&) = delete;

    void SetActive(TConsolePeers* peers) { FActive = peers; }
    // Runs the peers' due tick as the active ones.
    void Tick(TConsolePeers& peers);

private:
    std::ostream& FErr;
    TConsolePeers* FActive = nullptr;
};

// One turn of a single session's loop: whatever is queued runs, then the step if it is due
// and nothing waits before it.
void Turn(TConsoleLoop& loop, TRunHooks& hooks, TConsolePeers& peers, const TDeadline& deadline);

} // namespace console
