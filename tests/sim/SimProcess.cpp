#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace simtest {

TSimProcess::TSimProcess(const std::vector<std::string>& args)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> all{QUILLMARK_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int result = ::posix_spawn(&FPid, QUILLMARK_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    FOut = out[0];
    FErr = err[0];
    if (result != 0)
        throw std::runtime_error("cannot start " QUILLMARK_SIM_PATH);
}

TSimProcess::~TSimProcess()
{
    if (!FExit && FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0)
        ::close(FOut);
    if (FErr >= 0)
        ::close(FErr);
}

bool TSimProcess::Pump(std::chrono::milliseconds timeout)
{
    pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
    if (FOut < 0 && FErr < 0)
        return false;
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0)
        return true;
    int* ends[2] = {&FOut, &FErr};
    std::string* texts[2] = {&FStdout, &FStderr};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(*ends[i], buffer, sizeof buffer);
        if (got > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return true;
}

std::optional<std::string> TSimProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (std::size_t end; (end = FStdout.find('\n', FConsumed)) != std::string::npos;) {
            std::string line = FStdout.substr(FConsumed, end - FConsumed);
            FConsumed = end + 1;
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Pump(left))
            return std::nullopt;
    }
}

bool TSimProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FStderr.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Pump(left))
            return FStderr.find(text) != std::string::npos;
    }
    return true;
}

void TSimProcess::Signal(int signal)
{
    if (!FExit)
        ::kill(FPid, signal);
}

std::optional<int> TSimProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    if (FExit)
        return FExit;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Both pipes end only when the process has gone, so the blocking wait below is short.
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        if (!Pump(left))
            break;
    }
    int status = 0;
    if (::waitpid(FPid, &status, 0) != FPid)
        return std::nullopt;
    FExit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return FExit;
}

} // namespace simtest
