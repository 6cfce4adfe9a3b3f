#pragma once

#include "winapi/winapi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hid {

// The plug-and-play description of one HID interface, read whole from the system's device
// information set when the enumeration meets the interface. Only FInstance (which device
// this is across rescans) and FInterfacePath (what every open uses) matter to the tool.
class THidPnPInfo {
public:
    using TTextList = std::vector<std::string>;

    // Never fails: a property the system does not deliver keeps its empty value.
    THidPnPInfo(HDEVINFO deviceInfoSet, const SP_DEVINFO_DATA& deviceData, const char* interfacePath);

    DWORD FInstance = 0;
    std::string FInterfacePath;
    std::uint32_t FCapabilityBits = 0;
    std::string FSetupClass;
    std::string FSetupClassGuid;
    TTextList FCompatibleIdList;
    std::uint32_t FConfigFlagBits = 0;
    std::string FDescription;
    std::string FDriverKey;
    std::string FDisplayName;
    TTextList FHardwareIdList;
    TTextList FLowerFilterList;
    std::string FManufacturer;
    TTextList FUpperFilterList;
    std::string FServiceName;
    std::string FBusAddress;
    std::uint32_t FBusIndex = 0;
    std::string FBusTypeText;
    std::string FDeviceCharacteristics;
    std::uint32_t FDeviceType = 0;
    std::string FEnumerator;
    std::uint32_t FExclusiveFlag = 0;
    std::uint32_t FLegacyBus = 0;
    std::string FLocation;
    std::string FPdoName;
    std::string FSecurityDescriptor;
    std::uint32_t FUserNumber = 0;
    std::string FUserNumberFormat;
};

} // namespace hid
