#pragma once

#include "HidEvents.h"
#include "HidPnPInfo.h"

#include "winapi/winapi.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace hid {

class THidDeviceController;
class THidDeviceReadThread;

enum TOverlapDirection { odRead, odWrite };

// The one exception of the HID layer; the controller's enumeration catches it.
class EControllerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One HID interface found by the controller. Handles are opened when needed and closed
// after use; attributes, preparsed data and the product text are cached. While lent with a
// data handler and full access, the device owns a reader thread.
class THidDevice {
public:
    // Opens and identifies the interface; raises EControllerError when it cannot.
    THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller);
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;
    ~THidDevice();

    bool IsUsable() const;
    bool OpenDeviceHandle();
    void CloseDeviceHandle();
    bool OpenOverlappedHandle(TOverlapDirection direction);
    void CloseOverlappedHandle(TOverlapDirection direction);
    PHIDP_PREPARSED_DATA GetPreparsed();
    void ReadCapabilities(HIDP_CAPS& caps);
    std::u16string GetProductText();
    bool WriteReport(const void* buffer, DWORD count, DWORD& written);
    bool BeginRead(void* buffer, DWORD count, LPOVERLAPPED_COMPLETION_ROUTINE completion);
    DWORD LastReadCount();
    bool CancelPending(TOverlapDirection direction);
    void SetReaderSleepTime(std::int32_t value);
    void SetOnReportData(THidDataEvent handler);
    void StartReader();
    void StopReader();
    void Detach();

    // Read and written directly by the controller and, for FAttached, by the holder. The
    // flags the reader looks at from its own thread are atomic.
    THidDeviceController* FController;
    std::atomic<bool> FAttached{true};
    std::atomic<bool> FAcquired{false};
    std::atomic<bool> FNotifying{false};
    HIDD_ATTRIBUTES FHidAttributes{};
    std::unique_ptr<THidPnPInfo> FDeviceInfo;
    std::atomic<std::int32_t> FReaderSleepTime{100};
    THidDataEvent FOnReportData;
    THidDataErrorEvent FOnReadError;
    THidPlugEvent FOnDetach;
    bool FFullAccess = false;
    std::unique_ptr<THidDeviceReadThread> FReader;

private:
    HANDLE OpenPath(DWORD access, DWORD flags) const;
    // Opens the device handle with read and write access, else for query only.
    bool OpenBestAccess();
    bool OpenReadHandleLocked();
    void CloseReadHandleLocked();

    HANDLE FDeviceHandle = INVALID_HANDLE_VALUE;
    // The read handle is opened on the reader thread and may be closed by the main thread
    // when the unit goes away; FReadLock keeps a close from landing between the reader's
    // check and its use of the handle.
    std::mutex FReadLock;
    HANDLE FReadHandle = INVALID_HANDLE_VALUE;
    HANDLE FWriteHandle = INVALID_HANDLE_VALUE;
    OVERLAPPED FReadOverlap{};
    std::u16string FProductText;
    PHIDP_PREPARSED_DATA FPreparsed = nullptr;
    DWORD FDeviceBufferCount = 0;
    DWORD FReadBufferCount = 0;
};

} // namespace hid
