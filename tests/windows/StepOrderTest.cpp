// The Win32 window's loop against the shared step-order scenarios, under Wine: the same
// expected logs as tolvane-cli and the Qt window.
//
// Wine offers no unit here, so the HID.dll and SetupApi.dll entry points the controller bound
// are replaced by ones that list one unit while it is placed. Its handles are the ends of a
// named pipe whose other ends take every write and send nothing, so every report comes from
// the scenario.

#include "StepScenarios.h"

#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "ui/win32/Win32MainWindow.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>

using namespace testsupport;

namespace {

constexpr char UnitPath[] = "\\\\.\\pipe\\tolvane-step-order-unit";
bool gPlaced = false;
DWORD gInstance = 0;

// The unit's side: pipe instances waiting for the handles the tool opens (at most three at
// once), each read until the tool closes its end and then made again. Made before the unit is
// listed, they run for the rest of the process.
void ServeUnitPipe()
{
    static const bool started = [] {
        for (int i = 0; i < 4; ++i) {
            HANDLE end = CreateNamedPipeA(UnitPath, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                          PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
            std::thread([end]() mutable {
                while (end != INVALID_HANDLE_VALUE) {
                    if (ConnectNamedPipe(end, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
                        char report[128];
                        DWORD read = 0;
                        while (ReadFile(end, report, sizeof report, &read, nullptr)
                               || GetLastError() == ERROR_MORE_DATA) {
                        }
                    }
                    CloseHandle(end);
                    end = CreateNamedPipeA(UnitPath, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                           PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
                }
            }).detach();
        }
        return true;
    }();
    (void)started;
}

void PlaceFakeUnit()
{
    ServeUnitPipe();
    gPlaced = true;
    ++gInstance;
    hid::SetupApi.SetupDiGetClassDevsA = [](const GUID*, PCSTR, HWND, DWORD) {
        return reinterpret_cast<HDEVINFO>(static_cast<std::intptr_t>(0x7001));
    };
    hid::SetupApi.SetupDiEnumDeviceInterfaces = [](HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                                   PSP_DEVICE_INTERFACE_DATA) -> BOOL {
        if (index == 0 && gPlaced)
            return TRUE;
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    };
    hid::SetupApi.SetupDiGetDeviceInterfaceDetailA = [](HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                        PDWORD needed, PSP_DEVINFO_DATA device) -> BOOL {
        const DWORD required = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof UnitPath;
        if (needed)
            *needed = required;
        if (device)
            device->DevInst = gInstance;
        if (!detail || size < required) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(detail->DevicePath, UnitPath, sizeof UnitPath);
        return TRUE;
    };
    hid::SetupApi.SetupDiGetDeviceRegistryPropertyA = [](HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                                         PDWORD) -> BOOL {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    };
    hid::SetupApi.SetupDiDestroyDeviceInfoList = [](HDEVINFO) -> BOOL { return TRUE; };
    hid::HidApi.HidD_GetAttributes = [](HANDLE, PHIDD_ATTRIBUTES attributes) -> BOOLEAN {
        attributes->VendorID = static_cast<USHORT>(app::UnitIds[0].VendorId);
        attributes->ProductID = static_cast<USHORT>(app::UnitIds[0].ProductId);
        attributes->VersionNumber = 1;
        return TRUE;
    };
    hid::HidApi.HidD_GetPreparsedData = [](HANDLE, PHIDP_PREPARSED_DATA* data) -> BOOLEAN {
        static char preparsed;
        *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(&preparsed);
        return TRUE;
    };
    hid::HidApi.HidD_FreePreparsedData = [](PHIDP_PREPARSED_DATA) -> BOOLEAN { return TRUE; };
    hid::HidApi.HidP_GetCaps = [](PHIDP_PREPARSED_DATA, PHIDP_CAPS caps) -> NTSTATUS {
        *caps = HIDP_CAPS{};
        caps->UsagePage = 0xFF00;
        caps->Usage = 1;
        caps->InputReportByteLength = 1025;
        caps->OutputReportByteLength = 65;
        return HIDP_STATUS_SUCCESS;
    };
    hid::HidApi.HidD_GetProductString = [](HANDLE, PVOID buffer, ULONG size) -> BOOLEAN {
        constexpr wchar_t Product[] = L"Quillmark";
        if (size < sizeof Product)
            return FALSE;
        std::memcpy(buffer, Product, sizeof Product);
        return TRUE;
    };
    hid::HidApi.HidD_GetNumInputBuffers = [](HANDLE, PULONG count) -> BOOLEAN {
        *count = 64;
        return TRUE;
    };
}

// Takes the unit out and has the controller's window hear of it, as from the system.
void RemoveFakeUnit()
{
    gPlaced = false;
    SendMessageW(FindWindowA("THidDeviceControllerNotify", nullptr), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

struct TRun {
    HWND Window = nullptr;
    TScenarioPlayer* Player = nullptr;
    HWND Box = nullptr;
    bool Answer = false;
    DWORD End = 0;
};
TRun gRun;

BOOL CALLBACK FindBox(HWND window, LPARAM found)
{
    wchar_t kind[16] = {};
    GetClassNameW(window, kind, 16);
    if (std::wcscmp(kind, L"#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Runs in every loop, the boxes' own included: the operator answers each box once what
// arrives under it has been handled, and the window closes when the scenario is over.
void CALLBACK Watch(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    if (box) {
        if (box != gRun.Box) {
            gRun.Box = box;
            gRun.Answer = gRun.Player->BoxOpened();
        }
        if (gRun.Player->BoxArrivalsHandled())
            PostMessageW(box, WM_COMMAND, gRun.Answer ? IDOK : IDCANCEL, 0);
        return;
    }
    if (gRun.Player->Done() || GetTickCount() > gRun.End)
        PostMessageW(gRun.Window, WM_CLOSE, 0, 0);
}

class Win32StepOrder : public ::testing::TestWithParam<TStepScenario> {};

TEST_P(Win32StepOrder, ThroughTheWin32Window)
{
    const TStepScenario& scenario = GetParam();
    win32ui::TWin32MainWindow window(GetModuleHandleW(nullptr));
    PlaceFakeUnit();
    app::TForm1& form = window.Form();
    TScenarioPlayer player(scenario, form, RemoveFakeUnit);
    window.SetLogListener([&](const rtl::AnsiString& line) { player.LineAdded(line); });
    gRun = {window.Handle(), &player, nullptr, false, GetTickCount() + 20000};
    const UINT_PTR watch = SetTimer(nullptr, 0, 5, Watch);
    window.Show(SW_SHOWNOACTIVATE);
    window.Run();
    KillTimer(nullptr, watch);
    EXPECT_TRUE(player.Done());
    ExpectLog(scenario, player.Messages());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Win32StepOrder, ::testing::ValuesIn(StepScenarios()),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
