#include "CliProcess.h"

#include <csignal>

namespace apptest {

int TCliProcess::Wait(std::chrono::milliseconds timeout)
{
    if (const auto code = WaitForExit(timeout))
        return *code;
    Signal(SIGKILL);
    WaitForExit();
    return -1;
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
