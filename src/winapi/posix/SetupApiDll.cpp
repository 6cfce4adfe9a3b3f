// The built-in SetupApi.dll: a snapshot of the present HID interfaces, their paths and the
// registry properties Windows keeps for a HID collection's device node.

#include "BuiltinModules.h"
#include "DeviceFile.h"
#include "Guids.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <strings.h>

using namespace winapi::posix;

namespace {

struct TProperty {
    DWORD Type;
    std::string Bytes;
};

using TPropertyTable = std::map<DWORD, TProperty>;

class TDevInfoSet final : public THandleObject {
public:
    std::vector<TDeviceRecord> Records;
};

std::string Hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

TProperty Text(const std::string& text)
{
    return {REG_SZ, text + '\0'};
}

TProperty List(const std::vector<std::string>& texts)
{
    std::string bytes;
    for (const auto& text : texts)
        bytes += text + '\0';
    return {REG_MULTI_SZ, bytes + '\0'};
}

TProperty Number(DWORD value)
{
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return {REG_DWORD, bytes};
}

TProperty Binary(const void* data, std::size_t size)
{
    return {REG_BINARY, std::string(static_cast<const char*>(data), size)};
}

std::string GuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

// What Windows records for a vendor-defined HID collection; properties such a node does
// not have (friendly name, filters, location, service, ...) are absent.
TPropertyTable PropertiesOf(const TDeviceRecord& record, std::size_t index)
{
    const TDeviceIdentity& id = record.Identity;
    const std::string vidPid = "VID_" + Hex4(id.VendorId) + "&PID_" + Hex4(id.ProductId);
    char driver[64];
    std::snprintf(driver, sizeof driver, "%s\\%04zu", GuidText(HidClassGuid).c_str(), index);
    char pdo[32];
    std::snprintf(pdo, sizeof pdo, "\\Device\\%08x", static_cast<unsigned>(0x40 + index));

    // CM_POWER_DATA: D0 now, D0 and D3 supported, D3 in every sleeping state.
    const DWORD power[14] = {56, 1, 0x9, 0, 0, 0, 0, 1, 4, 4, 4, 4, 4, 0};

    TPropertyTable table;
    table[SPDRP_DEVICEDESC] = Text("HID-compliant vendor-defined device");
    table[SPDRP_HARDWAREID] = List({"HID\\" + vidPid + "&REV_" + Hex4(id.VersionNumber), "HID\\" + vidPid,
                                    "HID\\VID_" + Hex4(id.VendorId) + "&UP:FF00_U:0001",
                                    "HID_DEVICE_UP:FF00_U:0001", "HID_DEVICE_UP:FF00", "HID_DEVICE"});
    table[SPDRP_COMPATIBLEIDS] = List({"HID_DEVICE_SYSTEM_VENDOR", "HID_DEVICE"});
    table[SPDRP_CLASS] = Text("HIDClass");
    table[SPDRP_CLASSGUID] = Text(GuidText(HidClassGuid));
    table[SPDRP_DRIVER] = Text(driver);
    table[SPDRP_CONFIGFLAGS] = Number(0);
    table[SPDRP_MFG] = Text("(Standard system devices)");
    table[SPDRP_PHYSICAL_DEVICE_OBJECT_NAME] = Text(pdo);
    table[SPDRP_CAPABILITIES] = Number(0xA0); // silent install, surprise removal OK
    table[SPDRP_BUSTYPEGUID] = Binary(&HidBusTypeGuid, sizeof HidBusTypeGuid);
    table[SPDRP_LEGACYBUSTYPE] = Number(15); // PNPBus
    table[SPDRP_ENUMERATOR_NAME] = Text("HID");
    table[SPDRP_DEVICE_POWER_DATA] = Binary(power, sizeof power);
    return table;
}

// A system device: what its source knows and Windows has a property for; the rest is absent.
TPropertyTable SystemPropertiesOf(const TDeviceRecord& record)
{
    TPropertyTable table;
    if (!record.HardwareIds.empty())
        table[SPDRP_HARDWAREID] = List(record.HardwareIds);
    if (!record.Service.empty())
        table[SPDRP_SERVICE] = Text(record.Service);
    if (!record.Location.empty())
        table[SPDRP_LOCATION_INFORMATION] = Text(record.Location);
    return table;
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
    if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<TDevInfoSet>();
    const bool hid = (Flags & DIGCF_ALLCLASSES)
        || (ClassGuid && *ClassGuid == ((Flags & DIGCF_DEVICEINTERFACE) ? HidInterfaceGuid : HidClassGuid));
    const bool enumerator = !Enumerator || strcasecmp(Enumerator, "HID") == 0;
    if (hid && enumerator)
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
    const TPropertyTable table =
        record->FromSystem ? SystemPropertiesOf(*record) : PropertiesOf(*record, DeviceInfoData->Reserved - 1);
    const auto found = table.find(Property);
    if (found == table.end())
        return Fail(ERROR_INVALID_DATA);
    const TProperty& property = found->second;
    const auto size = static_cast<DWORD>(property.Bytes.size());
    if (RequiredSize)
        *RequiredSize = size;
    if (PropertyRegDataType)
        *PropertyRegDataType = property.Type;
    if (!PropertyBuffer || PropertyBufferSize < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(PropertyBuffer, property.Bytes.data(), size);
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
