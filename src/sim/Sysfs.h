#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

// The names in `directory` but "." and "..", sorted; none when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& directory);

// The first line of a sysfs or configfs attribute; empty when it cannot be read.
std::string FirstLine(const std::string& path);

// The /dev/hidrawN of the kernel HID device at `hidDevice` (a sysfs directory), once the node
// exists.
std::optional<std::string> HidrawNode(const std::string& hidDevice);

} // namespace sim
