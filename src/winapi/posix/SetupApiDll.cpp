// The built-in SetupApi.dll: a snapshot of the present HID interfaces, their paths and the
// registry properties their sources know.

#include "BuiltinModules.h"
#include "DeviceFile.h"
#include "Guids.h"

#include <cstddef>
#include <cstring>
#include <optional>

using namespace winapi::posix;

namespace {

class TDevInfoSet final : public THandleObject {
public:
    std::vector<TDeviceRecord> Records;
};

struct TProperty {
    DWORD Type;
    std::string Bytes;
};

// What the device's source knows and Windows keeps a property for. A property the source does
// not know fails as Windows fails one the device node does not have.
std::optional<TProperty> PropertyOf(const TDeviceRecord& record, DWORD property)
{
    std::string text;
    if (property == SPDRP_HARDWAREID && !record.HardwareIds.empty()) {
        for (const auto& id : record.HardwareIds)
            text += id + '\0';
        return TProperty{REG_MULTI_SZ, text + '\0'};
    }
    if (property == SPDRP_SERVICE)
        text = record.Service;
    else if (property == SPDRP_LOCATION_INFORMATION)
        text = record.Location;
    if (text.empty())
        return std::nullopt;
    return TProperty{REG_SZ, text + '\0'};
}

std::shared_ptr<TDevInfoSet> LookupSet(HDEVINFO set)
{
    return LookupHandleAs<TDevInfoSet>(set);
}

// Reserved carries the record's position plus one, as Windows keeps its own pointer there.
const TDeviceRecord* RecordAt(const TDevInfoSet& set, ULONG_PTR reserved)
{
    return reserved >= 1 && reserved <= set.Records.size() ? &set.Records[reserved - 1] : nullptr;
}

} // namespace

namespace winapi::posix::setupapidll {

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND, DWORD Flags)
{
    if (!ClassGuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<TDevInfoSet>();
    // Only HID interfaces are known here; any other class or enumerator has none.
    if ((Flags & DIGCF_DEVICEINTERFACE) && *ClassGuid == HidInterfaceGuid && !Enumerator)
        set->Records = EnumeratePresentDevices();
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(set));
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    const auto set = LookupSet(DeviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (!InterfaceClassGuid || !DeviceInterfaceData)
        return Fail(ERROR_INVALID_PARAMETER);
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    // Restricted to one device's interfaces: every device here has exactly one.
    std::size_t index = MemberIndex;
    if (DeviceInfoData) {
        if (!RecordAt(*set, DeviceInfoData->Reserved))
            return Fail(ERROR_INVALID_PARAMETER);
        if (MemberIndex != 0)
            return Fail(ERROR_NO_MORE_ITEMS);
        index = DeviceInfoData->Reserved - 1;
    }
    if (!(*InterfaceClassGuid == HidInterfaceGuid) || index >= set->Records.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    DeviceInterfaceData->InterfaceClassGuid = HidInterfaceGuid;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = index + 1;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData)
{
    const auto set = LookupSet(DeviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    const TDeviceRecord* record = RecordAt(*set, DeviceInterfaceData->Reserved);
    if (!record)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + record->Path.size() + 1);
    if (RequiredSize)
        *RequiredSize = needed;
    if (!DeviceInterfaceDetailData) {
        return Fail(DeviceInterfaceDetailDataSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    }
    if (DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (DeviceInterfaceDetailDataSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (DeviceInfoData) {
        if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
            return Fail(ERROR_INVALID_USER_BUFFER);
        DeviceInfoData->ClassGuid = HidClassGuid;
        DeviceInfoData->DevInst = record->Identity.Instance;
        DeviceInfoData->Reserved = DeviceInterfaceData->Reserved;
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, record->Path.c_str(), record->Path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize)
{
    const auto set = LookupSet(DeviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInfoData)
        return Fail(ERROR_INVALID_PARAMETER);
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    const TDeviceRecord* record = RecordAt(*set, DeviceInfoData->Reserved);
    if (!record)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::optional<TProperty> property = PropertyOf(*record, Property);
    if (!property)
        return Fail(ERROR_INVALID_DATA);
    const auto size = static_cast<DWORD>(property->Bytes.size());
    if (RequiredSize)
        *RequiredSize = size;
    if (PropertyRegDataType)
        *PropertyRegDataType = property->Type;
    if (!PropertyBuffer || PropertyBufferSize < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(PropertyBuffer, property->Bytes.data(), size);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    if (!LookupSet(DeviceInfoSet))
        return Fail(ERROR_INVALID_HANDLE);
    TakeHandle(DeviceInfoSet);
    return TRUE;
}

} // namespace winapi::posix::setupapidll

const std::vector<TExport>& winapi::posix::SetupApiDllExports()
{
    static const std::vector<TExport> exports = {
        Export("SetupDiDestroyDeviceInfoList", &setupapidll::SetupDiDestroyDeviceInfoList),
        Export("SetupDiEnumDeviceInterfaces", &setupapidll::SetupDiEnumDeviceInterfaces),
        Export("SetupDiGetClassDevsA", &setupapidll::SetupDiGetClassDevsA),
        Export("SetupDiGetDeviceInterfaceDetailA", &setupapidll::SetupDiGetDeviceInterfaceDetailA),
        Export("SetupDiGetDeviceRegistryPropertyA", &setupapidll::SetupDiGetDeviceRegistryPropertyA),
    };
    return exports;
}
