#include "HidFixture.h"

#include "Win32TestSupport.h"

#include "rtl/MainThreadQueue.h"

#include <algorithm>
#include <fstream>

namespace hidtest {

std::string UnitName(const hid::THidDevice* device)
{
    const std::string& path = device->DeviceInfo().FInterfacePath;
    const std::size_t slash = path.rfind('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    return file.substr(0, file.rfind(".sock"));
}

void HidTest::SetUp()
{
    FMainThread = std::this_thread::get_id();
    // Leftovers of an earlier test (broadcasts for windows that are gone) must not count here.
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

void HidTest::TearDown()
{
    FController.reset();
    FSims.clear();
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

TSimProcess& HidTest::Place(std::vector<std::string> args, int units)
{
    FSims.push_back(std::make_unique<TSimProcess>(FUnits.Path(), std::move(args), units));
    return *FSims.back();
}

std::string HidTest::WriteScript(const std::string& text)
{
    const std::string path = FUnits.Path() + "/script-" + std::to_string(FSims.size()) + ".txt";
    std::ofstream(path) << text;
    return path;
}

void HidTest::StartController(bool withDataHandler)
{
    FController = std::make_unique<hid::THidDeviceController>(nullptr);
    FController->BeginLoading();
    FController->SetOnArrival(hid::THidPlugEvent::Of<&TRecorder::Arrival>(&FRecorder));
    FController->SetOnRemoval(hid::THidPlugEvent::Of<&TRecorder::Removal>(&FRecorder));
    FController->SetOnDeviceUnplug(hid::THidPlugEvent::Of<&TRecorder::Unplug>(&FRecorder));
    FController->SetOnDeviceChange(rtl::TNotifyEvent::Of<&TRecorder::Change>(&FRecorder));
    if (withDataHandler) {
        FController->SetOnDeviceData(hid::THidDataEvent::Of<&TRecorder::Data>(&FRecorder));
        FController->SetOnDeviceDataError(hid::THidDataErrorEvent::Of<&TRecorder::DataError>(&FRecorder));
    }
    FController->EndLoading();
    ASSERT_TRUE(PumpMainThreadUntil([&] { return CountOf("change") > 0; }));
}

void HidTest::Drain()
{
    bool reached = false;
    rtl::TMainThreadQueue::Instance().Post([&] { reached = true; });
    ASSERT_TRUE(PumpMainThreadUntil([&] { return reached; }));
}

std::size_t HidTest::CountOf(const std::string& event) const
{
    return static_cast<std::size_t>(std::count(FRecorder.Events.begin(), FRecorder.Events.end(), event));
}

std::vector<std::string> HidTest::EventsSince(std::size_t first) const
{
    return {FRecorder.Events.begin() + static_cast<std::ptrdiff_t>(first), FRecorder.Events.end()};
}

void HidTest::Broadcast()
{
    ASSERT_TRUE(PostMessageA(FController->NotifyWindow(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    Drain();
}

hid::THidDevice* HidTest::Acquire(std::int32_t vid, std::int32_t pid)
{
    hid::THidDevice* device = nullptr;
    EXPECT_TRUE(FController->AcquireById(device, vid, pid));
    return device;
}

void HidTest::Trigger(const std::string& unit, const std::string& text, std::size_t outLength)
{
    HANDLE writer = OpenUnit(FUnits.SocketPath(unit), GENERIC_WRITE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << GetLastError();
    const auto report = OutputReport(text, outLength);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer, report.data(), static_cast<DWORD>(report.size()), &written, nullptr));
    CloseHandle(writer);
}

void HidTest::PrimeReader(const std::string& unit)
{
    const std::size_t before = FRecorder.Reports.size();
    Trigger(unit, "VER");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FRecorder.Reports.size() > before; }));
}

} // namespace hidtest
