// The notification-window part: posted messages and device-change broadcasts reach window
// procedures on the main thread through the main-thread queue.

#include "SimProcess.h"
#include "Win32TestSupport.h"

#include "rtl/MainThreadQueue.h"
#include "winapi/posix/SubstituteCounters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace testsupport;

namespace {

struct TDelivery {
    HWND Window;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
    std::thread::id Thread;
};

std::vector<TDelivery> gDeliveries;
// Runs inside the next delivery, as a rescan would.
std::function<void()> gDuringDelivery;

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    gDeliveries.push_back({window, message, wParam, lParam, std::this_thread::get_id()});
    if (auto during = std::exchange(gDuringDelivery, nullptr))
        during();
    return DefWindowProcA(window, message, wParam, lParam);
}

// Creates and removes the file `times` times; gives the directory events that makes.
std::uint64_t Flicker(const std::string& path, int times)
{
    for (int i = 0; i < times; ++i) {
        close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        unlink(path.c_str());
    }
    return 2u * static_cast<std::uint64_t>(times);
}

// Waits, leaving the main-thread queue alone, until the monitor has acted on that many
// directory events in all.
bool MonitorHasActedOn(std::uint64_t events)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (winapi::posix::SubstituteCounters().DirectoryEvents < events) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::size_t DeviceChangesFor(HWND window)
{
    std::size_t count = 0;
    for (const auto& delivery : gDeliveries)
        count += delivery.Window == window && delivery.Message == WM_DEVICECHANGE
            && delivery.WParam == DBT_DEVNODES_CHANGED && delivery.LParam == 0;
    return count;
}

class Broadcast : public ::testing::Test {
protected:
    void SetUp() override
    {
        gDeliveries.clear();
        gDuringDelivery = nullptr;
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = RecordingProcedure;
        windowClass.lpszClassName = "TolvaneTestNotify";
        ASSERT_NE(RegisterClassA(&windowClass), 0);
        FWindow = CreateWindowExA(WS_EX_TOOLWINDOW, "TolvaneTestNotify", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(FWindow, nullptr);
    }
    void TearDown() override
    {
        if (FWindow)
            DestroyWindow(FWindow);
        UnregisterClassA("TolvaneTestNotify", nullptr);
        rtl::TMainThreadQueue::Instance().ProcessPending();
    }

    // Places a bare unit socket the way units are placed: under a hidden name, then renamed.
    int PlaceRawUnit(const std::string& name)
    {
        const std::string hidden = FUnits.Path() + "/." + name + ".sock.tmp";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, hidden.c_str());
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd, 4), 0);
        // The hidden name alone is no placement.
        EXPECT_FALSE(PumpMainThreadUntil([&] { return DeviceChangesFor(FWindow) > 0; }, 150ms));
        EXPECT_EQ(rename(hidden.c_str(), FUnits.SocketPath(name).c_str()), 0);
        return fd;
    }

    TScratchUnitDirectory FUnits;
    HWND FWindow = nullptr;
};

TEST_F(Broadcast, PlacementAndRemovalReachTheWindowOnTheMainThread)
{
    const int unit = PlaceRawUnit("raw");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return DeviceChangesFor(FWindow) >= 1; }, 2s));
    EXPECT_EQ(gDeliveries.back().Thread, std::this_thread::get_id());

    const std::size_t before = DeviceChangesFor(FWindow);
    ASSERT_EQ(unlink(FUnits.SocketPath("raw").c_str()), 0);
    ASSERT_TRUE(PumpMainThreadUntil([&] { return DeviceChangesFor(FWindow) > before; }, 2s));
    close(unit);
}

TEST_F(Broadcast, QuillmarkSimPlacementAndSignalRemovalAreBroadcast)
{
    auto sim = std::make_unique<TSimProcess>(FUnits.Path(), std::vector<std::string>{});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return DeviceChangesFor(FWindow) >= 1; }, 2s));
    const std::size_t before = DeviceChangesFor(FWindow);
    EXPECT_EQ(sim->Stop(), 0);
    EXPECT_TRUE(PumpMainThreadUntil([&] { return DeviceChangesFor(FWindow) > before; }, 2s));
}

TEST_F(Broadcast, HiddenNamesGiveNoBroadcastAndABurstWaitsAsOne)
{
    auto& events = winapi::posix::SubstituteCounters().DirectoryEvents;
    auto& queue = rtl::TMainThreadQueue::Instance();
    // Lock files and a placement's bind name.
    std::uint64_t before = events;
    ASSERT_TRUE(MonitorHasActedOn(before + Flicker(FUnits.Path() + "/.unit.lock", 50)));
    queue.ProcessPending();
    EXPECT_EQ(DeviceChangesFor(FWindow), 0u);

    // A hundred changes while the main thread is busy: the rescan that one broadcast starts
    // sees them all.
    before = events;
    ASSERT_TRUE(MonitorHasActedOn(before + Flicker(FUnits.SocketPath("flicker"), 50)));
    queue.ProcessPending();
    EXPECT_EQ(DeviceChangesFor(FWindow), 1u);
}

TEST_F(Broadcast, AChangeWhileABroadcastIsDeliveredGetsOneOfItsOwn)
{
    auto& events = winapi::posix::SubstituteCounters().DirectoryEvents;
    const std::uint64_t before = events;
    ASSERT_TRUE(MonitorHasActedOn(before + Flicker(FUnits.SocketPath("first"), 1)));
    // The rescan has looked already when this burst comes.
    gDuringDelivery = [&] {
        const std::uint64_t now = events;
        EXPECT_TRUE(MonitorHasActedOn(now + Flicker(FUnits.SocketPath("second"), 20)));
    };
    rtl::TMainThreadQueue::Instance().ProcessPending();
    rtl::TMainThreadQueue::Instance().ProcessPending();
    EXPECT_EQ(DeviceChangesFor(FWindow), 2u);
}

TEST_F(Broadcast, MessageOnlyWindowsGetNoBroadcastAndDestroyedWindowsNoPostedMessage)
{
    HWND messageOnly =
        CreateWindowExA(0, "TolvaneTestNotify", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(messageOnly, nullptr);
    const int unit = PlaceRawUnit("raw");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return DeviceChangesFor(FWindow) >= 1; }, 2s));
    EXPECT_EQ(DeviceChangesFor(messageOnly), 0u);

    ASSERT_TRUE(PostMessageA(messageOnly, WM_USER + 1, 7, -1));
    ASSERT_TRUE(PostMessageA(FWindow, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, -1));
    EXPECT_TRUE(DestroyWindow(messageOnly));
    gDeliveries.clear();
    rtl::TMainThreadQueue::Instance().ProcessPending();
    ASSERT_EQ(gDeliveries.size(), 1u);
    EXPECT_EQ(gDeliveries[0].Window, FWindow);
    EXPECT_EQ(gDeliveries[0].LParam, -1);
    EXPECT_FALSE(PostMessageA(messageOnly, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    close(unit);
}

TEST_F(Broadcast, WindowUserDataIsKeptPerWindow)
{
    EXPECT_EQ(SetWindowLongPtrA(FWindow, GWLP_USERDATA, 1234), 0);
    EXPECT_EQ(GetWindowLongPtrA(FWindow, GWLP_USERDATA), 1234);
    EXPECT_EQ(SetWindowLongPtrA(FWindow, GWLP_USERDATA, 5), 1234);
}

} // namespace
