#include "HidDeviceController.h"

#include "Hid.h"
#include "SetupApi.h"

#include "rtl/Application.h"
#include "rtl/ProgramName.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace hid {

namespace {

// GUID_DEVINTERFACE_HID, for when HID.dll cannot tell it.
constexpr GUID DefaultHidInterfaceGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr const char* NotifyWindowClass = "THidDeviceControllerNotify";
constexpr std::int32_t FirstScanParam = -1;
constexpr UINT_PTR ClaimWatchTimer = 1;
// Slow: a waiting tool need not take a unit the moment the other one lets it go.
constexpr UINT ClaimWatchMs = 500;

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* controller = reinterpret_cast<THidDeviceController*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!controller)
        return DefWindowProcA(window, message, wParam, lParam);
    TMessage notice{message, wParam, lParam, 0};
    // The system calls in here: nothing may leave, and the next broadcast must still rescan.
    try {
        controller->HandleNotifyMessage(notice);
    } catch (...) {
        rtl::Application->HandleException(std::current_exception());
    }
    return notice.Result;
}

HWND CreateNotifyWindow()
{
    static const bool registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = NotifyWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = NotifyWindowClass;
        return RegisterClassA(&windowClass) != 0;
    }();
    if (!registered)
        return nullptr;
    // A hidden top-level window, not a message-only one: only those get the broadcasts.
    return CreateWindowExA(WS_EX_TOOLWINDOW, NotifyWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

} // namespace

THidDeviceController::THidDeviceController(rtl::TComponent* owner) : rtl::TComponent(owner)
{
    FSetupApiBound = BindSetupApi();
    FHidBound = FSetupApiBound && BindHid();
    if (FHidBound) {
        HidApi.HidD_GetHidGuid(&FInterfaceGuid);
        FNotifyWnd = CreateNotifyWindow();
        if (FNotifyWnd) {
            SetWindowLongPtrA(FNotifyWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            // The first scan runs from the message loop, once the owner has finished loading.
            FFirstScanPending =
                PostMessageA(FNotifyWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, FirstScanParam) != FALSE;
        } else {
            // Without it no scan ever runs: say so rather than wait for a unit in silence.
            std::fprintf(stderr, "%s: cannot create the device-notification window (error %lu): no device is scanned\n",
                         rtl::ProgramName(), static_cast<unsigned long>(GetLastError()));
        }
    } else {
        FInterfaceGuid = DefaultHidInterfaceGuid;
    }
}

THidDeviceController::~THidDeviceController()
{
    FOnDeviceChange = {};
    FOnDeviceUnplug = {};
    FOnEnumerate = {};
    if (FNotifyWnd) {
        if (FWatchingClaims)
            KillTimer(FNotifyWnd, ClaimWatchTimer);
        DestroyWindow(FNotifyWnd);
    }
    for (auto& device : FDevices) {
        device->FController = nullptr;
        if (device->FAcquired) {
            // No reader may outlive the controller: stop it before its device goes. Reports
            // still on their way are dropped, since their handler's owner is going too.
            device->FOnReportData = {};
            device->FOnReadError = {};
            device->StopReader();
            device->Detach();
        }
    }
    FDevices.clear();
    if (FHidBound)
        UnbindHid();
    if (FSetupApiBound)
        UnbindSetupApi();
}

void THidDeviceController::HandleNotifyMessage(TMessage& Message)
{
    const auto param = static_cast<std::int32_t>(Message.LParam);
    bool act = Message.Msg == WM_DEVICECHANGE && Message.WParam == DBT_DEVNODES_CHANGED;
    if (Message.Msg == WM_TIMER && Message.WParam == ClaimWatchTimer)
        CheckClaims();
    if (act && param == FirstScanParam)
        FFirstScanPending = false;
    // A broadcast ahead of the posted first scan is left to that scan, which finds the same
    // devices: acted upon, it would list them first and the first scan would then report a
    // change of nothing.
    else if (FFirstScanPending)
        act = false;
    if (act) {
        // A notice that comes while a rescan runs may be of a change after its enumeration;
        // dropping it would leave a new device unseen until some later broadcast.
        FPendingChange = param;
        if (!FRescanning) {
            FRescanning = true;
            try {
                while (FPendingChange) {
                    FLastChangeParam = *FPendingChange;
                    FPendingChange.reset();
                    DeviceChange();
                }
            } catch (...) {
                FRescanning = false;
                FPendingChange.reset();
                throw;
            }
            FRescanning = false;
        }
    }
    Message.Result = DefWindowProcA(FNotifyWnd, Message.Msg, Message.WParam, Message.LParam);
}

void THidDeviceController::CollectPresentDevices(TDeviceList& NewList, std::vector<DWORD>& Present)
{
    if (!HidBound())
        return;
    HDEVINFO set =
        SetupApi.SetupDiGetClassDevsA(&FInterfaceGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupApi.SetupDiEnumDeviceInterfaces(set, nullptr, &FInterfaceGuid, index, &interfaceData))
            break;
        SP_DEVINFO_DATA deviceData{};
        deviceData.cbSize = sizeof deviceData;
        DWORD needed = 0;
        SetupApi.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &needed, &deviceData);
        // An interface whose detail cannot be read is skipped; the walk goes on.
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            continue;
        std::vector<std::max_align_t> block((needed + sizeof(std::max_align_t)) / sizeof(std::max_align_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupApi.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, needed, &needed, &deviceData))
            continue;
        // A device already listed is not opened again: a rescan touches only what is new.
        Present.push_back(deviceData.DevInst);
        if (std::any_of(FDevices.begin(), FDevices.end(), [&](const auto& device) {
                return device->FAttached && device->FDeviceInfo->FInstance == deviceData.DevInst;
            }))
            continue;
        // The path is zero-terminated within the block, which holds one spare byte at least.
        reinterpret_cast<char*>(block.data())[block.size() * sizeof(std::max_align_t) - 1] = '\0';
        try {
            auto info = std::make_unique<THidPnPInfo>(set, deviceData, detail->DevicePath);
            NewList.push_back(std::make_unique<THidDevice>(std::move(info), this));
        } catch (const std::exception&) {
            // Cannot be described, opened or identified: not one of ours to list.
        }
    }
    SetupApi.SetupDiDestroyDeviceInfoList(set);
}

THidDeviceController::TDeviceList::iterator THidDeviceController::Find(const THidDevice* Device)
{
    return std::find_if(FDevices.begin(), FDevices.end(), [&](const auto& held) { return held.get() == Device; });
}

void THidDeviceController::DeviceChange()
{
    bool changed = FLastChangeParam == FirstScanParam;
    TDeviceList fresh;
    std::vector<DWORD> present;
    CollectPresentDevices(fresh, present);

    auto presentIn = [&](const THidDevice& held) {
        return held.FAttached
            && std::find(present.begin(), present.end(), held.FDeviceInfo->FInstance) != present.end();
    };
    // Handlers may return devices meanwhile, so each held device is looked up again before
    // it is touched.
    std::vector<THidDevice*> held;
    for (const auto& device : FDevices)
        held.push_back(device.get());
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        THidDevice* device = *it;
        if (Find(device) == FDevices.end() || presentIn(*device))
            continue;
        device->Detach();
        NotifyRemoval(device);
        changed = true;
        if (const auto position = Find(device); position != FDevices.end() && !device->FAcquired)
            FDevices.erase(position);
    }

    for (auto& found : fresh) {
        const bool known = std::any_of(FDevices.begin(), FDevices.end(), [&](const auto& device) {
            return device->FAttached && device->FDeviceInfo->FInstance == found->FDeviceInfo->FInstance;
        });
        if (known) {
            found->FController = nullptr;
            found.reset();
        }
    }
    for (auto& found : fresh) {
        if (!found)
            continue;
        THidDevice* device = found.get();
        FDevices.push_back(std::move(found));
        changed = true;
        NotifyArrival(device);
    }
    if (changed)
        NotifyChange();
}

bool THidDeviceController::AcquireById(THidDevice*& Device, std::int32_t VendorId, std::int32_t ProductId)
{
    Device = nullptr;
    for (std::size_t index = 0; index < FDevices.size(); ++index) {
        const HIDD_ATTRIBUTES& id = FDevices[index]->FHidAttributes;
        const bool eligible = static_cast<std::int32_t>(id.VendorID) == VendorId
            && (static_cast<std::int32_t>(id.ProductID) == ProductId || ProductId == -1)
            && (!FAcquireFilter || FAcquireFilter(*FDevices[index]));
        if (AcquireAt(Device, static_cast<std::int32_t>(index), eligible))
            return true;
    }
    return false;
}

bool THidDeviceController::AcquireAt(THidDevice*& Device, std::int32_t Index, bool Eligible)
{
    if (!Eligible || Index < 0 || static_cast<std::size_t>(Index) >= FDevices.size())
        return false;
    THidDevice* candidate = FDevices[static_cast<std::size_t>(Index)].get();
    if (candidate->FAcquired)
        return false;
    auto claim = std::make_unique<THidDeviceClaim>(candidate->FDeviceInfo->FInterfacePath);
    candidate->FClaimedElsewhere = claim->HeldElsewhere();
    if (candidate->FClaimedElsewhere) {
        WatchClaims();
        return false;
    }
    Device = candidate;
    Device->FClaim = std::move(claim);
    Device->FAcquired = true;
    try {
        Device->StartReader();
    } catch (...) {
        // Not lent after all (its reader cannot run): a later device change tries again.
        ReturnDevice(Device);
        throw;
    }
    return true;
}

void THidDeviceController::ReturnDevice(THidDevice*& Device)
{
    if (!Device)
        return;
    Device->StopReader();
    Device->CloseDeviceHandle();
    Device->CloseOverlappedHandle(odRead);
    Device->CloseOverlappedHandle(odWrite);
    Device->FClaim.reset();
    if (Device->FAttached)
        Device->FAcquired = false;
    else
        DestroyDevice(Device);
    Device = nullptr;
}

void THidDeviceController::DestroyDevice(THidDevice* Device)
{
    const auto position = Find(Device);
    if (position == FDevices.end())
        return;
    std::unique_ptr<THidDevice> old = std::move(*position);
    if (!old->FAttached) {
        old.reset();
        FDevices.erase(Find(nullptr));
        return;
    }
    const THidDataEvent data = old->FOnReportData;
    const THidPlugEvent detach = old->FOnDetach;
    const std::int32_t sleepTime = old->FReaderSleepTime;
    // The reader opens the unit by the record's path: it must be gone before the record moves.
    old->StopReader();
    std::unique_ptr<THidPnPInfo> info = std::move(old->FDeviceInfo);
    old.reset();
    try {
        auto replacement = std::make_unique<THidDevice>(std::move(info), this);
        replacement->SetOnReportData(data);
        replacement->FOnDetach = detach;
        replacement->SetReaderSleepTime(sleepTime);
        *Find(nullptr) = std::move(replacement);
    } catch (const std::exception&) {
        // The interface no longer opens: its position goes rather than stand empty.
        FDevices.erase(Find(nullptr));
    }
}

bool THidDeviceController::InUseElsewhere(const THidDevice* Device) const
{
    return Device && !Device->FAcquired && THidDeviceClaim::IsHeldElsewhere(Device->FDeviceInfo->FInterfacePath);
}

void THidDeviceController::WatchClaims()
{
    if (FWatchingClaims || !FNotifyWnd)
        return;
    FWatchingClaims = SetTimer(FNotifyWnd, ClaimWatchTimer, ClaimWatchMs, nullptr) != 0;
}

void THidDeviceController::CheckClaims()
{
    bool freed = false;
    bool waiting = false;
    for (const auto& device : FDevices) {
        if (!device->FClaimedElsewhere)
            continue;
        if (device->FAttached && !device->FAcquired && InUseElsewhere(device.get())) {
            waiting = true;
            continue;
        }
        device->FClaimedElsewhere = false;
        freed = freed || (device->FAttached && !device->FAcquired);
    }
    if (!waiting && FWatchingClaims) {
        KillTimer(FNotifyWnd, ClaimWatchTimer);
        FWatchingClaims = false;
    }
    if (freed)
        NotifyChange();
}

void THidDeviceController::NotifyArrival(THidDevice* Device)
{
    if (!FOnArrival)
        return;
    Device->FNotifying = true;
    FOnArrival(Device);
    Device->FNotifying = false;
}

void THidDeviceController::NotifyRemoval(THidDevice* Device)
{
    if (!FOnRemoval)
        return;
    Device->FNotifying = true;
    FOnRemoval(Device);
    Device->FNotifying = false;
}

void THidDeviceController::NotifyChange()
{
    if (FOnDeviceChange)
        FOnDeviceChange(this);
}

void THidDeviceController::SetOnDeviceChange(rtl::TNotifyEvent handler)
{
    if (handler.SameRoutine(FOnDeviceChange))
        return;
    FOnDeviceChange = handler;
    if (!Loading())
        DeviceChange();
}

void THidDeviceController::SetDevThreadSleepTime(std::int32_t value)
{
    if (value == FDevThreadSleepTime)
        return;
    for (const auto& device : FDevices)
        if (device->FReaderSleepTime == FDevThreadSleepTime)
            device->SetReaderSleepTime(value);
    FDevThreadSleepTime = value;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler)
{
    if (handler.SameRoutine(FOnDeviceData))
        return;
    for (const auto& device : FDevices)
        if (device->FOnReportData.SameRoutine(FOnDeviceData))
            device->SetOnReportData(handler);
    FOnDeviceData = handler;
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler)
{
    if (handler.SameRoutine(FOnDeviceDataError))
        return;
    for (const auto& device : FDevices)
        if (device->FOnReadError.SameRoutine(FOnDeviceDataError))
            device->FOnReadError = handler;
    FOnDeviceDataError = handler;
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler)
{
    if (handler.SameRoutine(FOnDeviceUnplug))
        return;
    for (const auto& device : FDevices)
        if (device->FOnDetach.SameRoutine(FOnDeviceUnplug))
            device->FOnDetach = handler;
    FOnDeviceUnplug = handler;
}

} // namespace hid
