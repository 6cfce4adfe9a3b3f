#include "ScriptRunner.h"

#include "Console.h"
#include "Upload.h"
#include "VirtualUnit.h"

#include <algorithm>
#include <ctime>
#include <unistd.h>

namespace sim {

namespace {

std::string Described(const TBytes& report)
{
    return DescribeBytes(TBytes(report.begin() + std::min<std::size_t>(report.size(), 1), report.end()));
}

} // namespace

TScriptRunner::TScriptRunner(TVirtualUnit& unit, const TScript& script, std::string scriptName,
                             std::chrono::milliseconds stepTimeout)
    : FUnit(unit), FScript(script), FScriptName(std::move(scriptName)), FStepTimeout(stepTimeout)
{
}

int TScriptRunner::Run()
{
    for (const TScriptStep& step : FScript.Steps()) {
        const auto failure = RunStep(step);
        if (FStopped) {
            PrintDiagnostic("%s:%d: interrupted by a signal", FScriptName.c_str(), step.Line);
            return 1;
        }
        if (failure) {
            PrintDiagnostic("%s:%d: %s: %s", FScriptName.c_str(), step.Line, failure->Expected.c_str(),
                            failure->Arrived.c_str());
            return 1;
        }
    }
    return 0;
}

std::optional<TScriptRunner::TFailure> TScriptRunner::RunStep(const TScriptStep& step)
{
    switch (step.Kind) {
    case TStepKind::Expect:
    case TStepKind::ExpectAny: return ExpectReport(step);
    case TStepKind::Send:
        switch (FUnit.SendInputReport(step.Bytes, FStepTimeout)) {
        case TWaitResult::Ready: return std::nullopt;
        case TWaitResult::TimedOut:
            return TFailure{"a reader for the input report " + DescribeBytes(step.Bytes),
                            "no connection opened for reading within " + SecondsText(FStepTimeout)};
        case TWaitResult::Stopped: FStopped = true; return std::nullopt;
        }
        return std::nullopt;
    case TStepKind::Upload: return Upload(step);
    case TStepKind::Quiet: return StayQuiet(step);
    case TStepKind::Sleep:
        FStopped = FUnit.Idle(std::chrono::milliseconds(step.Milliseconds)) == TWaitResult::Stopped;
        return std::nullopt;
    case TStepKind::Await: return AwaitFile(step);
    case TStepKind::Unplug: FUnit.Remove(); return std::nullopt;
    case TStepKind::Plug: {
        std::string error;
        if (!FUnit.Place(error))
            return TFailure{"placing the unit again", error};
        return std::nullopt;
    }
    }
    return std::nullopt;
}

std::optional<TScriptRunner::TFailure> TScriptRunner::ExpectReport(const TScriptStep& step)
{
    const std::string expected = step.Kind == TStepKind::ExpectAny
        ? std::string("an output report")
        : "an output report starting with " + DescribeBytes(step.Bytes);
    TBytes report;
    switch (FUnit.NextOutputReport(report, FStepTimeout)) {
    case TWaitResult::Ready: break;
    case TWaitResult::TimedOut: return TFailure{expected, NothingArrived()};
    case TWaitResult::Stopped: FStopped = true; return std::nullopt;
    }
    if (step.Kind == TStepKind::ExpectAny)
        return std::nullopt;
    const bool matches =
        report.size() >= step.Bytes.size() + 1 && std::equal(step.Bytes.begin(), step.Bytes.end(), report.begin() + 1);
    if (!matches)
        return TFailure{expected, Described(report)};
    return std::nullopt;
}

std::optional<TScriptRunner::TFailure> TScriptRunner::StayQuiet(const TScriptStep& step)
{
    const std::string expected = "no output report for " + std::to_string(step.Milliseconds) + " ms";
    TBytes report;
    switch (FUnit.NextOutputReport(report, std::chrono::milliseconds(step.Milliseconds))) {
    case TWaitResult::Ready: return TFailure{expected, Described(report)};
    case TWaitResult::TimedOut: return std::nullopt;
    case TWaitResult::Stopped: FStopped = true; return std::nullopt;
    }
    return std::nullopt;
}

std::optional<TScriptRunner::TFailure> TScriptRunner::AwaitFile(const TScriptStep& step)
{
    // Looked for again every few milliseconds; output reports queue meanwhile, as in a sleep.
    constexpr std::chrono::milliseconds LookAgain(5);
    const auto deadline = std::chrono::steady_clock::now() + FStepTimeout;
    while (::access(step.File.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return TFailure{"the file " + step.File, "it did not appear within " + SecondsText(FStepTimeout)};
        if (FUnit.Idle(LookAgain) == TWaitResult::Stopped) {
            FStopped = true;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<TScriptRunner::TFailure> TScriptRunner::Upload(const TScriptStep& step)
{
    TUploadRequest request;
    request.File = step.FileContents;
    request.Name = step.Name;
    request.TimeStamp = static_cast<std::uint32_t>(std::time(nullptr));
    request.StampText = step.Stamp.value_or(UploadStampNow());
    request.AnnouncedSize = step.Size;
    const auto failure = RunUpload(FUnit, request, FStepTimeout);
    if (!failure)
        return std::nullopt;
    if (failure->Stopped) {
        FStopped = true;
        return std::nullopt;
    }
    return TFailure{failure->Expected, failure->Arrived};
}

std::string TScriptRunner::NothingArrived() const
{
    return "nothing arrived within " + SecondsText(FStepTimeout);
}

} // namespace sim
