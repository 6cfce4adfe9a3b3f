#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

std::chrono::milliseconds Left(std::chrono::steady_clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}

} // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // A child starts with no signal blocked, whatever this process (tolvane-cli's loop run
    // in a test, say) has blocked for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const int spawned = posix_spawn(&FPid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
    if (spawned != 0)
        throw std::runtime_error("cannot start " + program);
}

TChildProcess::~TChildProcess()
{
    if (!FExit && FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0)
        close(FOut);
    if (FErr >= 0)
        close(FErr);
}

bool TChildProcess::Pump(std::chrono::milliseconds timeout)
{
    if (FOut < 0 && FErr < 0)
        return false;
    pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(std::max<long>(timeout.count(), 0))) <= 0)
        return true;
    int* ends[2] = {&FOut, &FErr};
    std::string* texts[2] = {&FStdout, &FStderr};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(*ends[i], buffer, sizeof buffer);
        if (got > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return true;
}

std::optional<std::string> TChildProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (std::size_t end; (end = FStdout.find('\n', FConsumed)) != std::string::npos;) {
            std::string line = FStdout.substr(FConsumed, end - FConsumed);
            FConsumed = end + 1;
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        if (Left(deadline).count() <= 0 || !Pump(Left(deadline)))
            return std::nullopt;
    }
}

bool TChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FStdout.find(text) == std::string::npos && FStderr.find(text) == std::string::npos)
        if (Left(deadline).count() <= 0 || !Pump(Left(deadline)))
            return false;
    return true;
}

bool TChildProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FStderr.find(text) == std::string::npos)
        if (Left(deadline).count() <= 0 || !Pump(Left(deadline)))
            return false;
    return true;
}

void TChildProcess::Signal(int signal)
{
    if (!FExit && FPid > 0)
        kill(FPid, signal);
}

std::optional<int> TChildProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    if (FExit)
        return FExit;
    // Both streams end only when the process has gone, so the wait for it below is short.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Pump(Left(deadline)))
        if (Left(deadline).count() <= 0)
            return std::nullopt;
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(FPid, &status, 0);
    while (reaped < 0 && errno == EINTR);
    if (reaped != FPid)
        return std::nullopt;
    FExit = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return FExit;
}

} // namespace testsupport
