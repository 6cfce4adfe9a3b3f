#pragma once

#include <string>

namespace sim {

// SIGINT and SIGTERM make StopFd() readable for good, so that every poll loop of every unit
// wakes and winds down; SIGPIPE is ignored because a peer may vanish mid-send.
class TStopSignal {
public:
    static bool Install(std::string& error);
    static int StopFd();
    static bool IsRequested();
};

} // namespace sim
