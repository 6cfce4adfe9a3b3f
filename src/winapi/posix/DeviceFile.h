#pragma once

#include "Handles.h"

#include <atomic>
#include <string>
#include <vector>

namespace winapi::posix {

// What a HID interface tells about itself: attributes, capability lengths, product text.
struct TDeviceIdentity {
    USHORT VendorId = 0;
    USHORT ProductId = 0;
    USHORT VersionNumber = 0;
    USHORT InputLength = 0;  // report-ID byte included
    USHORT OutputLength = 0; // likewise
    USHORT FeatureLength = 0;
    USHORT UsagePage = 0xFF00; // of the top-level collection
    USHORT Usage = 0x0001;
    bool QueryOnly = false; // the system would open it for query only
    DWORD Instance = 0;
    std::string Product; // UTF-8
};

struct TDeviceRecord {
    std::string Path;
    TDeviceIdentity Identity;
    // Plug-and-play properties a system source knows of its device; a virtual unit has none.
    std::vector<std::string> HardwareIds{};
    std::string Service{};
    std::string Location{};
};

struct TReadOutcome {
    bool WouldBlock = false;
    DWORD Error = ERROR_SUCCESS;
    DWORD Bytes = 0;
};

// An open HID interface: the object behind a device HANDLE, whatever source it came from.
class TDeviceFile : public THandleObject {
public:
    TDeviceFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped);

    const std::string& Path() const { return FPath; }
    const TDeviceIdentity& Identity() const { return FIdentity; }
    bool CanRead() const { return FAccess & GENERIC_READ; }
    bool CanWrite() const { return FAccess & GENERIC_WRITE; }
    DWORD Access() const { return FAccess; }
    bool IsOverlapped() const { return FOverlapped; }
    bool IsClosed() const { return FClosed; }
    // The device went away under this handle: reads and writes fail from now on.
    bool IsGone() const { return FGone; }

    // Readable when a report, or the end of the device, is waiting.
    virtual int PollFd() const = 0;
    // Readable once the handle has been closed, so that a waiting reader wakes.
    int WakeFd() const { return FWake.Get(); }

    // One input report, without blocking. Bytes is always the input report length when it
    // succeeds: a unit's short report is zero-filled, a long one cut, each with a diagnostic.
    virtual TReadOutcome ReadReport(BYTE* buffer) = 0;
    // One output report of exactly the output report length; the Windows error or 0. A device
    // that takes no report within waitMs gives ERROR_SEM_TIMEOUT and nothing is written; with
    // waitMs 0 it is one attempt that never blocks (an overlapped write then stays pending).
    virtual DWORD WriteReport(const BYTE* data, DWORD count, DWORD waitMs) = 0;

    void Close() override;

    // CancelIoEx: ends the reads pending on this handle in whatever thread waits for them;
    // false when none is pending.
    bool CancelPendingReads();
    // The wait that saw WakeFd() takes a cancel here, so that later reads are not aborted.
    void TakeCancel();
    std::atomic<int> PendingReads{0};

    std::atomic<ULONG> NumInputBuffers{32};

protected:
    // The one place a failed transfer is judged: the Windows error for errno, and every
    // disconnect-class error (reset, broken pipe, not connected, no device, ...) marks the
    // device gone, so that no later call waits on it or tries it again.
    DWORD FailWith(int err);
    void MarkGone() { FGone = true; }

private:
    std::string FPath;
    TDeviceIdentity FIdentity;
    DWORD FAccess;
    bool FOverlapped;
    TFd FWake;
    std::atomic<bool> FClosed{false};
    std::atomic<bool> FCancelled{false};
    std::atomic<bool> FGone{false};
};

// All device sources together: virtual units and, on Linux, hidraw devices. The
// environment variable TOLVANE_DEVICE_SOURCES (a comma list of "virtual" and "hidraw")
// restricts them; both are used when it is unset.
enum class TDeviceSource { Virtual, Hidraw };
bool DeviceSourceEnabled(TDeviceSource source);
std::vector<TDeviceRecord> EnumeratePresentDevices();
std::shared_ptr<TDeviceFile> OpenDevice(const std::string& path, DWORD access, bool overlapped, DWORD& error);

} // namespace winapi::posix
