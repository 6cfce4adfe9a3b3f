#pragma once

#include "app/Main.h"

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace console {

struct TSessionOptions {
    bool ReadInfo = false;    // answer to "Is read RGINFO.INI?"
    bool WriteSerial = false; // answer to "Is a Serial write in?"
    int Sessions = 1;         // 0: until interrupted
    std::optional<std::chrono::duration<double>> Timeout;
    std::string Record; // the --record file; empty: none
    bool Station = false;
    std::string LogDir;               // station: each session's log in a file here; empty: stdout
    std::vector<std::string> Devices; // --device: the interface paths or locations to serve; empty: any
};

enum : int { ExitDone = 0, ExitNoHid = 1, ExitUsage = 2, ExitTimeout = 3, ExitFailed = 4, ExitInterrupted = 130 };

// Runs TForm1 exactly as the window does, without a window: the activity log goes to out as
// it is written, status, identity, confirmation and result lines to err. Returns the exit code.
int RunSessions(const TSessionOptions& options, std::ostream& out, std::ostream& err);

// Serves every unit present at once, each in a session of its own, as units come and go:
// the lines of each session after its slot, or its log in a file of its own.
int RunStation(const TSessionOptions& options, std::ostream& out, std::ostream& err);

} // namespace console
