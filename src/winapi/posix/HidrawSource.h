#pragma once

#include "DeviceFile.h"

#include <string>
#include <vector>

namespace winapi::posix {

// Linux hidraw devices, found through libudev (sysfs, so no udev daemon is needed). A node
// with several top-level collections is listed once per collection, as Windows lists them,
// with the path "/dev/hidrawN&colMM"; every entry reads and writes the same node.
bool IsHidrawPath(const std::string& path);

// In order of node number, then collection; a node the user may not open is listed too.
std::vector<TDeviceRecord> EnumerateHidrawDevices();

// Access 0 (query) needs no permission on the node: what it answers comes from sysfs.
std::shared_ptr<TDeviceFile> OpenHidrawDevice(const std::string& path, DWORD access, bool overlapped, DWORD& error);

} // namespace winapi::posix
