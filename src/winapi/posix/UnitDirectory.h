#pragma once

#include <optional>
#include <string>
#include <sys/un.h>

namespace winapi::posix {

// Where virtual units are placed: $TOLVANE_UNIT_DIR, else $XDG_RUNTIME_DIR/tolvane/units,
// else /tmp/tolvane-units-UID. Read afresh on every call.
std::string UnitDirectoryPath();

// Creates the directory (mode 0700, missing parents too) when it is not there, then checks
// that it is a directory owned by this user and not writable by group or others. Returns
// the reason it must not be used, or nothing when it is fine.
std::optional<std::string> PrepareUnitDirectory(const std::string& path);

// The same checks without creating anything; "it does not exist" when it is missing.
std::optional<std::string> CheckUnitDirectory(const std::string& path);

// A placed unit's socket: NAME.sock, not hidden.
bool IsUnitSocketName(const std::string& name);

inline constexpr const char* UnitSocketSuffix = ".sock";
// The unit's name, which is also its location: its socket's file name without the suffix.
std::string UnitNameOf(const std::string& socketPath);

// The address of the unit socket at `path`; false when the path is too long for one.
bool FillUnitAddress(const std::string& path, sockaddr_un& address);

} // namespace winapi::posix
