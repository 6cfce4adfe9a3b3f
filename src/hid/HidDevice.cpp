#include "HidDevice.h"

#include "Hid.h"
#include "HidDeviceController.h"
#include "HidDeviceReadThread.h"
#include "ModuleLoader.h"

#include <algorithm>
#include <cstring>

namespace hid {

namespace {
constexpr ULONG ProductBufferBytes = 508;
constexpr std::size_t ProductMaxChars = 254;
constexpr DWORD ShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Plenty for one report; a unit that takes none in this time has stopped reading.
constexpr DWORD WriteTimeoutMs = 1000;
// The system's text for an error code, without its line break and closing full stop.
std::string SystemMessage(DWORD error)
{
    char buffer[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                       sizeof buffer, nullptr)
        == 0)
        return {};
    std::string text(buffer, strnlen(buffer, sizeof buffer));
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.pop_back();
    return text;
}

// Records the calling thread's last error in result, where the failure happened.
THidWriteResult& Failed(THidWriteResult& result)
{
    result.Error = GetLastError();
    result.ErrorText = SystemMessage(result.Error);
    return result;
}

} // namespace

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller)
    : FController(controller), FDeviceInfo(std::move(info))
{
    if (FController) {
        SetOnReportData(FController->OnDeviceData());
        FOnReadError = FController->OnDeviceDataError();
        FOnDetach = FController->OnDeviceUnplug();
    }
    if (!OpenBestAccess())
        throw EControllerError("device cannot be opened");
    FHidAttributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (!HidApi.HidD_GetAttributes(FDeviceHandle, &FHidAttributes)) {
        CloseDeviceHandle(); // a failed constructor runs no destructor
        throw EControllerError("device cannot be identified");
    }
    CloseDeviceHandle();
}

THidDevice::~THidDevice()
{
    SetOnReportData({});
    FOnDetach = {};
    CloseDeviceHandle();
    CloseOverlappedHandle(odRead);
    CloseOverlappedHandle(odWrite);
    if (FPreparsed)
        HidApi.HidD_FreePreparsedData(FPreparsed);
}

HANDLE THidDevice::OpenPath(DWORD access, DWORD flags) const
{
    return CreateFileA(FDeviceInfo->FInterfacePath.c_str(), access, ShareReadWrite, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

bool THidDevice::OpenBestAccess()
{
    // Devices the system reserves for itself open for query only.
    FDeviceHandle = OpenPath(GENERIC_READ | GENERIC_WRITE, 0);
    FFullAccess = FDeviceHandle != INVALID_HANDLE_VALUE;
    if (!FFullAccess)
        FDeviceHandle = OpenPath(0, 0);
    return FDeviceHandle != INVALID_HANDLE_VALUE;
}

bool THidDevice::IsUsable() const
{
    return FAttached && (FAcquired || FNotifying);
}

bool THidDevice::OpenDeviceHandle()
{
    if (IsUsable() && FDeviceHandle == INVALID_HANDLE_VALUE) {
        if (OpenBestAccess()) {
            ULONG count = 0;
            HidApi.HidD_GetNumInputBuffers(FDeviceHandle, &count);
            FDeviceBufferCount = count;
        }
    }
    return FDeviceHandle != INVALID_HANDLE_VALUE;
}

void THidDevice::CloseDeviceHandle()
{
    if (FDeviceHandle != INVALID_HANDLE_VALUE)
        CloseHandle(FDeviceHandle);
    FDeviceBufferCount = 0;
    FDeviceHandle = INVALID_HANDLE_VALUE;
}

bool THidDevice::OpenReadHandleLocked()
{
    if (FReadHandle == INVALID_HANDLE_VALUE) {
        FReadHandle = OpenPath(GENERIC_READ, FILE_FLAG_OVERLAPPED);
        if (FReadHandle != INVALID_HANDLE_VALUE) {
            ULONG count = 0;
            HidApi.HidD_GetNumInputBuffers(FReadHandle, &count);
            FReadBufferCount = count;
        }
    }
    return FReadHandle != INVALID_HANDLE_VALUE;
}

void THidDevice::CloseReadHandleLocked()
{
    if (FReadHandle != INVALID_HANDLE_VALUE)
        CloseHandle(FReadHandle);
    FReadHandle = INVALID_HANDLE_VALUE;
    FReadBufferCount = 0;
}

bool THidDevice::OpenOverlappedHandle(TOverlapDirection direction)
{
    if (!IsUsable())
        return false;
    if (direction == odRead) {
        std::lock_guard lock(FReadLock);
        return OpenReadHandleLocked();
    }
    if (FWriteHandle == INVALID_HANDLE_VALUE)
        FWriteHandle = OpenPath(GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    return FWriteHandle != INVALID_HANDLE_VALUE;
}

void THidDevice::CloseOverlappedHandle(TOverlapDirection direction)
{
    if (direction == odRead) {
        std::lock_guard lock(FReadLock);
        CloseReadHandleLocked();
        return;
    }
    if (FWriteHandle != INVALID_HANDLE_VALUE)
        CloseHandle(FWriteHandle);
    FWriteHandle = INVALID_HANDLE_VALUE;
}

PHIDP_PREPARSED_DATA THidDevice::GetPreparsed()
{
    if (!FPreparsed && OpenDeviceHandle()) {
        PHIDP_PREPARSED_DATA data = nullptr;
        if (HidApi.HidD_GetPreparsedData(FDeviceHandle, &data))
            FPreparsed = data;
        CloseDeviceHandle();
    }
    return FPreparsed;
}

void THidDevice::ReadCapabilities(HIDP_CAPS& caps)
{
    std::memset(&caps, 0, sizeof caps);
    // Without preparsed data there is nothing to ask the system about.
    if (PHIDP_PREPARSED_DATA data = GetPreparsed())
        HidApi.HidP_GetCaps(data, &caps);
}

std::u16string THidDevice::GetProductText()
{
    if (FProductText.empty() && OpenDeviceHandle()) {
        char16_t buffer[ProductBufferBytes / sizeof(char16_t)] = {};
        if (HidApi.HidD_GetProductString(FDeviceHandle, buffer, ProductBufferBytes)) {
            std::size_t length = 0;
            while (length < ProductMaxChars && buffer[length] != u'\0')
                ++length;
            FProductText.assign(buffer, length);
        }
        CloseDeviceHandle();
    }
    return FProductText;
}

std::uint16_t THidDevice::OutputReportLength()
{
    HIDP_CAPS caps;
    ReadCapabilities(caps);
    return caps.OutputReportByteLength;
}

THidWriteResult THidDevice::WriteReport(const void* buffer, std::uint32_t count)
{
    THidWriteResult result;
    // Overlapped, so that a unit that takes no report cannot hold the main thread: a
    // synchronous write to such a unit never returns.
    OVERLAPPED overlap{};
    if (OpenOverlappedHandle(odWrite))
        overlap.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlap.hEvent)
        return Failed(result);
    DWORD done = 0;
    bool ok = WriteFile(FWriteHandle, buffer, count, nullptr, &overlap);
    if (ok || GetLastError() == ERROR_IO_PENDING) {
        const bool timedOut = !ok && WaitForSingleObject(overlap.hEvent, WriteTimeoutMs) != WAIT_OBJECT_0;
        if (timedOut)
            CancelHandleIo(FWriteHandle);
        // Waits for the cancellation too: the system writes into overlap until it is over.
        ok = GetOverlappedResult(FWriteHandle, &overlap, &done, TRUE);
        if (!ok && timedOut)
            SetLastError(ERROR_SEM_TIMEOUT);
    }
    if (!ok)
        Failed(result);
    CloseHandle(overlap.hEvent);
    result.Ok = ok;
    result.Written = done;
    return result;
}

bool THidDevice::BeginRead(void* buffer, DWORD count, LPOVERLAPPED_COMPLETION_ROUTINE completion)
{
    std::lock_guard lock(FReadLock);
    if (!IsUsable() || !OpenReadHandleLocked())
        return false;
    std::memset(&FReadOverlap, 0, sizeof FReadOverlap);
    FReadOverlap.hEvent = this;
    return ReadFileEx(FReadHandle, buffer, count, &FReadOverlap, completion);
}

DWORD THidDevice::LastReadCount()
{
    std::lock_guard lock(FReadLock);
    DWORD count = 0;
    if (FReadHandle != INVALID_HANDLE_VALUE && !GetOverlappedResult(FReadHandle, &FReadOverlap, &count, FALSE))
        count = 0;
    return count;
}

bool THidDevice::CancelPending(TOverlapDirection direction)
{
    if (direction == odRead) {
        std::lock_guard lock(FReadLock);
        return FReadHandle != INVALID_HANDLE_VALUE && CancelHandleIo(FReadHandle);
    }
    return FWriteHandle != INVALID_HANDLE_VALUE && CancelHandleIo(FWriteHandle);
}

void THidDevice::SetReaderSleepTime(std::int32_t value)
{
    if (value >= 10 && value <= 10000)
        FReaderSleepTime = value;
}

void THidDevice::SetOnReportData(THidDataEvent handler)
{
    if (!handler)
        StopReader();
    FOnReportData = handler;
    StartReader();
}

void THidDevice::StartReader()
{
    if (!FOnReportData || !FAttached || !FAcquired || !FFullAccess || FReader)
        return;
    // A device without input reports would only spin through failed reads.
    HIDP_CAPS caps;
    ReadCapabilities(caps);
    if (caps.InputReportByteLength == 0)
        return;
    // Opened here rather than by the reader's first read: an answer to a command written
    // right after the check-out would otherwise reach no read handle and be lost.
    OpenOverlappedHandle(odRead);
    FReader = std::make_unique<THidDeviceReadThread>(this);
    FReader->Resume();
}

void THidDevice::StopReader()
{
    if (!FReader)
        return;
    FReader->Terminate();
    {
        // Ends the reader's wait now rather than at the end of its sleep slice.
        std::lock_guard lock(FReadLock);
        if (FReadHandle != INVALID_HANDLE_VALUE)
            CancelHandleIoEx(FReadHandle, &FReadOverlap);
    }
    FReader->WaitFor();
    FReader.reset();
}

void THidDevice::Detach()
{
    CloseDeviceHandle();
    {
        // Together, so that the reader cannot open a fresh read handle in between.
        std::lock_guard lock(FReadLock);
        CloseReadHandleLocked();
        FAttached = false;
    }
    CloseOverlappedHandle(odWrite);
    if (FOnDetach) {
        const THidPlugEvent handler = FOnDetach;
        FOnDetach = {};
        handler(this);
    }
}

} // namespace hid
