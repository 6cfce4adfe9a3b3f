#include "DeviceFile.h"

#include "DeviceClaim.h"
#include "HidrawSource.h"
#include "VirtualUnitSource.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
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

bool DeviceSourceEnabled(TDeviceSource source)
{
    const char* list = std::getenv("TOLVANE_DEVICE_SOURCES");
    if (!list || !*list)
        return true;
    const std::string_view wanted = source == TDeviceSource::Virtual ? "virtual" : "hidraw";
    bool enabled = false;
    for (std::string_view rest = list; !rest.empty();) {
        const std::size_t comma = rest.find(',');
        const std::string_view word = rest.substr(0, comma);
        if (word == wanted)
            enabled = true;
        else if (word != "virtual" && word != "hidraw")
            DiagnoseOnce("TOLVANE_DEVICE_SOURCES: unknown source \"" + std::string(word)
                         + "\" ignored (known: virtual, hidraw)");
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return enabled;
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
    std::vector<TDeviceRecord> records;
    if (DeviceSourceEnabled(TDeviceSource::Virtual))
        records = TVirtualUnitSource().Enumerate();
    if (DeviceSourceEnabled(TDeviceSource::Hidraw))
        for (auto& record : EnumerateHidrawDevices())
            records.push_back(std::move(record));
    return records;
}

namespace {

std::shared_ptr<TDeviceFile> OpenFromSource(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    if (IsHidrawPath(path)) {
        if (DeviceSourceEnabled(TDeviceSource::Hidraw))
            return OpenHidrawDevice(path, access, overlapped, error);
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (!DeviceSourceEnabled(TDeviceSource::Virtual)) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return OpenVirtualUnit(path, access, overlapped, error);
}

} // namespace

std::shared_ptr<TDeviceFile> OpenDevice(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    auto file = OpenFromSource(path, access, overlapped, error);
    if (file)
        RememberDevicePath(path);
    return file;
}

} // namespace winapi::posix
