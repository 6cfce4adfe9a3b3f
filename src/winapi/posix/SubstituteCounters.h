#pragma once

#include <atomic>
#include <cstdint>

namespace winapi::posix {

// What the substitute counts, so that its own tests count, rather than time, what bursts of
// device changes cost. Nothing above the substitute reads these.
struct TSubstituteCounters {
    // Events of the unit directory read by the device-change monitor, counted once it has acted
    // on them (its broadcast posted, where one was due).
    std::atomic<std::uint64_t> DirectoryEvents{0};
    // Connection attempts scans made to unit sockets.
    std::atomic<std::uint64_t> ScanConnects{0};
};

inline TSubstituteCounters& SubstituteCounters()
{
    static TSubstituteCounters counters;
    return counters;
}

} // namespace winapi::posix
