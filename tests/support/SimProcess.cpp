#include "SimProcess.h"

#include "rtl/MainThreadQueue.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

TScratchUnitDirectory::TScratchUnitDirectory()
{
    char pattern[] = "/tmp/tolvane-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
    setenv("TOLVANE_UNIT_DIR", FPath.c_str(), 1);
}

TScratchUnitDirectory::~TScratchUnitDirectory()
{
    unsetenv("TOLVANE_UNIT_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

TSimProcess::TSimProcess(const std::string& directory, std::vector<std::string> args, int units)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    FStderrPath = directory + "/.sim-stderr-" + std::to_string(getpid()) + "-" + std::to_string(out[0]);

    std::vector<std::string> argv = {QUILLMARK_SIM_PATH, "--dir", directory};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (auto& arg : argv)
        cargs.push_back(arg.data());
    cargs.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, FStderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    const int spawned = posix_spawn(&FPid, argv[0].c_str(), &actions, nullptr, cargs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FStdout = out[0];
    if (spawned != 0)
        throw std::runtime_error("cannot start quillmark-sim");
    for (int i = 0; i < units; ++i)
        if (WaitForLine("placed ").empty())
            throw std::runtime_error("quillmark-sim placed no unit: " + Stderr());
}

TSimProcess::~TSimProcess()
{
    Stop();
    if (FStdout >= 0)
        close(FStdout);
    unlink(FStderrPath.c_str());
}

std::string TSimProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (std::size_t end; (end = FPending.find('\n')) != std::string::npos;) {
            std::string line = FPending.substr(0, end);
            FPending.erase(0, end + 1);
            if (line.compare(0, prefix.size(), prefix) == 0)
                return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd wait{FStdout, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = read(FStdout, buffer, sizeof buffer);
        if (got <= 0)
            return {};
        FPending.append(buffer, static_cast<std::size_t>(got));
    }
}

int TSimProcess::Reap(int options)
{
    if (FEnded)
        return FPid;
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(FPid, &status, options);
    while (reaped < 0 && errno == EINTR);
    if (reaped == FPid) {
        FEnded = true;
        FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    return reaped;
}

int TSimProcess::Stop()
{
    if (FPid <= 0)
        return -1;
    if (Reap(WNOHANG) != FPid) {
        kill(FPid, SIGTERM);
        if (WaitForExit(10s) == -1 && !FEnded) {
            kill(FPid, SIGKILL);
            Reap(0);
        }
    }
    return FExitCode;
}

int TSimProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    // The program's end closes its standard output; wait for that, then reap.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!FEnded) {
        if (Reap(WNOHANG) == FPid)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return -1;
        pollfd wait{FStdout, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(std::min<long>(left.count(), 50))) > 0) {
            char buffer[512];
            const ssize_t got = read(FStdout, buffer, sizeof buffer);
            if (got > 0)
                FPending.append(buffer, static_cast<std::size_t>(got));
        }
    }
    return FExitCode;
}

std::string TSimProcess::Stderr() const
{
    std::ifstream in(FStderrPath);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PumpMainThreadUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        queue.ProcessPending();
        if (condition())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        queue.WaitForWork(std::min(left, std::chrono::milliseconds(20)));
    }
}

} // namespace testsupport
