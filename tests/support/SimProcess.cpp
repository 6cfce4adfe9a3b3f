#include "SimProcess.h"

#include "rtl/MainThreadQueue.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

TScratchUnitDirectory::TScratchUnitDirectory()
{
    char pattern[] = "/tmp/tolvane-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
    setenv("TOLVANE_UNIT_DIR", FPath.c_str(), 1);
    // The developer's own HID devices must not enter the tests.
    setenv("TOLVANE_DEVICE_SOURCES", "virtual", 1);
}

TScratchUnitDirectory::~TScratchUnitDirectory()
{
    unsetenv("TOLVANE_UNIT_DIR");
    unsetenv("TOLVANE_DEVICE_SOURCES");
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

namespace {

std::vector<std::string> WithDirectory(const std::string& directory, std::vector<std::string> args)
{
    args.insert(args.begin(), {"--dir", directory});
    return args;
}

} // namespace

TSimProcess::TSimProcess(const std::string& directory, std::vector<std::string> args, int units)
    : TChildProcess(QUILLMARK_SIM_PATH, WithDirectory(directory, std::move(args)))
{
    for (int i = 0; i < units; ++i)
        if (!WaitForLine("placed "))
            throw std::runtime_error("quillmark-sim placed no unit: " + Stderr());
}

TSimProcess::~TSimProcess()
{
    Stop();
}

int TSimProcess::Stop()
{
    Signal(SIGTERM);
    if (const auto code = WaitForExit(10s))
        return *code;
    Signal(SIGKILL);
    return WaitForExit().value_or(-SIGKILL);
}

bool PumpMainThreadUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        queue.ProcessPending();
        if (condition())
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        queue.WaitForWork(std::min(left, std::chrono::milliseconds(20)));
    }
}

} // namespace testsupport
