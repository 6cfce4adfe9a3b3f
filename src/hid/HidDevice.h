#pragma once

#include "HidDeviceClaim.h"
#include "HidEvents.h"
#include "HidPnPInfo.h"

#include "winapi/winapi.h"

#include <atomic>
#include <cstdint>
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

// What one output report's write came to: on failure the system's error code, recorded at
// the failing call, and its text.
struct THidWriteResult {
    bool Ok = false;
    std::uint32_t Written = 0;
    std::uint32_t Error = 0;
    // The system's text for Error, without its line break and closing full stop.
    std::string ErrorText;
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
    void ReadCapabilities(HIDP_CAPS& caps);
    // Report ID byte included; 0 when the capabilities cannot be read.
    std::uint16_t OutputReportLength();
    std::u16string GetProductText();
    // Writes count bytes as one output report.
    THidWriteResult WriteReport(const void* buffer, std::uint32_t count);
    std::int32_t ReaderSleepTime() const { return FReaderSleepTime; }
    void SetReaderSleepTime(std::int32_t value);
    const THidDataEvent& OnReportData() const { return FOnReportData; }
    void SetOnReportData(THidDataEvent handler);
    const THidDataErrorEvent& OnReadError() const { return FOnReadError; }
    const THidPlugEvent& OnDetach() const { return FOnDetach; }
    void SetOnDetach(THidPlugEvent handler) { FOnDetach = handler; }
    void Detach();

    // False once the unit is gone: the object never stands for it again.
    bool Attached() const { return FAttached; }
    // Lent by the controller.
    bool Acquired() const { return FAcquired; }
    // Opened with read and write access, not for query only.
    bool FullAccess() const { return FFullAccess; }
    bool ReaderRunning() const { return FReader != nullptr; }
    // The last check-out passed it over: another controller, in this process or another,
    // holds it. Cleared once the controller sees it free again.
    bool ClaimedElsewhere() const { return FClaimedElsewhere; }
    const HIDD_ATTRIBUTES& HidAttributes() const { return FHidAttributes; }
    const THidPnPInfo& DeviceInfo() const { return *FDeviceInfo; }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    PHIDP_PREPARSED_DATA GetPreparsed();
    // For the reader: one overlapped read on the read handle, and what it brought.
    bool BeginRead(void* buffer, DWORD count, LPOVERLAPPED_COMPLETION_ROUTINE completion);
    DWORD LastReadCount();
    bool CancelPending(TOverlapDirection direction);
    void StartReader();
    void StopReader();

    HANDLE OpenPath(DWORD access, DWORD flags) const;
    // Opens the device handle with read and write access, else for query only.
    bool OpenBestAccess();
    bool OpenReadHandleLocked();
    void CloseReadHandleLocked();

    // The main thread's, unless said otherwise.
    THidDeviceController* FController;
    // Read by the reader too, through IsUsable.
    std::atomic<bool> FAttached{true};
    std::atomic<bool> FAcquired{false};
    std::atomic<bool> FNotifying{false};
    HIDD_ATTRIBUTES FHidAttributes{};
    // Set before a reader starts and moved out only after it stopped, so the reader reads
    // the interface path unguarded.
    std::unique_ptr<THidPnPInfo> FDeviceInfo;
    std::atomic<std::int32_t> FReaderSleepTime{100};
    // The reader calls these only through its hand-over to the main thread.
    THidDataEvent FOnReportData;
    THidDataErrorEvent FOnReadError;
    THidPlugEvent FOnDetach;
    bool FFullAccess = false;
    // Held from check-out to check-in.
    std::unique_ptr<THidDeviceClaim> FClaim;
    bool FClaimedElsewhere = false;
    std::unique_ptr<THidDeviceReadThread> FReader;

    HANDLE FDeviceHandle = INVALID_HANDLE_VALUE;
    HANDLE FWriteHandle = INVALID_HANDLE_VALUE;
    std::u16string FProductText;
    PHIDP_PREPARSED_DATA FPreparsed = nullptr;
    DWORD FDeviceBufferCount = 0;
    // The read handle is opened on the reader thread and may be closed by the main thread
    // when the unit goes away; FReadLock guards it, its overlap and its buffer count, so
    // that a close cannot land between the reader's check and its use of the handle.
    std::mutex FReadLock;
    HANDLE FReadHandle = INVALID_HANDLE_VALUE;
    OVERLAPPED FReadOverlap{};
    DWORD FReadBufferCount = 0;
};

} // namespace hid
