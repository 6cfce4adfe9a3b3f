#pragma once

#include "HidDevice.h"
#include "HidEvents.h"

#include "rtl/Component.h"
#include "winapi/winapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hid {

// A notification message as the hidden window receives it.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// Keeps the list of present HID interfaces, rebuilds it at every device-node broadcast, and
// lends devices by vendor and product identifier. It owns every device in its list; a
// holder only borrows the one it was lent.
class THidDeviceController : public rtl::TComponent {
public:
    explicit THidDeviceController(rtl::TComponent* owner);
    ~THidDeviceController() override;

    void DeviceChange();
    bool AcquireById(THidDevice*& Device, std::int32_t VendorId, std::int32_t ProductId);
    bool AcquireAt(THidDevice*& Device, std::int32_t Index, bool Eligible);
    void ReturnDevice(THidDevice*& Device);
    // Destroying a listed device: an attached one is replaced in place by a fresh, free
    // object for the same interface; a detached one leaves the list.
    void DestroyDevice(THidDevice* Device);
    void HandleNotifyMessage(TMessage& Message);
    // Another controller, in this process or another, holds the device now.
    bool InUseElsewhere(const THidDevice* Device) const;
    // AcquireById passes over a device this rejects, as if its identifiers did not match.
    using TAcquireFilter = std::function<bool(const THidDevice&)>;
    void SetAcquireFilter(TAcquireFilter accept) { FAcquireFilter = std::move(accept); }

    std::int32_t DevThreadSleepTime() const { return FDevThreadSleepTime; }
    void SetDevThreadSleepTime(std::int32_t value);
    std::string Version() const { return "1.0.34"; }
    void SetVersion(const std::string&) {}

    const THidPlugEvent& OnArrival() const { return FOnArrival; }
    void SetOnArrival(THidPlugEvent handler) { FOnArrival = handler; }
    const THidEnumerateEvent& OnEnumerate() const { return FOnEnumerate; }
    void SetOnEnumerate(THidEnumerateEvent handler) { FOnEnumerate = handler; }
    const rtl::TNotifyEvent& OnDeviceChange() const { return FOnDeviceChange; }
    void SetOnDeviceChange(rtl::TNotifyEvent handler);
    const THidDataEvent& OnDeviceData() const { return FOnDeviceData; }
    void SetOnDeviceData(THidDataEvent handler);
    const THidDataErrorEvent& OnDeviceDataError() const { return FOnDeviceDataError; }
    void SetOnDeviceDataError(THidDataErrorEvent handler);
    const THidPlugEvent& OnDeviceUnplug() const { return FOnDeviceUnplug; }
    void SetOnDeviceUnplug(THidPlugEvent handler);
    const THidPlugEvent& OnRemoval() const { return FOnRemoval; }
    void SetOnRemoval(THidPlugEvent handler) { FOnRemoval = handler; }

    std::size_t Count() const { return FDevices.size(); }
    THidDevice* Devices(std::size_t index) const { return FDevices[index].get(); }
    HWND NotifyWindow() const { return FNotifyWnd; }

private:
    using TDeviceList = std::vector<std::unique_ptr<THidDevice>>;

    // The new devices, and the instance of every device present.
    void CollectPresentDevices(TDeviceList& NewList, std::vector<DWORD>& Present);
    void NotifyArrival(THidDevice* Device);
    void NotifyRemoval(THidDevice* Device);
    void NotifyChange();
    TDeviceList::iterator Find(const THidDevice* Device);
    // While a device is passed over for another controller's claim, its claim is looked at
    // now and then, and a device change is raised once it is free.
    void WatchClaims();
    void CheckClaims();

    // The main thread's alone: notices come through the window procedure, and the readers
    // reach it only through their hand-over.
    GUID FInterfaceGuid{};
    THidPlugEvent FOnArrival;
    rtl::TNotifyEvent FOnDeviceChange;
    THidEnumerateEvent FOnEnumerate;
    THidDataEvent FOnDeviceData;
    THidDataErrorEvent FOnDeviceDataError;
    THidPlugEvent FOnDeviceUnplug;
    THidPlugEvent FOnRemoval;
    std::int32_t FDevThreadSleepTime = 100;
    TDeviceList FDevices;
    bool FRescanning = false;
    // The lParam of a notice not yet acted upon; one that comes during a rescan waits here.
    std::optional<std::int32_t> FPendingChange;
    bool FFirstScanPending = false;
    std::int32_t FLastChangeParam = 0;
    HWND FNotifyWnd = nullptr;
    bool FWatchingClaims = false;
    TAcquireFilter FAcquireFilter;
    // What this controller bound, and so unbinds.
    bool FSetupApiBound = false;
    bool FHidBound = false;
};

} // namespace hid
