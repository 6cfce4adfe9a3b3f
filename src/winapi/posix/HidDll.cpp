// The built-in HID.dll: attributes, capabilities and strings of an open device handle.

#include "BuiltinModules.h"
#include "DeviceFile.h"
#include "Guids.h"

#include "rtl/Unicode.h"

#include <cstring>
#include <mutex>
#include <set>

using namespace winapi::posix;

struct _HIDP_PREPARSED_DATA {
    HIDP_CAPS Caps;
};

namespace {

// Preparsed data handed out and not yet freed; anything else given back is rejected rather
// than read.
std::mutex gLock;
std::set<PHIDP_PREPARSED_DATA> gPreparsed;

} // namespace

namespace winapi::posix::hiddll {

void HidD_GetHidGuid(LPGUID HidGuid)
{
    if (HidGuid)
        *HidGuid = HidInterfaceGuid;
}

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes)
{
    const auto file = LookupHandleAs<TDeviceFile>(HidDeviceObject);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!Attributes)
        return Fail(ERROR_INVALID_PARAMETER);
    Attributes->Size = sizeof(HIDD_ATTRIBUTES);
    Attributes->VendorID = file->Identity().VendorId;
    Attributes->ProductID = file->Identity().ProductId;
    Attributes->VersionNumber = file->Identity().VersionNumber;
    return TRUE;
}

BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData)
{
    const auto file = LookupHandleAs<TDeviceFile>(HidDeviceObject);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!PreparsedData)
        return Fail(ERROR_INVALID_PARAMETER);
    auto* data = new _HIDP_PREPARSED_DATA{};
    // A collection with one value array in each direction.
    HIDP_CAPS& caps = data->Caps;
    caps.UsagePage = file->Identity().UsagePage;
    caps.Usage = file->Identity().Usage;
    caps.InputReportByteLength = file->Identity().InputLength;
    caps.OutputReportByteLength = file->Identity().OutputLength;
    caps.FeatureReportByteLength = file->Identity().FeatureLength;
    caps.NumberLinkCollectionNodes = 1;
    if (caps.InputReportByteLength) {
        caps.NumberInputValueCaps = 1;
        caps.NumberInputDataIndices = 1;
    }
    if (caps.OutputReportByteLength) {
        caps.NumberOutputValueCaps = 1;
        caps.NumberOutputDataIndices = 1;
    }
    {
        std::lock_guard lock(gLock);
        gPreparsed.insert(data);
    }
    *PreparsedData = data;
    return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData)
{
    {
        std::lock_guard lock(gLock);
        if (gPreparsed.erase(PreparsedData) == 0)
            return Fail(ERROR_INVALID_PARAMETER);
    }
    delete PreparsedData;
    return TRUE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities)
{
    std::lock_guard lock(gLock);
    if (!Capabilities || !gPreparsed.count(PreparsedData))
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *Capabilities = PreparsedData->Caps;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength)
{
    const auto file = LookupHandleAs<TDeviceFile>(HidDeviceObject);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!Buffer || BufferLength < sizeof(char16_t))
        return Fail(ERROR_INVALID_USER_BUFFER);
    const std::u16string product = rtl::Utf16FromUtf8(file->Identity().Product);
    // The text as far as it fits; the terminating zero only when there is room for it.
    const std::size_t room = BufferLength / sizeof(char16_t);
    const std::size_t count = std::min(product.size(), room);
    std::memcpy(Buffer, product.data(), count * sizeof(char16_t));
    if (count < room)
        static_cast<char16_t*>(Buffer)[count] = u'\0';
    return TRUE;
}

BOOLEAN HidD_GetNumInputBuffers(HANDLE HidDeviceObject, PULONG NumberBuffers)
{
    const auto file = LookupHandleAs<TDeviceFile>(HidDeviceObject);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!NumberBuffers)
        return Fail(ERROR_INVALID_PARAMETER);
    *NumberBuffers = file->NumInputBuffers;
    return TRUE;
}

} // namespace winapi::posix::hiddll

// The entry points are qualified: the global declarations of the same names would make each
// an overload set.
const std::vector<TExport>& winapi::posix::HidDllExports()
{
    static const std::vector<TExport> exports = {
        Export("HidD_FreePreparsedData", &hiddll::HidD_FreePreparsedData),
        Export("HidD_GetAttributes", &hiddll::HidD_GetAttributes),
        Export("HidD_GetHidGuid", &hiddll::HidD_GetHidGuid),
        Export("HidD_GetNumInputBuffers", &hiddll::HidD_GetNumInputBuffers),
        Export("HidD_GetPreparsedData", &hiddll::HidD_GetPreparsedData),
        Export("HidD_GetProductString", &hiddll::HidD_GetProductString),
        Export("HidP_GetCaps", &hiddll::HidP_GetCaps),
    };
    return exports;
}
