#include "SetupApi.h"

#include "ModuleLoader.h"

namespace hid {

TSetupApi SetupApi;

namespace {
HMODULE gSetupApiLibrary = nullptr;
}

bool BindSetupApi()
{
    if (!OpenLibrary(gSetupApiLibrary, "SetupApi.dll"))
        return false;
    bool allFound = true;
    FindRequiredEntryInto(gSetupApiLibrary, "SetupDiGetClassDevsA", SetupApi.SetupDiGetClassDevsA, allFound);
    FindRequiredEntryInto(gSetupApiLibrary, "SetupDiEnumDeviceInterfaces", SetupApi.SetupDiEnumDeviceInterfaces,
                          allFound);
    FindRequiredEntryInto(gSetupApiLibrary, "SetupDiGetDeviceInterfaceDetailA",
                          SetupApi.SetupDiGetDeviceInterfaceDetailA, allFound);
    FindRequiredEntryInto(gSetupApiLibrary, "SetupDiGetDeviceRegistryPropertyA",
                          SetupApi.SetupDiGetDeviceRegistryPropertyA, allFound);
    FindRequiredEntryInto(gSetupApiLibrary, "SetupDiDestroyDeviceInfoList", SetupApi.SetupDiDestroyDeviceInfoList,
                          allFound);
    if (!allFound)
        UnbindSetupApi();
    return allFound;
}

void UnbindSetupApi()
{
    CloseLibrary(gSetupApiLibrary);
    SetupApi = TSetupApi{};
}

bool SetupApiBound()
{
    return gSetupApiLibrary != nullptr;
}

} // namespace hid
