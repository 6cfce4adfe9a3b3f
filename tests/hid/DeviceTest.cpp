// One device object: when it may open the unit, what it keeps, how it ends, and the
// plug-and-play record it carries.

#include "FakeUnit.h"
#include "HidFixture.h"

#include <algorithm>

using namespace hidtest;
using ::testing::ElementsAre;

namespace {

using Device = HidTest;

TEST_F(Device, AFreeDeviceOpensOnlyWhileItsArrivalIsAnnounced)
{
    Place({"--name", "a", "--product", "Alpha"});
    Place({"--name", "b"});
    bool openedDuringArrival = false;
    FRecorder.DuringArrival = [&](hid::THidDevice* device) {
        if (UnitName(device) == "a") {
            device->GetProductText();
            openedDuringArrival = device->OpenDeviceHandle();
        }
    };
    StartController();
    hid::THidDevice* a = FController->Devices(0);
    hid::THidDevice* b = FController->Devices(1);
    EXPECT_TRUE(openedDuringArrival);

    // The handle left open still counts; the overlapped handles need a usable device.
    EXPECT_TRUE(a->OpenDeviceHandle());
    EXPECT_FALSE(a->OpenOverlappedHandle(hid::odRead));
    a->CloseDeviceHandle();
    EXPECT_FALSE(a->OpenDeviceHandle());
    EXPECT_EQ(a->GetProductText(), u"Alpha");

    EXPECT_FALSE(b->OpenDeviceHandle());
    EXPECT_EQ(b->GetProductText(), u"");
    const std::vector<BYTE> report(65, 0);
    const hid::THidWriteResult refused = b->WriteReport(report.data(), 65);
    EXPECT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Written, 0u);
    HIDP_CAPS caps;
    b->ReadCapabilities(caps);
    EXPECT_EQ(caps.InputReportByteLength, 0);
}

TEST_F(Device, ASecondDetachCallsNoHandlerAndADetachedObjectNeverStandsForItsUnitAgain)
{
    Place({});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    device->Detach();
    device->Detach();
    EXPECT_THAT(EventsSince(2), ElementsAre("detach quillmark"));
    EXPECT_FALSE(device->OpenDeviceHandle());

    // The unit itself never left: the scan counts the detached object as gone and lists the
    // unit afresh beside it.
    Broadcast();
    EXPECT_THAT(EventsSince(3), ElementsAre("removal quillmark", "arrival quillmark", "change"));
    ASSERT_EQ(FController->Count(), 2u);
    EXPECT_TRUE(FController->Devices(1)->Attached());

    FController->ReturnDevice(device);
    ASSERT_EQ(FController->Count(), 1u);
    EXPECT_TRUE(FController->Devices(0)->Attached());
}

TEST_F(Device, DestroyingAnAttachedListedDeviceLeavesAFreshFreeOneInItsPlace)
{
    Place({"--name", "a"});
    Place({"--name", "b"});
    StartController();
    hid::THidDevice* b = FController->Devices(1);
    TRecorder other;
    const auto otherData = hid::THidDataEvent::Of<&TRecorder::OtherData>(&FRecorder);

    // Destroyed right after the lending, while its new reader may still be starting.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        hid::THidDevice* a = Acquire();
        ASSERT_EQ(a, FController->Devices(0));
        ASSERT_TRUE(a->ReaderRunning());
        a->SetReaderSleepTime(250 + round);
        a->SetOnReportData(otherData);
        a->SetOnDetach(hid::THidPlugEvent::Of<&TRecorder::Arrival>(&other));
        const DWORD instance = a->DeviceInfo().FInstance;

        FController->DestroyDevice(a);
        ASSERT_EQ(FController->Count(), 2u);
        hid::THidDevice* fresh = FController->Devices(0);
        EXPECT_EQ(UnitName(fresh), "a");
        EXPECT_EQ(fresh->DeviceInfo().FInstance, instance);
        EXPECT_TRUE(fresh->Attached());
        EXPECT_FALSE(fresh->Acquired());
        EXPECT_FALSE(fresh->ReaderRunning());
        EXPECT_EQ(fresh->ReaderSleepTime(), 250 + round);
        EXPECT_TRUE(fresh->OnReportData().SameRoutine(otherData));
        EXPECT_EQ(fresh->OnDetach().Object(), &other);
        EXPECT_EQ(FController->Devices(1), b);
    }
    EXPECT_TRUE(other.Events.empty());
}

TEST_F(Device, DestroyingAStrandedDeviceTakesItOutOfTheList)
{
    Place({"--name", "a"});
    TSimProcess& unit = Place({"--name", "b", "--pid", "0x7800"});
    StartController();
    hid::THidDevice* b = Acquire(QuillmarkVid, 0x7800);
    ASSERT_EQ(b, FController->Devices(1));
    unit.Stop();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("removal b") == 1; }));

    FController->DestroyDevice(b);
    ASSERT_EQ(FController->Count(), 1u);
    EXPECT_EQ(UnitName(FController->Devices(0)), "a");
}

TEST_F(Device, AReportTheUnitDoesNotTakeFailsAsATimeOutInsteadOfWaitingForever)
{
    TFakeUnit deaf(FUnits.Path(), "deaf", TFakeUnit::Greets);
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    // The unit reads nothing after the open request: its queue fills, then a write gives up.
    const std::vector<BYTE> report(65, 0);
    hid::THidWriteResult result;
    int accepted = 0;
    while (accepted < 1000 && (result = device->WriteReport(report.data(), 65)).Ok)
        ++accepted;
    EXPECT_LT(accepted, 1000);
    EXPECT_EQ(result.Error, static_cast<std::uint32_t>(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(result.ErrorText, "The semaphore timeout period has expired");
    EXPECT_EQ(result.Written, 0u);
}

TEST_F(Device, ProductStringIsCutTo254Characters)
{
    std::string product;
    while (product.size() < 300)
        product += "0123456789";
    Place({"--product", product});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    const std::u16string text = device->GetProductText();
    ASSERT_EQ(text.size(), 254u);
    EXPECT_TRUE(std::equal(text.begin(), text.end(), product.begin()));
}

TEST_F(Device, PlugAndPlayRecordKeepsThePathAndEmptyValuesForAbsentProperties)
{
    Place({});
    StartController();
    const hid::THidPnPInfo& info = FController->Devices(0)->DeviceInfo();
    EXPECT_EQ(info.FInterfacePath, FUnits.SocketPath("quillmark"));
    EXPECT_EQ(info.FSetupClass, "");
    EXPECT_EQ(info.FDisplayName, "");
    EXPECT_TRUE(info.FHardwareIdList.empty());
    EXPECT_TRUE(info.FCompatibleIdList.empty());
    EXPECT_EQ(info.FCapabilityBits, 0u);
    EXPECT_EQ(info.FLegacyBus, 0u);
}

TEST_F(Device, AQueryOnlyUnitIsListedAndLentButNeverReadOrWritten)
{
    Place({"--access", "query-only", "--product", "Reserved"});
    StartController();
    ASSERT_EQ(FController->Count(), 1u);
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->FullAccess());
    EXPECT_FALSE(device->ReaderRunning());
    EXPECT_EQ(device->HidAttributes().VendorID, QuillmarkVid);
    EXPECT_EQ(device->GetProductText(), u"Reserved");
    HIDP_CAPS caps;
    device->ReadCapabilities(caps);
    EXPECT_EQ(caps.OutputReportByteLength, 65);

    const std::vector<BYTE> report(65, 0);
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_FALSE(device->WriteReport(report.data(), 65).Ok) << attempt;
    device->SetOnReportData(hid::THidDataEvent::Of<&TRecorder::OtherData>(&FRecorder));
    EXPECT_FALSE(device->ReaderRunning());
}

} // namespace
