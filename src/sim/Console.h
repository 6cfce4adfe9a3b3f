#pragma once

#include <chrono>
#include <string>

namespace sim {

// One line on standard error, prefixed "quillmark-sim: ". Safe from any thread.
void PrintDiagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One line on standard output, flushed at once: tests and scripts synchronise on these.
void PrintEvent(const std::string& line);

// "5 s", "0.25 s".
std::string SecondsText(std::chrono::milliseconds duration);

} // namespace sim
