#include "CliProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace apptest {

TCliProcess::TCliProcess(const std::vector<std::string>& args)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> argv = {TOLVANE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (auto& arg : argv)
        cargs.push_back(arg.data());
    cargs.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned = posix_spawn(&FPid, argv[0].c_str(), &actions, nullptr, cargs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOutFd = out[0];
    FErrFd = err[0];
    if (spawned != 0)
        throw std::runtime_error("cannot start tolvane-cli");
}

TCliProcess::~TCliProcess()
{
    if (!FReaped) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FOutFd >= 0)
        close(FOutFd);
    if (FErrFd >= 0)
        close(FErrFd);
}

bool TCliProcess::Read(int timeoutMs)
{
    pollfd fds[2] = {{FOutFd, POLLIN, 0}, {FErrFd, POLLIN, 0}};
    std::string* sinks[2] = {&FOut, &FErr};
    int open = 0;
    for (auto& fd : fds)
        open += fd.fd >= 0;
    if (open == 0)
        return false;
    if (poll(fds, 2, timeoutMs) <= 0)
        return true;
    for (int i = 0; i < 2; ++i) {
        if (!fds[i].revents)
            continue;
        char buffer[4096];
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            int& fd = i == 0 ? FOutFd : FErrFd;
            close(fd);
            fd = -1;
        }
    }
    return true;
}

bool TCliProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FOut.find(text) == std::string::npos && FErr.find(text) == std::string::npos) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Read(static_cast<int>(left.count())))
            return false;
    }
    return true;
}

void TCliProcess::Signal(int signal)
{
    kill(FPid, signal);
}

int TCliProcess::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
            FReaped = true;
            return -1;
        }
        if (!Read(static_cast<int>(left.count())))
            break;
    }
    int status = 0;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) { }
    FReaped = true;
    FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return FExitCode;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

} // namespace apptest
