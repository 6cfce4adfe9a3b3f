#include "Trace.h"

#include "Console.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace sim {

std::unique_ptr<TTrace> TTrace::Open(const std::string& path, std::string& error)
{
    if (path == "-")
        return std::unique_ptr<TTrace>(new TTrace(nullptr));
    std::FILE* file = std::fopen(path.c_str(), "we");
    if (!file) {
        error = "cannot open trace file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TTrace>(new TTrace(file));
}

TTrace::~TTrace()
{
    if (FFile)
        std::fclose(FFile);
}

void TTrace::Record(char direction, const TBytes& report)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%lld.%06ld %c ", static_cast<long long>(now.tv_sec),
                  static_cast<long>(now.tv_nsec / 1000), direction);
    const std::string line = stamp + HexOf(report);
    if (!FFile) {
        // Shares standard output with the placed/removed lines, whose lock keeps lines whole.
        PrintEvent(line);
        return;
    }
    const std::lock_guard lock(FLock);
    std::fprintf(FFile, "%s\n", line.c_str());
    std::fflush(FFile);
}

} // namespace sim
