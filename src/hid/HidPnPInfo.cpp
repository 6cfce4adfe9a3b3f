#include "HidPnPInfo.h"

#include "SetupApi.h"

#include <cstring>

namespace hid {

namespace {

constexpr std::size_t TextBufferSize = 1024;
constexpr std::size_t ListBufferSize = 16384;

// One property of one device; the result of each read is not looked at, so an absent
// property leaves the preset value.
class TPropertyReader {
public:
    TPropertyReader(HDEVINFO set, const SP_DEVINFO_DATA& device) : FSet(set), FDevice(device) {}

    std::uint32_t Number(DWORD property)
    {
        BYTE buffer[4] = {};
        Read(property, buffer, sizeof buffer);
        std::uint32_t value;
        std::memcpy(&value, buffer, sizeof value);
        return value;
    }

    std::string Text(DWORD property)
    {
        char buffer[TextBufferSize];
        buffer[0] = '\0';
        Read(property, reinterpret_cast<PBYTE>(buffer), sizeof buffer);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }

    THidPnPInfo::TTextList List(DWORD property)
    {
        std::vector<char> buffer(ListBufferSize, '\0');
        Read(property, reinterpret_cast<PBYTE>(buffer.data()), static_cast<DWORD>(buffer.size()));
        THidPnPInfo::TTextList texts;
        for (std::size_t at = 0; at < buffer.size();) {
            const std::size_t length = strnlen(&buffer[at], buffer.size() - at);
            if (length == 0)
                break;
            texts.emplace_back(&buffer[at], length);
            at += length + 1;
        }
        return texts;
    }

private:
    void Read(DWORD property, PBYTE buffer, DWORD size)
    {
        SetupApi.SetupDiGetDeviceRegistryPropertyA(FSet, &FDevice, property, nullptr, buffer, size, nullptr);
    }

    HDEVINFO FSet;
    SP_DEVINFO_DATA FDevice;
};

} // namespace

THidPnPInfo::THidPnPInfo(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA& deviceData, const char* interfacePath)
    : FInstance(deviceData.DevInst), FInterfacePath(interfacePath ? interfacePath : "")
{
    TPropertyReader read(deviceInfoSet, deviceData);
    FCapabilityBits = read.Number(SPDRP_CAPABILITIES);
    FSetupClass = read.Text(SPDRP_CLASS);
    FSetupClassGuid = read.Text(SPDRP_CLASSGUID);
    FCompatibleIdList = read.List(SPDRP_COMPATIBLEIDS);
    FConfigFlagBits = read.Number(SPDRP_CONFIGFLAGS);
    FDescription = read.Text(SPDRP_DEVICEDESC);
    FDriverKey = read.Text(SPDRP_DRIVER);
    FDisplayName = read.Text(SPDRP_FRIENDLYNAME);
    FHardwareIdList = read.List(SPDRP_HARDWAREID);
    FLowerFilterList = read.List(SPDRP_LOWERFILTERS);
    FManufacturer = read.Text(SPDRP_MFG);
    FUpperFilterList = read.List(SPDRP_UPPERFILTERS);
    FServiceName = read.Text(SPDRP_SERVICE);
    FBusAddress = read.Text(SPDRP_ADDRESS);
    FBusIndex = read.Number(SPDRP_BUSNUMBER);
    FBusTypeText = read.Text(SPDRP_BUSTYPEGUID);
    FDeviceCharacteristics = read.Text(SPDRP_CHARACTERISTICS);
    FDeviceType = read.Number(SPDRP_DEVTYPE);
    FEnumerator = read.Text(SPDRP_ENUMERATOR_NAME);
    FExclusiveFlag = read.Number(SPDRP_EXCLUSIVE);
    FLegacyBus = read.Number(SPDRP_LEGACYBUSTYPE);
    FLocation = read.Text(SPDRP_LOCATION_INFORMATION);
    FPdoName = read.Text(SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    FSecurityDescriptor = read.Text(SPDRP_SECURITY_SDS);
    FUserNumber = read.Number(SPDRP_UI_NUMBER);
    FUserNumberFormat = read.Text(SPDRP_UI_NUMBER_DESC_FORMAT);
}

} // namespace hid
