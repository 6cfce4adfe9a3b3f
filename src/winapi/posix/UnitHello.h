#pragma once

#include "DeviceFile.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace winapi::posix {

// The unit's hello: key=value lines, product last and running to the end. Unknown keys are
// skipped. Gives nothing, with the reason in why, when a key is missing or out of range.
std::optional<TDeviceIdentity> ParseUnitHello(std::string_view hello, std::string& why);

enum class THello { Waiting, Greeted, Closed, Malformed };

// Takes the hello waiting on a fresh connection, without blocking. A malformed one is reported
// once with its reason.
THello ReceiveHello(int socket, const std::string& path, TDeviceIdentity& identity);
// Waits up to `wait` for it.
THello AwaitHello(int socket, const std::string& path, TDeviceIdentity& identity, std::chrono::milliseconds wait);

// The client's answer to the hello: how it opens the unit ("open q" for access 0).
bool SendOpen(int socket, DWORD access);

} // namespace winapi::posix
