// Unit sockets that break the transport: a scan and an open stay bounded and find the real
// units among broken ones, a late greeting is announced, an empty message is skipped, and a
// write a unit does not take stays pending until it is cancelled.

#include "FakeUnit.h"
#include "SimProcess.h"
#include "Win32TestSupport.h"

#include "rtl/MainThreadQueue.h"
#include "winapi/posix/SubstituteCounters.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

std::size_t gDeviceChanges = 0;

LRESULT CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    gDeviceChanges += message == WM_DEVICECHANGE;
    return DefWindowProcA(window, message, wParam, lParam);
}

class UnitSockets : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (FWindow)
            DestroyWindow(FWindow);
        UnregisterClassA("TolvaneSocketTest", nullptr);
        rtl::TMainThreadQueue::Instance().ProcessPending();
    }

    // A top-level window, so that device changes are watched and broadcast.
    void Watch()
    {
        gDeviceChanges = 0;
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = CountingProcedure;
        windowClass.lpszClassName = "TolvaneSocketTest";
        ASSERT_NE(RegisterClassA(&windowClass), 0);
        FWindow = CreateWindowExA(0, "TolvaneSocketTest", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(FWindow, nullptr);
    }

    // The interface paths a device-setup scan lists.
    std::vector<std::string> Scan()
    {
        auto getClassDevs = TEST_ENTRY("SetupApi.dll", SetupDiGetClassDevsA);
        auto enumInterfaces = TEST_ENTRY("SetupApi.dll", SetupDiEnumDeviceInterfaces);
        auto detail = TEST_ENTRY("SetupApi.dll", SetupDiGetDeviceInterfaceDetailA);
        GUID hid;
        TEST_ENTRY("HID.dll", HidD_GetHidGuid)(&hid);
        HDEVINFO set = getClassDevs(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        std::vector<std::string> paths;
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; enumInterfaces(set, nullptr, &hid, i, &data); ++i) {
            std::vector<char> block(1024);
            auto* path = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
            path->cbSize = sizeof *path;
            EXPECT_TRUE(detail(set, &data, path, static_cast<DWORD>(block.size()), nullptr, nullptr));
            paths.emplace_back(path->DevicePath);
        }
        TEST_ENTRY("SetupApi.dll", SetupDiDestroyDeviceInfoList)(set);
        return paths;
    }

    TScratchUnitDirectory FUnits;
    HWND FWindow = nullptr;
};

TEST_F(UnitSockets, BrokenSocketsHoldNoScanAndHideNoRealUnit)
{
    std::vector<std::unique_ptr<TFakeUnit>> broken;
    const std::pair<const char*, TFakeUnit::TMode> kinds[] = {
        {"a-never-accepts", TFakeUnit::NeverAccepts},
        {"b-backlog-full", TFakeUnit::BacklogFull},
        {"c-stale", TFakeUnit::Stale},
        {"d-silent", TFakeUnit::Silent},
        {"e-silent", TFakeUnit::Silent},
        {"f-never-accepts", TFakeUnit::NeverAccepts},
    };
    for (const auto& [name, mode] : kinds)
        broken.push_back(std::make_unique<TFakeUnit>(FUnits.Path(), name, mode));
    TSimProcess unit(FUnits.Path(), {"--name", "z-real"});

    for (int scan = 0; scan < 2; ++scan)
        EXPECT_EQ(Scan(), std::vector<std::string>{FUnits.SocketPath("z-real")}) << scan;
    // Nor does opening one hold the caller: each fails.
    for (const auto& [name, mode] : kinds)
        EXPECT_EQ(OpenUnit(FUnits.SocketPath(name), GENERIC_WRITE), INVALID_HANDLE_VALUE) << name;
}

TEST_F(UnitSockets, AScanConnectsToADeadSocketOnlyWhenItsFileIsNewChangedOrNamed)
{
    auto& connects = winapi::posix::SubstituteCounters().ScanConnects;
    auto& events = winapi::posix::SubstituteCounters().DirectoryEvents;
    for (const bool watched : {false, true}) {
        SCOPED_TRACE(watched ? "watched" : "not watched");
        if (watched)
            Watch();
        std::uint64_t before = events;
        std::vector<std::unique_ptr<TFakeUnit>> dead;
        for (int i = 0; i < 20; ++i)
            dead.push_back(std::make_unique<TFakeUnit>(FUnits.Path(), "dead-" + std::to_string(i), TFakeUnit::Stale));
        // Their creation, named by events read after a scan, would have them tried once more.
        if (watched) {
            ASSERT_TRUE(PumpMainThreadUntil([&] { return events >= before + 20; }));
        }
        const std::uint64_t first = connects;
        EXPECT_EQ(Scan(), std::vector<std::string>{});
        EXPECT_EQ(connects - first, 20u);
        for (int scan = 0; scan < 3; ++scan)
            Scan();
        EXPECT_EQ(connects - first, 20u);

        if (watched) {
            // Placed again under its name, it may look like the old file; the event names it.
            before = events;
            dead[3].reset();
            dead[3] = std::make_unique<TFakeUnit>(FUnits.Path(), "dead-3", TFakeUnit::Stale);
            ASSERT_TRUE(PumpMainThreadUntil([&] { return events >= before + 2; }));
        } else {
            const timespec times[2] = {{1, 0}, {1, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, dead[3]->Path().c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        }
        Scan();
        EXPECT_EQ(connects - first, 21u);
    }
}

TEST_F(UnitSockets, ASocketThatListensOnlyAfterItWasTriedIsTriedAgainAndAnnounced)
{
    Watch();
    TFakeUnit late(FUnits.Path(), "late", TFakeUnit::Unlistened);
    ASSERT_TRUE(PumpMainThreadUntil([] { return gDeviceChanges > 0; }));
    EXPECT_EQ(Scan(), std::vector<std::string>{});

    const std::size_t before = gDeviceChanges;
    late.Listen();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return gDeviceChanges > before; }));
    EXPECT_EQ(Scan(), std::vector<std::string>{late.Path()});
}

TEST_F(UnitSockets, AUnitThatGreetsLateIsAnnouncedOnceItDoes)
{
    Watch();
    TFakeUnit late(FUnits.Path(), "late", TFakeUnit::Silent);
    ASSERT_TRUE(PumpMainThreadUntil([] { return gDeviceChanges > 0; }));
    EXPECT_EQ(Scan(), std::vector<std::string>{});

    const std::size_t before = gDeviceChanges;
    late.Greet();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return gDeviceChanges > before; }));
    EXPECT_EQ(Scan(), std::vector<std::string>{late.Path()});
}

TEST_F(UnitSockets, OddReportsAreReadAsOneWholeReportAndAnEmptyMessageIsSkipped)
{
    const std::string after(64, 'L');
    const struct {
        const char* Name;
        std::vector<std::string> Messages;
        std::string Text; // of the first report read, zero-filled to 65 bytes
    } cases[] = {
        {"empty", {"", std::string("\0OK after empty", 15)}, "OK after empty"},
        {"short", {std::string("\0short", 6)}, "short"},
        {"long", {std::string(1, '\0') + after + "cut off"}, after},
    };
    for (const auto& row : cases) {
        TFakeUnit unit(FUnits.Path(), row.Name, TFakeUnit::Greets, row.Messages);
        HANDLE reader = OpenUnit(unit.Path(), GENERIC_READ, FILE_FLAG_OVERLAPPED);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE) << row.Name << GetLastError();
        const TReadResult read = ReadReport(reader, 65);
        EXPECT_TRUE(read.Completed) << row.Name;
        EXPECT_EQ(read.Error, ERROR_SUCCESS) << row.Name;
        EXPECT_EQ(read.Bytes, 65u) << row.Name;
        EXPECT_EQ(ReportText(read.Report), row.Text) << row.Name;
        CloseHandle(reader);
    }
}

TEST_F(UnitSockets, AWriteTheUnitDoesNotTakeStaysPendingUntilCancelled)
{
    TFakeUnit unit(FUnits.Path(), "deaf", TFakeUnit::Greets);
    HANDLE writer = OpenUnit(unit.Path(), GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << GetLastError();
    const auto report = OutputReport("VER");
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The unit reads nothing after the open request, so its queue fills up; a write pending
    // while the unit still takes its open request goes through in the wait.
    bool pending = false;
    for (int i = 0; i < 1000 && !pending; ++i) {
        if (!WriteFile(writer, report.data(), 65, nullptr, &overlapped)) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            pending = WaitForSingleObject(overlapped.hEvent, 50) == WAIT_TIMEOUT;
        }
    }
    ASSERT_TRUE(pending);
    DWORD done = 12345;
    EXPECT_FALSE(GetOverlappedResult(writer, &overlapped, &done, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    EXPECT_TRUE(CancelIo(writer));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(writer, &overlapped, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(done, 0u);
    CloseHandle(overlapped.hEvent);
    CloseHandle(writer);
}

} // namespace
