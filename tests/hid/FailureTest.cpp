// What the layer does when something throws in its middle: an interface whose record cannot be
// read, a device-change handler that fails, a reader that cannot start. Each failure stays
// with its own device or event; the controller keeps scanning and lending.

#include "HidFixture.h"

#include "hid/SetupApi.h"
#include "rtl/Application.h"

#include <new>
#include <stdexcept>

using namespace hidtest;
using ::testing::ElementsAre;

namespace {

class Failures : public HidTest {
protected:
    void SetUp() override
    {
        HidTest::SetUp();
        rtl::Application->SetExceptionHook([this](const rtl::AnsiString& message) { FReported.push_back(message); });
    }
    void TearDown() override
    {
        HidTest::TearDown();
        rtl::Application->SetExceptionHook(nullptr);
    }

    std::vector<std::string> FReported;
};

// The first property read fails as an allocation would; the rest reach the system.
decltype(hid::SetupApi.SetupDiGetDeviceRegistryPropertyA) gRealProperty = nullptr;

BOOL FailingProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type, PBYTE buffer, DWORD size,
                     PDWORD needed)
{
    if (hid::SetupApi.SetupDiGetDeviceRegistryPropertyA == FailingProperty) {
        hid::SetupApi.SetupDiGetDeviceRegistryPropertyA = gRealProperty;
        throw std::bad_alloc();
    }
    return gRealProperty(set, device, property, type, buffer, size, needed);
}

TEST_F(Failures, InterfaceWhoseRecordCannotBeReadIsSkippedAndTheNextListed)
{
    Place({"--name", "a"});
    Place({"--name", "b"});
    FController = std::make_unique<hid::THidDeviceController>(nullptr);
    gRealProperty = hid::SetupApi.SetupDiGetDeviceRegistryPropertyA;
    hid::SetupApi.SetupDiGetDeviceRegistryPropertyA = FailingProperty;
    FController->BeginLoading();
    FController->SetOnArrival(hid::THidPlugEvent::Of<&TRecorder::Arrival>(&FRecorder));
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::Change>(&FRecorder));
    FController->EndLoading();
    const bool scanned = PumpMainThreadUntil([&] { return CountOf("change") > 0; });
    hid::SetupApi.SetupDiGetDeviceRegistryPropertyA = gRealProperty;
    ASSERT_TRUE(scanned);
    EXPECT_THAT(FRecorder.Events, ElementsAre("arrival b", "change"));
    EXPECT_TRUE(FReported.empty());
}

class TFailingChange {
public:
    void Change(rtl::TObject*)
    {
        ++FCalls;
        if (FArmed) {
            FArmed = false;
            throw std::runtime_error("handler failed");
        }
    }
    bool FArmed = false;
    int FCalls = 0;
};

TEST_F(Failures, DeviceChangeHandlerThatThrowsIsReportedAndLaterChangesStillRescan)
{
    StartController();
    TFailingChange handler;
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TFailingChange::Change>(&handler));
    ASSERT_EQ(handler.FCalls, 1);
    handler.FArmed = true;
    Place({"--name", "a"});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return handler.FCalls == 2; }));
    EXPECT_THAT(FReported, ElementsAre("handler failed"));
    Place({"--name", "b"});
    ASSERT_TRUE(PumpMainThreadUntil([&] { return handler.FCalls == 3; }));
    EXPECT_EQ(FController->Count(), 2u);
    EXPECT_EQ(FReported.size(), 1u);
}

// The capability read of a reader about to start fails; no reader runs meanwhile.
decltype(hid::HidApi.HidP_GetCaps) gRealGetCaps = nullptr;

NTSTATUS FailingGetCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS)
{
    hid::HidApi.HidP_GetCaps = gRealGetCaps;
    throw std::runtime_error("reader cannot start");
}

TEST_F(Failures, AcquireWhoseReaderCannotStartLendsNothingAndMayBeTriedAgain)
{
    Place({});
    StartController();
    ASSERT_EQ(FController->Count(), 1u);
    gRealGetCaps = hid::HidApi.HidP_GetCaps;
    hid::HidApi.HidP_GetCaps = FailingGetCaps;
    hid::THidDevice* device = nullptr;
    EXPECT_THROW(FController->AcquireById(device, QuillmarkVid, QuillmarkPid), std::runtime_error);
    hid::HidApi.HidP_GetCaps = gRealGetCaps;
    EXPECT_EQ(device, nullptr);
    EXPECT_FALSE(FController->Devices(0)->Acquired());
    EXPECT_EQ(Acquire(), FController->Devices(0));
    PrimeReader("quillmark");
}

} // namespace
