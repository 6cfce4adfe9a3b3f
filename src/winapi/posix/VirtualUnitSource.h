#pragma once

#include "DeviceFile.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winapi::posix {

// Virtual units: one SOCK_SEQPACKET listening socket per placed unit in the unit directory.
// Every open is a new connection: the unit greets it with its hello, the client says how it
// opens, and from then on each message is one report.
class TVirtualUnitSource {
public:
    // Resolves and prepares the unit directory; an unusable one is reported once and gives
    // a source with no units.
    TVirtualUnitSource();

    bool IsUsable() const { return FUsable; }
    const std::string& Directory() const { return FDirectory; }

    // The placed units in byte order of their socket names.
    std::vector<TDeviceRecord> Enumerate() const;

private:
    std::string FDirectory;
    bool FUsable = false;
};

std::shared_ptr<TDeviceFile> OpenVirtualUnit(const std::string& path, DWORD access, bool overlapped, DWORD& error);

// The unit's hello: key=value lines, product last and running to the end. Unknown keys are
// skipped. Gives nothing, with the reason in why, when a key is missing or out of range.
std::optional<TDeviceIdentity> ParseUnitHello(std::string_view hello, std::string& why);

} // namespace winapi::posix
