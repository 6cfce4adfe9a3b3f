#pragma once

#include "Handles.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct pollfd;

namespace winapi::posix {

// What a device-change monitor polls on behalf of the virtual units met so far: a descriptor
// that wakes it when a scan changed the set, the connections of units greeting or known, and
// the time until a socket that gave no unit is due to be tried again.
class TUnitWatch {
public:
    // Appends the descriptors to poll; gives the longest wait in milliseconds until a unit
    // is due to be tried again (-1: none).
    int Collect(std::vector<pollfd>& fds);
    // Acts on what poll reported for the descriptors Collect appended, fds pointing at the
    // first, and on retries that are due. True when a unit greeted or one that had is gone.
    bool Service(const pollfd* fds);

private:
    std::vector<std::pair<std::string, std::shared_ptr<TFd>>> FPolled;
};

} // namespace winapi::posix
