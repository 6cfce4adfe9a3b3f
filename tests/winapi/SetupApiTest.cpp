// Enumerating and describing units through the SetupDi and HidD entry points, resolved by
// name as the HID layer resolves them.

#include "SimProcess.h"
#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const GUID HidInterface = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct TEnumerated {
    std::string Path;
    DWORD DevInst = 0;
    SP_DEVINFO_DATA Device{};
};

// Walks the interfaces the way the controller does: size query, then the detail.
std::vector<TEnumerated> EnumerateInterfaces(HDEVINFO set)
{
    auto enumInterfaces = TEST_ENTRY("SetupApi.dll", SetupDiEnumDeviceInterfaces);
    auto detail = TEST_ENTRY("SetupApi.dll", SetupDiGetDeviceInterfaceDetailA);
    std::vector<TEnumerated> found;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!enumInterfaces(set, nullptr, &HidInterface, index, &interfaceData)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
            return found;
        }
        TEnumerated item;
        item.Device.cbSize = sizeof item.Device;
        DWORD needed = 0;
        EXPECT_FALSE(detail(set, &interfaceData, nullptr, 0, &needed, &item.Device));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<std::byte> block(needed);
        auto* data = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
        data->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_TRUE(detail(set, &interfaceData, data, needed, &needed, &item.Device)) << GetLastError();
        item.Path = data->DevicePath;
        EXPECT_EQ(needed, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + item.Path.size() + 1);
        item.DevInst = item.Device.DevInst;
        found.push_back(item);
    }
}

struct TExpected {
    const char* Name;
    USHORT Vid, Pid, In, Out;
    std::u16string Product;
};

// What HID.dll tells of the unit at `path`: attributes, report lengths, product string.
void ExpectIdentity(const std::string& path, const TExpected& expected)
{
    auto attributes = TEST_ENTRY("HID.dll", HidD_GetAttributes);
    auto preparsed = TEST_ENTRY("HID.dll", HidD_GetPreparsedData);
    auto freePreparsed = TEST_ENTRY("HID.dll", HidD_FreePreparsedData);
    auto caps = TEST_ENTRY("HID.dll", HidP_GetCaps);
    auto product = TEST_ENTRY("HID.dll", HidD_GetProductString);
    auto buffers = TEST_ENTRY("HID.dll", HidD_GetNumInputBuffers);
    HANDLE handle = OpenUnit(path, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    HIDD_ATTRIBUTES id{};
    id.Size = sizeof id;
    ASSERT_TRUE(attributes(handle, &id));
    EXPECT_EQ(id.VendorID, expected.Vid);
    EXPECT_EQ(id.ProductID, expected.Pid);

    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_TRUE(preparsed(handle, &data));
    HIDP_CAPS capabilities{};
    EXPECT_EQ(caps(data, &capabilities), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(capabilities.InputReportByteLength, expected.In);
    EXPECT_EQ(capabilities.OutputReportByteLength, expected.Out);
    EXPECT_TRUE(freePreparsed(data));
    EXPECT_EQ(caps(data, &capabilities), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(caps(nullptr, &capabilities), HIDP_STATUS_INVALID_PREPARSED_DATA);

    char16_t text[254] = {};
    ASSERT_TRUE(product(handle, text, sizeof text));
    EXPECT_EQ(std::u16string(text), expected.Product);
    ULONG count = 0;
    EXPECT_TRUE(buffers(handle, &count));
    EXPECT_GE(count, 2u);
    CloseHandle(handle);
}

class SetupApi : public ::testing::Test {
protected:
    TScratchUnitDirectory FUnits;
};

TEST_F(SetupApi, ThreeUnitsAreEnumeratedInNameOrderWithTheirIdentities)
{
    // Placed out of name order on purpose.
    TSimProcess c(FUnits.Path(),
                  {"--name", "unit-c", "--vid", "0x1d50", "--pid", "0x7802", "--product", "Quillmark Ω", "--in-length",
                   "65", "--out-length", "17"});
    TSimProcess a(FUnits.Path(), {"--name", "unit-a"});
    TSimProcess b(FUnits.Path(), {"--name", "unit-b", "--pid", "0x7800", "--product", "Quillmark B"});

    auto getClassDevs = TEST_ENTRY("SetupApi.dll", SetupDiGetClassDevsA);
    auto destroy = TEST_ENTRY("SetupApi.dll", SetupDiDestroyDeviceInfoList);
    HDEVINFO set = getClassDevs(&HidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    auto units = EnumerateInterfaces(set);
    ASSERT_EQ(units.size(), 3u);

    const TExpected expected[] = {
        {"unit-a", 0x1209, 0x0043, 1025, 65, u"Quillmark"},
        {"unit-b", 0x1209, 0x7800, 1025, 65, u"Quillmark B"},
        {"unit-c", 0x1D50, 0x7802, 65, 17, u"Quillmark \u03A9"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].Name);
        EXPECT_EQ(units[i].Path, FUnits.SocketPath(expected[i].Name));
        ExpectIdentity(units[i].Path, expected[i]);
    }
    // Every placement has its own instance.
    EXPECT_NE(units[0].DevInst, units[1].DevInst);
    EXPECT_NE(units[1].DevInst, units[2].DevInst);
    EXPECT_TRUE(destroy(set));
    EXPECT_FALSE(destroy(set));
}

TEST_F(SetupApi, AUnitHasOnlyItsNameAsLocationAndThe32BitRecordSizesAreRefused)
{
    TSimProcess unit(FUnits.Path(), {"--name", "cradle-2"});
    auto getClassDevs = TEST_ENTRY("SetupApi.dll", SetupDiGetClassDevsA);
    auto get = TEST_ENTRY("SetupApi.dll", SetupDiGetDeviceRegistryPropertyA);
    HDEVINFO set = getClassDevs(&HidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    auto units = EnumerateInterfaces(set);
    ASSERT_EQ(units.size(), 1u);

    // The unit's name is where it sits, as Windows gives a USB device's port.
    DWORD type = 0;
    char location[64] = {};
    ASSERT_TRUE(get(set, &units[0].Device, SPDRP_LOCATION_INFORMATION, &type, reinterpret_cast<BYTE*>(location),
                    sizeof location, nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(location, "cradle-2");
    // Every other property is absent, as Windows answers for one the device node does not have.
    for (DWORD property = SPDRP_DEVICEDESC; property <= SPDRP_UI_NUMBER_DESC_FORMAT; ++property) {
        if (property == SPDRP_LOCATION_INFORMATION)
            continue;
        BYTE buffer[64] = {0xAB};
        EXPECT_FALSE(get(set, &units[0].Device, property, nullptr, buffer, sizeof buffer, nullptr)) << property;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
        EXPECT_EQ(buffer[0], 0xAB);
    }

    // The 32-bit record sizes are refused, as on 64-bit Windows.
    SP_DEVINFO_DATA wrong = units[0].Device;
    wrong.cbSize = 28;
    BYTE buffer[64];
    EXPECT_FALSE(get(set, &wrong, SPDRP_CLASS, nullptr, buffer, sizeof buffer, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = 28;
    EXPECT_FALSE(
        TEST_ENTRY("SetupApi.dll", SetupDiEnumDeviceInterfaces)(set, nullptr, &HidInterface, 0, &interfaceData));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    TEST_ENTRY("SetupApi.dll", SetupDiDestroyDeviceInfoList)(set);
}

TEST_F(SetupApi, AnEmptyOrUnsafeUnitDirectoryEnumeratesNothing)
{
    auto getClassDevs = TEST_ENTRY("SetupApi.dll", SetupDiGetClassDevsA);
    HDEVINFO set = getClassDevs(&HidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(EnumerateInterfaces(set).empty());
    TEST_ENTRY("SetupApi.dll", SetupDiDestroyDeviceInfoList)(set);

    TSimProcess unit(FUnits.Path(), {});
    ASSERT_EQ(chmod(FUnits.Path().c_str(), 0777), 0);
    set = getClassDevs(&HidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(EnumerateInterfaces(set).empty());
    TEST_ENTRY("SetupApi.dll", SetupDiDestroyDeviceInfoList)(set);
    chmod(FUnits.Path().c_str(), 0700);
}

TEST(Modules, OnlyBareBuiltInNamesLoadAndResolveTheirEntryPoints)
{
    for (const char* name : {"HID.dll", "hid.DLL", "SetupApi.dll", "SETUPAPI.DLL", "kernel32.dll"}) {
        HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        EXPECT_NE(module, nullptr) << name;
        EXPECT_TRUE(FreeLibrary(module));
    }
    for (const char* name : {".\\HID.dll", "C:\\Windows\\System32\\HID.dll", "./HID.dll", "user32.dll", ""}) {
        EXPECT_EQ(LoadLibraryExA(name, nullptr, 0), nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    }

    HMODULE hid = LoadLibraryExA("HID.dll", nullptr, 0);
    ASSERT_NE(GetProcAddress(hid, "HidD_GetAttributes"), nullptr);
    EXPECT_EQ(GetProcAddress(hid, "HidD_NoSuchEntry"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(hid));
    // Freed for good: the module is no longer loaded.
    EXPECT_EQ(GetProcAddress(hid, "HidD_GetAttributes"), nullptr);
    EXPECT_FALSE(FreeLibrary(hid));

    HMODULE kernel = LoadLibraryExA("kernel32.dll", nullptr, 0);
    EXPECT_NE(GetProcAddress(kernel, "CancelIo"), nullptr);
    FreeLibrary(kernel);
}

TEST(Modules, FormatMessageGivesTheSystemTextsOfOurCodes)
{
    char text[256];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    ASSERT_EQ(FormatMessageA(flags, nullptr, ERROR_INVALID_PARAMETER, 0, text, sizeof text, nullptr),
              std::strlen("The parameter is incorrect.\r\n"));
    EXPECT_STREQ(text, "The parameter is incorrect.\r\n");
    for (DWORD code : {2u, 5u, 6u, 87u, 122u, 259u, 995u, 997u, 1167u})
        EXPECT_GT(FormatMessageA(flags, nullptr, code, 0, text, sizeof text, nullptr), 0u) << code;
    EXPECT_EQ(FormatMessageA(flags, nullptr, 0xDEAD, 0, text, sizeof text, nullptr), 0u);
    EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_INVALID_PARAMETER, 0, text, 10, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

} // namespace
