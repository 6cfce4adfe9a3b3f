#include "SetupApi.h"

#include "ModuleLoader.h"

namespace hid {

TSetupApi SetupApi;

namespace {
HMODULE gSetupApiLibrary = nullptr;
int gSetupApiBindings = 0;

void ReleaseSetupApi()
{
    CloseLibrary(gSetupApiLibrary);
    SetupApi = TSetupApi{};
}
} // namespace

bool BindSetupApi()
{
    if (gSetupApiBindings > 0) {
        ++gSetupApiBindings;
        return true;
    }
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
    if (!allFound) {
        ReleaseSetupApi();
        return false;
    }
    gSetupApiBindings = 1;
    return true;
}

void UnbindSetupApi()
{
    if (gSetupApiBindings > 0 && --gSetupApiBindings == 0)
        ReleaseSetupApi();
}

bool SetupApiBound()
{
    return gSetupApiLibrary != nullptr;
}

} // namespace hid
