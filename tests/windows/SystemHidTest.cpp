// The HID layer on the system's own HID.dll and SetupApi.dll (Wine's, in CI).

#include "hid/Hid.h"
#include "hid/HidControllerClass.h"
#include "hid/ModuleLoader.h"
#include "hid/SetupApi.h"
#include "rtl/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

class TChangeCounter {
public:
    void Changed(rtl::TObject*) { ++FCount; }
    int FCount = 0;
};

TEST(SystemHid, ControllerBindsTheSystemLibrariesAndListsItsDevices)
{
    TChangeCounter counter;
    hid::THidDeviceController controller(nullptr);
    ASSERT_TRUE(hid::HidBound());
    ASSERT_NE(controller.NotifyWindow(), nullptr);
    controller.BeginLoading();
    controller.SetOnDeviceChange(rtl::TNotifyEvent::Of<&TChangeCounter::Changed>(&counter));
    controller.EndLoading();

    // The first scan comes through the window's message queue.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (counter.FCount == 0 && std::chrono::steady_clock::now() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        rtl::TMainThreadQueue::Instance().ProcessPending();
    }
    EXPECT_EQ(counter.FCount, 1);
    for (std::size_t i = 0; i < controller.Count(); ++i) {
        const hid::THidDevice* device = controller.Devices(i);
        EXPECT_NE(device->HidAttributes().VendorID, 0);
        EXPECT_EQ(device->DeviceInfo().FInterfacePath.rfind("\\\\?\\", 0), 0u) << device->DeviceInfo().FInterfacePath;
        EXPECT_EQ(device->DeviceInfo().FSetupClass, "HIDClass");
    }
}

TEST(SystemHid, LibrariesLoadOnlyWhileTheirHandleIsEmpty)
{
    HMODULE library = nullptr;
    ASSERT_TRUE(hid::OpenLibrary(library, "HID.dll"));
    const HMODULE first = library;
    EXPECT_TRUE(hid::OpenLibrary(library, "SetupApi.dll"));
    EXPECT_EQ(library, first);
    EXPECT_NE(hid::FindEntry(library, "HidD_GetAttributes"), nullptr);
    bool allFound = true;
    EXPECT_EQ(hid::FindRequiredEntry(library, "HidD_NoSuchEntry", allFound), nullptr);
    EXPECT_FALSE(allFound);
    hid::CloseLibrary(library);
    EXPECT_EQ(library, nullptr);
    EXPECT_FALSE(hid::OpenLibrary(library, "no-such-library-here.dll"));
}

} // namespace
