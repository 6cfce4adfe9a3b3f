// The controller's list across scans: what each scan raises, in which order, and what stays
// listed when units are taken out and placed again.

#include "FakeUnit.h"
#include "HidFixture.h"
#include "HiddenEntryPoints.h"

#include <csignal>

using namespace hidtest;
using ::testing::ElementsAre;

namespace {

using ControllerEvents = HidTest;

TEST_F(ControllerEvents, FirstScanReportsOneChangeEvenWithoutDevicesAndAQuietBroadcastNone)
{
    StartController();
    Drain();
    EXPECT_THAT(FRecorder.Events, ElementsAre("change"));
    EXPECT_EQ(FRecorder.Senders.at(0), FController.get());
    EXPECT_EQ(FController->Count(), 0u);

    Broadcast();
    // Single-device notices (here DBT_DEVICEARRIVAL) are not acted upon, whatever their lParam.
    ASSERT_TRUE(PostMessageA(FController->NotifyWindow(), WM_DEVICECHANGE, 0x8000, -1));
    Drain();
    EXPECT_THAT(FRecorder.Events, ElementsAre("change"));
}

TEST_F(ControllerEvents, ABroadcastAheadOfThePostedFirstScanLeavesItTheOnlyChange)
{
    // A unit placed once the notification window stands is broadcast, and the broadcast may
    // be handled before the first scan the constructor posted.
    Place({});
    FController = std::make_unique<hid::THidDeviceController>(nullptr);
    FController->BeginLoading();
    FController->SetOnArrival(hid::THidPlugEvent::Of<&TRecorder::Arrival>(&FRecorder));
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::Change>(&FRecorder));
    FController->EndLoading();
    hid::TMessage broadcast{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
    FController->HandleNotifyMessage(broadcast);
    Drain();
    EXPECT_THAT(FRecorder.Events, ElementsAre("arrival quillmark", "change"));
}

TEST_F(ControllerEvents, LaterArrivalsAreAppendedAndAnUnchangedBroadcastRaisesNothing)
{
    Place({"--name", "b", "--count", "2"}, 2);
    StartController();
    EXPECT_THAT(FRecorder.Events, ElementsAre("arrival b-1", "arrival b-2", "change"));

    // "a" sorts first in the enumeration but arrives last.
    Place({"--name", "a"});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("change") == 2; }));
    EXPECT_THAT(EventsSince(3), ElementsAre("arrival a", "change"));
    ASSERT_EQ(FController->Count(), 3u);
    hid::THidDevice* held[] = {FController->Devices(0), FController->Devices(1), FController->Devices(2)};
    EXPECT_EQ(UnitName(held[0]), "b-1");
    EXPECT_EQ(UnitName(held[1]), "b-2");
    EXPECT_EQ(UnitName(held[2]), "a");

    Broadcast();
    EXPECT_EQ(FRecorder.Events.size(), 5u);
    ASSERT_EQ(FController->Count(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(FController->Devices(i), held[i]) << i;
}

TEST_F(ControllerEvents, ABroadcastDuringARescanIsNotLostButScansAgain)
{
    Place({"--name", "b"});
    StartController();
    std::unique_ptr<TSimProcess> late;
    FRecorder.DuringArrival = [&](hid::THidDevice*) {
        if (late)
            return;
        // A unit placed after this rescan enumerated, announced while it still runs.
        late = std::make_unique<TSimProcess>(FUnits.Path(), std::vector<std::string>{"--name", "c"});
        hid::TMessage notice{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
        FController->HandleNotifyMessage(notice);
    };
    Place({"--name", "a"});
    // Delivered here rather than from the queue, so that no later broadcast can mend a loss.
    hid::TMessage change{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
    FController->HandleNotifyMessage(change);
    EXPECT_THAT(EventsSince(2), ElementsAre("arrival a", "change", "arrival c", "change"));
}

TEST_F(ControllerEvents, UnpluggingAFreeDeviceDetachesAnnouncesAndDropsIt)
{
    Place({"--name", "keep"});
    TSimProcess& gone = Place({"--name", "gone"});
    StartController();
    ASSERT_EQ(FController->Count(), 2u);
    const std::size_t before = FRecorder.Events.size();

    gone.Stop();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("change") == 2; }));
    EXPECT_THAT(EventsSince(before), ElementsAre("detach gone", "removal gone", "change"));
    ASSERT_EQ(FController->Count(), 1u);
    EXPECT_EQ(UnitName(FController->Devices(0)), "keep");
}

TEST_F(ControllerEvents, UnpluggingALentDeviceStrandsItUntilReturned)
{
    TSimProcess& unit = Place({});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    bool openedDuringRemoval = true;
    FRecorder.DuringRemoval = [&](hid::THidDevice* removed) { openedDuringRemoval = removed->OpenDeviceHandle(); };

    unit.Stop();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("change") == 2; }));
    EXPECT_THAT(EventsSince(2), ElementsAre("detach quillmark", "removal quillmark", "change"));
    EXPECT_FALSE(openedDuringRemoval);
    ASSERT_EQ(FController->Count(), 1u);
    EXPECT_EQ(FController->Devices(0), device);
    EXPECT_FALSE(device->Attached());
    EXPECT_TRUE(device->Acquired());
    hid::THidDevice* other = nullptr;
    EXPECT_FALSE(FController->AcquireById(other, QuillmarkVid, QuillmarkPid));

    // Each later scan finds it gone again; its detach handler was spent on the first.
    Broadcast();
    Broadcast();
    EXPECT_THAT(EventsSince(5), ElementsAre("removal quillmark", "change", "removal quillmark", "change"));

    FController->ReturnDevice(device);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(FController->Count(), 0u);
    Broadcast();
    EXPECT_EQ(FRecorder.Events.size(), 9u);
}

TEST_F(ControllerEvents, AReplugBeforeTheReturnListsANewFreeObjectBesideTheStrandedOne)
{
    TSimProcess& first = Place({});
    StartController();
    hid::THidDevice* stranded = Acquire();
    ASSERT_NE(stranded, nullptr);
    const DWORD oldInstance = stranded->DeviceInfo().FInstance;
    first.Stop();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("change") == 2; }));

    Place({});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("arrival quillmark") == 2; }));
    Drain();
    ASSERT_EQ(FController->Count(), 2u);
    EXPECT_EQ(FController->Devices(0), stranded);
    EXPECT_FALSE(stranded->Attached());
    hid::THidDevice* fresh = FController->Devices(1);
    EXPECT_TRUE(fresh->Attached());
    EXPECT_FALSE(fresh->Acquired());
    EXPECT_NE(fresh->DeviceInfo().FInstance, oldInstance);
    EXPECT_EQ(fresh->DeviceInfo().FInterfacePath, stranded->DeviceInfo().FInterfacePath);

    FController->ReturnDevice(stranded);
    ASSERT_EQ(FController->Count(), 1u);
    EXPECT_EQ(FController->Devices(0), fresh);
    EXPECT_EQ(Acquire(), fresh);
}

// Hides one entry point for as long as it lives; nothing may stay hidden for later tests.
struct THiddenEntryPoint {
    THiddenEntryPoint(const char* module, const char* entry) { testsupport::HideEntryPoint(module, entry); }
    ~THiddenEntryPoint() { testsupport::ShowAllEntryPoints(); }
};

TEST_F(ControllerEvents, AKilledUnitIsRemovedAndAUnitPlacedOverItsSocketIsTaken)
{
    TSimProcess& killed = Place({});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    killed.Signal(SIGKILL);
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("removal quillmark") == 1; }));

    // Its socket file stays behind, but nobody listens on it: no unit.
    FController->ReturnDevice(device);
    Broadcast();
    EXPECT_EQ(FController->Count(), 0u);
    Place({});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("arrival quillmark") == 2; }));
    EXPECT_NE(Acquire(), nullptr);
}

TEST_F(ControllerEvents, ARescanConnectsOnceToANewUnitAndNeverToAKnownOne)
{
    TFakeUnit first(FUnits.Path(), "first", TFakeUnit::Greets);
    StartController();
    Drain();
    TFakeUnit second(FUnits.Path(), "second", TFakeUnit::Greets);
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("arrival second") == 1; }));
    Broadcast();
    Broadcast();
    EXPECT_EQ(first.Accepted(), 1);
    EXPECT_EQ(second.Accepted(), 1);

    // A known unit that dies is noticed without connecting to it again.
    second.Die();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("removal second") == 1; }));
    EXPECT_EQ(first.Accepted(), 1);
    EXPECT_EQ(FController->Count(), 1u);
}

TEST_F(ControllerEvents, OneMissingEntryPointFailsTheBindingAsAWhole)
{
    Place({});
    const std::pair<const char*, const char*> missing[] = {
        {"HID.dll", "HidD_GetAttributes"},
        {"HID.dll", "HidD_GetNumInputBuffers"},
        {"SetupApi.dll", "SetupDiGetDeviceRegistryPropertyA"},
        {"SetupApi.dll", "SetupDiDestroyDeviceInfoList"},
    };
    for (const auto& [module, entry] : missing) {
        SCOPED_TRACE(entry);
        {
            THiddenEntryPoint hidden(module, entry);
            FController = std::make_unique<hid::THidDeviceController>(nullptr);
        }
        EXPECT_FALSE(hid::HidBound());
        EXPECT_EQ(FController->NotifyWindow(), nullptr);
        // Not loading: the assignment scans at once, and finds nothing to report.
        FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::Change>(&FRecorder));
        FController->DeviceChange();
        Drain();
        EXPECT_EQ(FController->Count(), 0u);
        EXPECT_TRUE(FRecorder.Events.empty());
        hid::THidDevice* device = nullptr;
        EXPECT_FALSE(FController->AcquireById(device, QuillmarkVid, -1));
        FController.reset();
    }

    // Nothing of the failed bindings is left behind.
    StartController();
    EXPECT_TRUE(hid::HidBound());
    EXPECT_NE(FController->NotifyWindow(), nullptr);
    EXPECT_EQ(FController->Count(), 1u);
}

} // namespace
