#include "BehaviourModel.h"
#include "Console.h"
#include "Options.h"
#include "ReportDescriptor.h"
#include "Script.h"
#include "ScriptRunner.h"
#include "StopSignal.h"
#include "SocketUnit.h"
#include "Trace.h"
#include "UhidUnit.h"
#include "UsbUnit.h"

#include "winapi/posix/UnitDirectory.h"

#include <cstdio>
#include <memory>
#include <poll.h>
#include <thread>
#include <vector>

using namespace sim;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

int UsageError(const std::string& message)
{
    PrintDiagnostic("%s", message.c_str());
    std::fputs("Run with --help for more.\n", stderr);
    return ExitUsage;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool LoadScript(const std::string& path, TScript& script)
{
    TBytes text;
    TScriptError error;
    if (!ReadWholeFile(path, text, error)) {
        PrintDiagnostic("%s", error.Message.c_str());
        return false;
    }
    if (!script.Parse(std::string(text.begin(), text.end()), error) || !script.LoadFiles(DirectoryOf(path), error)) {
        PrintDiagnostic("%s:%d: malformed script: %s", path.c_str(), error.Line, error.Message.c_str());
        return false;
    }
    return true;
}

bool LoadDescriptor(const std::string& path, TBytes& descriptor)
{
    TBytes text;
    TScriptError error;
    if (!ReadWholeFile(path, text, error)) {
        PrintDiagnostic("--descriptor: %s", error.Message.c_str());
        return false;
    }
    std::string problem;
    auto bytes = ParseHexBytes(std::string(text.begin(), text.end()), problem);
    if (bytes && bytes->empty())
        problem = "no bytes";
    else if (bytes && bytes->size() > LargestReportDescriptor)
        problem = std::to_string(bytes->size()) + " bytes, more than the kernel takes ("
            + std::to_string(LargestReportDescriptor) + ")";
    if (!problem.empty()) {
        PrintDiagnostic("--descriptor %s: %s", path.c_str(), problem.c_str());
        return false;
    }
    descriptor = std::move(*bytes);
    return true;
}

std::unique_ptr<TVirtualUnit> MakeUnit(const TSimOptions& options, TUnitDescription description,
                                       const TBytes& reportDescriptor, TTrace* trace)
{
    if (options.Transport == TTransport::Usb)
        return std::make_unique<TUsbUnit>(std::move(description), options.StepTimeout, TStopSignal::StopFd(), trace);
    if (options.Transport == TTransport::Uhid)
        return std::make_unique<TUhidUnit>(std::move(description), reportDescriptor, options.StepTimeout,
                                           TStopSignal::StopFd(), trace);
    return std::make_unique<TSocketUnit>(std::move(description), TStopSignal::StopFd(), trace);
}

void WaitForStop()
{
    pollfd stop{TStopSignal::StopFd(), POLLIN, 0};
    while (::poll(&stop, 1, -1) <= 0) {
    }
}

// Reads what the options name (script, information file, report descriptor); false after a
// diagnostic, with the exit code in `exitCode`.
bool LoadInputs(TSimOptions& options, TScript& script, TBytes& reportDescriptor, int& exitCode)
{
    exitCode = ExitUsage;
    if (!options.Script.empty() && !LoadScript(options.Script, script))
        return false;
    if (!options.InfoFile.empty()) {
        TBytes contents;
        TScriptError readError;
        if (!ReadWholeFile(options.InfoFile, contents, readError)) {
            exitCode = UsageError("--info-file: " + readError.Message);
            return false;
        }
        options.Model.InfoFile = std::move(contents);
    }
    return options.Descriptor.empty() || LoadDescriptor(options.Descriptor, reportDescriptor);
}

// The unit directory for sockets; empty for uhid and usb.
bool PrepareDirectory(const TSimOptions& options, std::string& directory)
{
    if (options.Transport != TTransport::Socket)
        return true;
    directory = options.Directory.empty() ? winapi::posix::UnitDirectoryPath() : options.Directory;
    if (const auto reason = winapi::posix::PrepareUnitDirectory(directory)) {
        PrintDiagnostic("unit directory %s cannot be used: %s", directory.c_str(), reason->c_str());
        return false;
    }
    return true;
}

bool PlaceUnits(const TSimOptions& options, const std::string& directory, const TBytes& reportDescriptor, TTrace* trace,
                std::vector<std::unique_ptr<TVirtualUnit>>& units)
{
    for (unsigned i = 1; i <= options.Count; ++i) {
        TUnitDescription description = options.Unit;
        description.Directory = directory;
        if (options.Count > 1) {
            description.Name += "-" + std::to_string(i);
            if (!description.SerialNumber.empty())
                description.SerialNumber += "-" + std::to_string(i);
        }
        auto unit = MakeUnit(options, description, reportDescriptor, trace);
        std::string error;
        if (!unit->Place(error)) {
            PrintDiagnostic("cannot place %s: %s", description.Name.c_str(), error.c_str());
            return false; // the units placed so far are taken out by their destructors
        }
        units.push_back(std::move(unit));
    }
    return true;
}

// Every unit answers from the behaviour model (or stays silent with a foreign descriptor) until
// a stop signal.
int RunUntilStopped(const TSimOptions& options, const TBytes& reportDescriptor,
                    std::vector<std::unique_ptr<TVirtualUnit>>& units)
{
    std::vector<std::thread> threads;
    for (auto& unit : units) {
        threads.emplace_back([&unit, &options, answers = reportDescriptor.empty()] {
            if (answers)
                TBehaviourModel(options.Model).Run(*unit, options.StepTimeout);
            else
                unit->Idle(TVirtualUnit::Forever);
        });
    }
    WaitForStop();
    for (std::thread& thread : threads)
        thread.join();
    for (auto& unit : units)
        unit->Remove();
    return ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    TSimOptions options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
    case TParseOutcome::Help: std::fputs(error.c_str(), stdout); return ExitOk;
    case TParseOutcome::Version: std::printf("%s\n", error.c_str()); return ExitOk;
    case TParseOutcome::Error: return UsageError(error);
    case TParseOutcome::Run: break;
    }

    TScript script;
    TBytes reportDescriptor;
    int exitCode = ExitOk;
    if (!LoadInputs(options, script, reportDescriptor, exitCode))
        return exitCode;
    std::string directory;
    if (!PrepareDirectory(options, directory))
        return ExitUsage;
    std::unique_ptr<TTrace> trace;
    if (!options.Trace.empty() && !(trace = TTrace::Open(options.Trace, error)))
        return UsageError(error);
    if (!TStopSignal::Install(error)) {
        PrintDiagnostic("%s", error.c_str());
        return ExitFailed;
    }

    std::vector<std::unique_ptr<TVirtualUnit>> units;
    if (!PlaceUnits(options, directory, reportDescriptor, trace.get(), units))
        return ExitUsage;
    if (!options.Script.empty()) {
        const int result = TScriptRunner(*units.front(), script, options.Script, options.StepTimeout).Run();
        units.front()->Remove();
        return result;
    }
    return RunUntilStopped(options, reportDescriptor, units);
}
