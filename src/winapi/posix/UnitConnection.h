#pragma once

#include "DeviceFile.h"

#include <chrono>
#include <string>

namespace winapi::posix {

// A unit whose backlog is full refuses a non-blocking connect for now; an open retries this long.
inline constexpr std::chrono::milliseconds UnitConnectWait{250};

// One connection attempt that never blocks: the socket, or the errno in err (EAGAIN: the
// unit's backlog is full, ECONNREFUSED: nobody listens, as after a unit was killed).
TFd ConnectNow(const std::string& path, int& err);
// Tries again while the backlog is full, within `wait`.
TFd ConnectWithin(const std::string& path, std::chrono::milliseconds wait, int& err);

// A SEQPACKET socket reads 0 both for an empty message and at the end; only a hang-up tells
// the end.
bool PeerClosed(int socket);

// A handle on a virtual unit: one connection of its own, each message one report.
class TVirtualUnitFile final : public TDeviceFile {
public:
    TVirtualUnitFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped, TFd socket);

    int PollFd() const override { return FSocket.Get(); }

    // Connects a handle opened on an identity already known; the unit's hello on the new
    // connection is skipped by the first read.
    DWORD Connect();

    TReadOutcome ReadReport(BYTE* buffer) override;
    DWORD WriteReport(const BYTE* data, DWORD count, DWORD waitMs) override;

private:
    TFd FSocket;
    // Set on the reader thread only, where the hello of the connection is read past.
    bool FHelloPending = false;
};

} // namespace winapi::posix
