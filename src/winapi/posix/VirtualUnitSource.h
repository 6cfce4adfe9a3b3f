#pragma once

#include "DeviceFile.h"
#include "UnitHello.h"

#include <memory>
#include <string>
#include <vector>

namespace winapi::posix {

// Virtual units: one SOCK_SEQPACKET listening socket per placed unit in the unit directory.
// Every open is a new connection: the unit greets it with its hello, the client says how it
// opens, and from then on each message is one report.
//
// The source keeps one connection to every unit it has met, opened for query only (see
// TUnitRegistry): a rescan takes a known unit's identity from it without connecting again, and
// its hang-up tells that the unit died even when its socket file stays behind. A unit that has
// not greeted yet stays on trial and is announced once it does.
class TVirtualUnitSource {
public:
    // Resolves and prepares the unit directory; an unusable one is reported once and gives
    // a source with no units.
    TVirtualUnitSource();

    bool IsUsable() const { return FUsable; }
    const std::string& Directory() const { return FDirectory; }

    // The placed units that have greeted, in byte order of their socket names. Waits a short,
    // bounded time for the hellos of units met for the first time; never connects to a unit
    // it already knows.
    std::vector<TDeviceRecord> Enumerate() const;

private:
    std::string FDirectory;
    bool FUsable = false;
};

std::shared_ptr<TDeviceFile> OpenVirtualUnit(const std::string& path, DWORD access, bool overlapped, DWORD& error);

} // namespace winapi::posix
