#include "Hid.h"

#include "ModuleLoader.h"

namespace hid {

THidApi HidApi;

namespace {
HMODULE gHidLibrary = nullptr;
int gHidBindings = 0;

void ReleaseHid()
{
    CloseLibrary(gHidLibrary);
    HidApi = THidApi{};
}
} // namespace

bool BindHid()
{
    if (gHidBindings > 0) {
        ++gHidBindings;
        return true;
    }
    if (!OpenLibrary(gHidLibrary, "HID.dll"))
        return false;
    bool allFound = true;
    FindRequiredEntryInto(gHidLibrary, "HidD_GetHidGuid", HidApi.HidD_GetHidGuid, allFound);
    FindRequiredEntryInto(gHidLibrary, "HidD_GetAttributes", HidApi.HidD_GetAttributes, allFound);
    FindRequiredEntryInto(gHidLibrary, "HidD_GetPreparsedData", HidApi.HidD_GetPreparsedData, allFound);
    FindRequiredEntryInto(gHidLibrary, "HidD_FreePreparsedData", HidApi.HidD_FreePreparsedData, allFound);
    FindRequiredEntryInto(gHidLibrary, "HidP_GetCaps", HidApi.HidP_GetCaps, allFound);
    FindRequiredEntryInto(gHidLibrary, "HidD_GetProductString", HidApi.HidD_GetProductString, allFound);
    FindRequiredEntryInto(gHidLibrary, "HidD_GetNumInputBuffers", HidApi.HidD_GetNumInputBuffers, allFound);
    if (!allFound) {
        ReleaseHid();
        return false;
    }
    gHidBindings = 1;
    return true;
}

void UnbindHid()
{
    if (gHidBindings > 0 && --gHidBindings == 0)
        ReleaseHid();
}

bool HidBound()
{
    return gHidLibrary != nullptr;
}

} // namespace hid
