#pragma once

#include "Report.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

// One line per report: "SECONDS.MICROS DIR HEX", DIR '>' tool to unit, '<' unit to tool.
class TTrace {
public:
    // "-" is standard output.
    static std::unique_ptr<TTrace> Open(const std::string& path, std::string& error);
    ~TTrace();
    TTrace(const TTrace&) = delete;
    TTrace& operator=(const TTrace&) = delete;

    void Record(char direction, const TBytes& report);

private:
    explicit TTrace(std::FILE* file) : FFile(file) {}

    std::FILE* FFile; // null for standard output
    std::mutex FLock;
};

} // namespace sim
