#pragma once

#include "DeviceFile.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct pollfd;

namespace winapi::posix {

// Virtual units: one SOCK_SEQPACKET listening socket per placed unit in the unit directory.
// Every open is a new connection: the unit greets it with its hello, the client says how it
// opens, and from then on each message is one report.
//
// The source keeps one connection to every unit it has met, opened for query only: a rescan
// takes a known unit's identity from it without connecting again, and its hang-up tells that
// the unit died even when its socket file stays behind. A unit that has not greeted yet stays
// on trial and is announced once it does.
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

// What a device-change monitor polls on behalf of the virtual units: a descriptor that wakes
// it when a scan changed the set, and the connections to the units met so far.
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

std::shared_ptr<TDeviceFile> OpenVirtualUnit(const std::string& path, DWORD access, bool overlapped, DWORD& error);

// The unit's hello: key=value lines, product last and running to the end. Unknown keys are
// skipped. Gives nothing, with the reason in why, when a key is missing or out of range.
std::optional<TDeviceIdentity> ParseUnitHello(std::string_view hello, std::string& why);

} // namespace winapi::posix
