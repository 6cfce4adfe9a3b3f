#pragma once

#include <string>

namespace winapi::posix {

// The tool names its claim on a device interface after the interface path's hash; a claim
// can only be made on a path opened before, which every claim of the tool's is.
void RememberDevicePath(const std::string& path);

// The file whose lock is the claim on an interface: the hidraw node itself, shared by all
// its collections, or a hidden lock file beside a virtual unit's socket.
std::string ClaimLockPath(const std::string& interfacePath);

} // namespace winapi::posix
