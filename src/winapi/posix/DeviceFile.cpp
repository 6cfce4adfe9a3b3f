#include "DeviceFile.h"

#include "VirtualUnitSource.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace winapi::posix {

TDeviceFile::TDeviceFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped)
    : FPath(std::move(path)), FIdentity(std::move(identity)), FAccess(access), FOverlapped(overlapped),
      FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

void TDeviceFile::Close()
{
    FClosed = true;
    const std::uint64_t one = 1;
    if (FWake.IsOpen() && write(FWake.Get(), &one, sizeof one) < 0) {
        // The counter cannot overflow from one write; nothing else can fail here.
    }
}

bool TDeviceFile::CancelPendingReads()
{
    if (PendingReads == 0)
        return false;
    FCancelled = true;
    const std::uint64_t one = 1;
    if (FWake.IsOpen() && write(FWake.Get(), &one, sizeof one) < 0) {
        // As in Close: one write cannot overflow the counter.
    }
    return true;
}

void TDeviceFile::TakeCancel()
{
    if (!FCancelled.exchange(false) || FClosed)
        return;
    std::uint64_t count = 0;
    if (read(FWake.Get(), &count, sizeof count) < 0) {
        // Already drained by another wait on the same handle.
    }
}

DWORD TDeviceFile::FailWith(int err)
{
    const DWORD error = ErrorFromErrno(err);
    if (error == ERROR_DEVICE_NOT_CONNECTED)
        MarkGone();
    return error;
}

std::vector<TDeviceRecord> EnumeratePresentDevices()
{
    return TVirtualUnitSource().Enumerate();
}

std::shared_ptr<TDeviceFile> OpenDevice(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    return OpenVirtualUnit(path, access, overlapped, error);
}

} // namespace winapi::posix
