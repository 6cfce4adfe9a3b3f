#include "Console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace sim {

namespace {

std::mutex ConsoleLock;

} // namespace

void PrintDiagnostic(const char* format, ...)
{
    char message[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    const std::lock_guard lock(ConsoleLock);
    std::fprintf(stderr, "quillmark-sim: %s\n", message);
    std::fflush(stderr);
}

void PrintEvent(const std::string& line)
{
    const std::lock_guard lock(ConsoleLock);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

std::string SecondsText(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

} // namespace sim
