#pragma once

#include "Script.h"

#include <chrono>
#include <optional>
#include <string>

namespace sim {

class TVirtualUnit;

// Plays a parsed script against one unit, step by step, each wait bounded by the step time-out.
class TScriptRunner {
public:
    TScriptRunner(TVirtualUnit& unit, const TScript& script, std::string scriptName,
                  std::chrono::milliseconds stepTimeout);

    // 0 when the script ran to its end, 1 when a step failed or a stop was requested.
    int Run();

private:
    struct TFailure {
        std::string Expected;
        std::string Arrived;
    };

    std::optional<TFailure> RunStep(const TScriptStep& step);
    std::optional<TFailure> ExpectReport(const TScriptStep& step);
    std::optional<TFailure> StayQuiet(const TScriptStep& step);
    std::optional<TFailure> AwaitFile(const TScriptStep& step);
    std::optional<TFailure> Upload(const TScriptStep& step);
    std::string NothingArrived() const;

    TVirtualUnit& FUnit;
    const TScript& FScript;
    std::string FScriptName;
    std::chrono::milliseconds FStepTimeout;
    bool FStopped = false;
};

} // namespace sim
