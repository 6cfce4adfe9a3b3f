// Lending and taking back devices, and the controller's published properties and handler
// setters.

#include "HidFixture.h"

#include <csignal>

using namespace hidtest;
using ::testing::ElementsAre;

namespace {

using CheckOut = HidTest;

TEST_F(CheckOut, AcquireByIdLendsFreeMatchesInListOrderAndReturnDeviceFreesThemAgain)
{
    // a (0xF055:0x7800) sorts before b-1 and b-2 (0x1209:0x0043).
    Place({"--name", "a", "--vid", "0xF055", "--pid", "0x7800"});
    Place({"--name", "b", "--count", "2"}, 2);
    StartController();
    ASSERT_EQ(FController->Count(), 3u);

    hid::THidDevice* first = Acquire();
    hid::THidDevice* second = Acquire();
    EXPECT_EQ(first, FController->Devices(1));
    EXPECT_EQ(second, FController->Devices(2));
    hid::THidDevice* none = first;
    EXPECT_FALSE(FController->AcquireById(none, QuillmarkVid, QuillmarkPid));
    EXPECT_EQ(none, nullptr);

    // -1 takes any product of the vendor; 0xF055 compares as the unsigned id it is.
    none = first;
    EXPECT_FALSE(FController->AcquireById(none, 0xF055, 0x0043));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Acquire(0xF055, -1), FController->Devices(0));
    EXPECT_FALSE(FController->AcquireById(none, 0xF055, -1));

    // A returned device stays listed, free, with its handlers, and is lent again first.
    hid::THidDevice* kept = first;
    FController->ReturnDevice(first);
    EXPECT_EQ(first, nullptr);
    ASSERT_EQ(FController->Count(), 3u);
    EXPECT_FALSE(kept->Acquired());
    EXPECT_FALSE(kept->ReaderRunning());
    EXPECT_TRUE(kept->OnReportData().SameRoutine(FController->OnDeviceData()));
    EXPECT_FALSE(kept->OpenDeviceHandle());
    ASSERT_EQ(none, nullptr);
    FController->ReturnDevice(none);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(FController->Count(), 3u);
    EXPECT_EQ(Acquire(QuillmarkVid, -1), kept);
    EXPECT_TRUE(kept->ReaderRunning());
}

TEST_F(CheckOut, ADeviceAnotherProcessHoldsIsPassedOverWatchedAndLentOnceItsHolderDies)
{
    Place({"--name", "b-1", "--script", WriteScript("expect VER\nsleep 20000\n")});
    Place({"--name", "b-2"});
    TChildProcess holder(TOLVANE_CLI_PATH, {});
    ASSERT_TRUE(holder.WaitForOutput(">>VER"));
    StartController();
    ASSERT_EQ(FController->Count(), 2u);
    hid::THidDevice* held = FController->Devices(0);

    EXPECT_EQ(Acquire(), FController->Devices(1));
    EXPECT_TRUE(held->ClaimedElsewhere());
    EXPECT_TRUE(FController->InUseElsewhere(held));
    EXPECT_FALSE(FController->InUseElsewhere(FController->Devices(1)));

    const std::size_t changes = CountOf("change");
    holder.Signal(SIGKILL);
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("change") > changes; }, 10s));
    EXPECT_FALSE(held->ClaimedElsewhere());
    EXPECT_EQ(Acquire(), held);
}

TEST_F(CheckOut, DevThreadSleepTimeReachesOnlyDevicesStillFollowingTheController)
{
    Place({"--name", "a"});
    StartController();
    hid::THidDevice* a = FController->Devices(0);
    FController->SetDevThreadSleepTime(250);
    EXPECT_EQ(a->ReaderSleepTime(), 250);

    // Devices of later scans start with 100, whatever the controller holds.
    Place({"--name", "b"});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FController->Count() == 2; }));
    hid::THidDevice* b = FController->Devices(1);
    EXPECT_EQ(b->ReaderSleepTime(), 100);

    FController->SetDevThreadSleepTime(300);
    EXPECT_EQ(a->ReaderSleepTime(), 300);
    EXPECT_EQ(b->ReaderSleepTime(), 100);

    // Out of the device's range: the property takes it, the devices do not.
    FController->SetDevThreadSleepTime(5);
    EXPECT_EQ(FController->DevThreadSleepTime(), 5);
    EXPECT_EQ(a->ReaderSleepTime(), 300);
    FController->SetDevThreadSleepTime(50);
    EXPECT_EQ(FController->DevThreadSleepTime(), 50);
    EXPECT_EQ(a->ReaderSleepTime(), 300);
    EXPECT_EQ(b->ReaderSleepTime(), 100);

    for (const auto& [value, expected] : {std::pair{9, 100}, {10001, 100}, {10, 10}, {0, 10}, {10000, 10000}}) {
        b->SetReaderSleepTime(value);
        EXPECT_EQ(b->ReaderSleepTime(), expected) << value;
    }

    FController->SetVersion("2.0");
    EXPECT_EQ(FController->Version(), "1.0.34");
}

TEST_F(CheckOut, OnlyANewChangeRoutineAssignedOutsideLoadingRescans)
{
    StartController();
    TRecorder other;

    // Same routine, other object: nothing happens, not even the store.
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::Change>(&other));
    EXPECT_EQ(FController->OnDeviceChange().Object(), &FRecorder);
    EXPECT_TRUE(other.Events.empty());

    FController->BeginLoading();
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::OtherChange>(&FRecorder));
    FController->EndLoading();
    EXPECT_THAT(FRecorder.Events, ElementsAre("change"));

    // The last notification acted upon was the first scan's, so this rescan reports a change.
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::Change>(&FRecorder));
    EXPECT_THAT(FRecorder.Events, ElementsAre("change", "change"));

    Broadcast();
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::OtherChange>(&FRecorder));
    EXPECT_THAT(FRecorder.Events, ElementsAre("change", "change"));
}

TEST_F(CheckOut, HandlerSettersPassOnOnlyToDevicesThatFollowTheController)
{
    Place({"--name", "a"});
    Place({"--name", "b"});
    StartController(false);
    hid::THidDevice* a = Acquire();
    hid::THidDevice* b = Acquire();
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(a->ReaderRunning());
    b->SetOnReportData(hid::THidDataEvent::Of<&TRecorder::OtherData>(&FRecorder));
    ASSERT_TRUE(b->ReaderRunning());
    TRecorder other;
    b->SetOnDetach(hid::THidPlugEvent::Of<&TRecorder::Arrival>(&other));

    FController->SetOnDeviceData(hid::THidDataEvent::Of<&TRecorder::Data>(&FRecorder));
    EXPECT_TRUE(a->ReaderRunning());
    EXPECT_TRUE(b->OnReportData().SameRoutine(hid::THidDataEvent::Of<&TRecorder::OtherData>(&FRecorder)));

    FController->SetOnDeviceDataError(hid::THidDataErrorEvent::Of<&TRecorder::DataError>(&FRecorder));
    EXPECT_TRUE(a->OnReadError() && b->OnReadError());
    FController->SetOnDeviceUnplug({});
    EXPECT_FALSE(a->OnDetach());
    EXPECT_EQ(b->OnDetach().Object(), &other);

    FController->SetOnDeviceData({});
    EXPECT_FALSE(a->ReaderRunning());
    EXPECT_FALSE(a->OnReportData());
    EXPECT_TRUE(b->ReaderRunning());

    // A handler set again restarts the reader only while the device is lent.
    FController->ReturnDevice(a);
    hid::THidDevice* returned = FController->Devices(0);
    FController->SetOnDeviceData(hid::THidDataEvent::Of<&TRecorder::Data>(&FRecorder));
    EXPECT_FALSE(returned->ReaderRunning());
    EXPECT_TRUE(returned->OnReportData());
    FController->ReturnDevice(b); // its detach handler must not outlive `other`
}

} // namespace
