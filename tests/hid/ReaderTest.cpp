// The reader of a lent device: reports reach the data handler on the main thread, stops
// never deadlock, and an unplugged unit turns into data errors until the check-in.

#include "HidFixture.h"

#include "Win32TestSupport.h"

#include "rtl/MainThreadQueue.h"
#include "rtl/Thread.h"

#include <chrono>
#include <csignal>

using namespace hidtest;
using ::testing::Each;
using ::testing::ElementsAre;

namespace {

using Reader = HidTest;

std::string TextOf(const TReport& report)
{
    std::string text(report.Data.begin(), report.Data.end());
    return text.substr(0, text.find('\0'));
}

TEST_F(Reader, EveryInputReportReachesTheDataHandlerOnTheMainThread)
{
    const std::string script = WriteScript("expect-any\n"
                                           "send first\n"
                                           "send-hex 41 00 ff 7f\n"
                                           "send third\\r\\n\n"
                                           "sleep 60000\n");
    Place({"--script", script, "--in-length", "17"});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    Trigger("quillmark", "GO");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FRecorder.Reports.size() == 3; }));

    for (const TReport& report : FRecorder.Reports) {
        EXPECT_EQ(report.Device, device);
        EXPECT_EQ(report.ReportID, 0);
        EXPECT_EQ(report.Data.size(), 16u);
        EXPECT_EQ(report.Thread, FMainThread);
    }
    EXPECT_EQ(TextOf(FRecorder.Reports[0]), "first");
    EXPECT_EQ(FRecorder.Reports[1].Data,
              (std::vector<std::uint8_t>{0x41, 0x00, 0xff, 0x7f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(TextOf(FRecorder.Reports[2]), "third\r\n");

    // With nothing arriving the reader looks at the stop request every 100 ms.
    const auto before = std::chrono::steady_clock::now();
    FController->ReturnDevice(device);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_FALSE(FController->Devices(0)->ReaderRunning());
    Drain();
    EXPECT_EQ(FRecorder.Reports.size(), 3u);
    EXPECT_TRUE(FRecorder.ErrorDevices.empty());
}

TEST_F(Reader, AnAnswerToAWrittenCommandArrivesThroughTheReader)
{
    Place({"--version", "3.1.4"});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    // The first answer only tells that the reader is connected.
    Trigger("quillmark", "GSER");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FRecorder.Reports.size() == 1; }));

    ASSERT_EQ(device->OutputReportLength(), 65);
    ASSERT_TRUE(device->OpenDeviceHandle());
    const auto report = OutputReport("VER", device->OutputReportLength());
    const hid::THidWriteResult cut = device->WriteReport(report.data(), 64);
    EXPECT_FALSE(cut.Ok);
    EXPECT_EQ(cut.Error, static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(cut.ErrorText, "The parameter is incorrect");
    const hid::THidWriteResult whole = device->WriteReport(report.data(), 65);
    ASSERT_TRUE(whole.Ok);
    EXPECT_EQ(whole.Written, 65u);
    EXPECT_EQ(whole.Error, 0u);
    device->CloseDeviceHandle();

    ASSERT_TRUE(PumpMainThreadUntil([&] { return FRecorder.Reports.size() == 2; }));
    EXPECT_EQ(TextOf(FRecorder.Reports[1]), "OK 3.1.4\r\n");
    EXPECT_EQ(FRecorder.Reports[1].Data.size(), 1024u);
}

TEST_F(Reader, ReturningWhileTheReaderWaitsInAHandOverServesItAndEnds)
{
    const std::string script = WriteScript("expect-any\nsend one\nexpect-any\nsend two\nsleep 60000\n");
    Place({"--script", script});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    Trigger("quillmark", "GO");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FRecorder.Reports.size() == 1; }));

    // The queue is not run from here on, so the second report's hand-over stays waiting.
    Trigger("quillmark", "GO");
    auto& queue = rtl::TMainThreadQueue::Instance();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!queue.HasPending() && std::chrono::steady_clock::now() < deadline)
        queue.WaitForWork(std::chrono::milliseconds(50));
    ASSERT_TRUE(queue.HasPending());
    ASSERT_EQ(FRecorder.Reports.size(), 1u);

    FController->ReturnDevice(device);
    EXPECT_EQ(device, nullptr);
    ASSERT_EQ(FRecorder.Reports.size(), 2u);
    EXPECT_EQ(TextOf(FRecorder.Reports[1]), "two");
    EXPECT_EQ(FRecorder.Reports[1].Thread, FMainThread);
    EXPECT_FALSE(FController->Devices(0)->ReaderRunning());
}

TEST_F(Reader, AnUnplugBeforeTheCheckInRaisesDataErrorsUntilTheReturn)
{
    TSimProcess& unit = Place({});
    StartController();
    hid::THidDevice* device = Acquire();
    ASSERT_NE(device, nullptr);
    PrimeReader("quillmark");

    unit.Stop();
    ASSERT_TRUE(
        PumpMainThreadUntil([&] { return CountOf("removal quillmark") == 1 && FRecorder.ErrorDevices.size() >= 3; }));
    EXPECT_THAT(FRecorder.ErrorDevices, Each(device));
    EXPECT_EQ(FRecorder.Reports.size(), 1u);

    FController->ReturnDevice(device);
    EXPECT_EQ(FController->Count(), 0u);
    const std::size_t errors = FRecorder.ErrorDevices.size();
    Drain();
    EXPECT_EQ(FRecorder.ErrorDevices.size(), errors);
}

TEST_F(Reader, DestroyingALentDeviceWhoseUnitWentUnnoticedStopsItsReaderAndDropsIt)
{
    constexpr int Units = 8;
    TSimProcess& units = Place({"--count", std::to_string(Units)}, Units);
    // Cached now, so that a reader still starts once the unit no longer opens.
    FRecorder.DuringArrival = [](hid::THidDevice* device) {
        HIDP_CAPS caps;
        device->ReadCapabilities(caps);
    };
    StartController();
    // Killed, the program leaves its sockets behind: no broadcast, the devices stay attached,
    // and every open is refused.
    ASSERT_EQ(kill(units.Pid(), SIGKILL), 0);
    ASSERT_EQ(units.WaitForExit(), -SIGKILL);

    for (int round = 0; round < Units; ++round) {
        SCOPED_TRACE(round);
        hid::THidDevice* device = Acquire();
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->ReaderRunning());
        // Serves the reader's hand-overs alone; between them it retries the open, reading the
        // interface path each time.
        const std::size_t errors = FRecorder.ErrorDevices.size();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (FRecorder.ErrorDevices.size() < errors + 2 && std::chrono::steady_clock::now() < deadline)
            rtl::TThread::CheckSynchronize();
        ASSERT_GE(FRecorder.ErrorDevices.size(), errors + 2);

        // No replacement can be opened; the destruction still ends and leaves no empty slot.
        FController->DestroyDevice(device);
        for (std::size_t i = 0; i < FController->Count(); ++i)
            ASSERT_NE(FController->Devices(i), nullptr);
    }
}

TEST_F(Reader, DestroyingTheControllerStopsLentReadersAndTellsTheirHolders)
{
    Place({"--name", "a"});
    Place({"--name", "b"});
    StartController();
    ASSERT_NE(Acquire(), nullptr);
    PrimeReader("a");
    const std::size_t before = FRecorder.Events.size();

    FController.reset();
    EXPECT_THAT(EventsSince(before), ElementsAre("detach a"));
    EXPECT_FALSE(hid::HidBound());
}

} // namespace
