#pragma once

// A controller over virtual units placed by the test in a private unit directory, with every
// event it and its devices raise recorded in order.

#include "SimProcess.h"

#include "hid/Hid.h"
#include "hid/HidControllerClass.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace hidtest {

using namespace testsupport;

constexpr std::int32_t QuillmarkVid = 0x1209;
constexpr std::int32_t QuillmarkPid = 0x0043;

// "quillmark" for the device whose interface path is ".../quillmark.sock".
std::string UnitName(const hid::THidDevice* device);

struct TReport {
    hid::THidDevice* Device;
    std::uint8_t ReportID;
    std::vector<std::uint8_t> Data;
    std::thread::id Thread;
};

class TRecorder {
public:
    void Arrival(hid::THidDevice* HidDev) { Announce("arrival ", HidDev, DuringArrival); }
    void Removal(hid::THidDevice* HidDev) { Announce("removal ", HidDev, DuringRemoval); }
    void Unplug(hid::THidDevice* HidDev) { Events.push_back("detach " + UnitName(HidDev)); }
    void Change(rtl::TObject* Sender) { Changed("change", Sender); }
    void OtherChange(rtl::TObject* Sender) { Changed("other change", Sender); }
    void Data(hid::THidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(Data);
        Reports.push_back({HidDev, ReportID, {bytes, bytes + Size}, std::this_thread::get_id()});
    }
    void OtherData(hid::THidDevice*, std::uint8_t, const void*, std::uint16_t) {}
    void DataError(hid::THidDevice* HidDev, std::uint32_t) { ErrorDevices.push_back(HidDev); }

    // "arrival NAME", "removal NAME", "detach NAME", "change", "other change".
    std::vector<std::string> Events;
    std::vector<TReport> Reports;
    std::vector<hid::THidDevice*> ErrorDevices;
    std::vector<rtl::TObject*> Senders;
    // Run inside OnArrival and OnRemoval, while the device is being announced.
    std::function<void(hid::THidDevice*)> DuringArrival;
    std::function<void(hid::THidDevice*)> DuringRemoval;

private:
    void Announce(const char* what, hid::THidDevice* device, const std::function<void(hid::THidDevice*)>& hook)
    {
        Events.push_back(what + UnitName(device));
        if (hook)
            hook(device);
    }
    void Changed(const char* what, rtl::TObject* sender)
    {
        Events.push_back(what);
        Senders.push_back(sender);
    }
};

class HidTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TSimProcess& Place(std::vector<std::string> args, int units = 1);
    // A script file outside the unit directory's socket names.
    std::string WriteScript(const std::string& text);

    // Binds every recorder handler while loading, as the window's stored description does,
    // then runs the first scan from the queue.
    void StartController(bool withDataHandler = true);
    // Runs everything queued up to now, and what that queues in turn settles later.
    void Drain();
    std::size_t CountOf(const std::string& event) const;
    std::vector<std::string> EventsSince(std::size_t first) const;
    // Posts the notification a real broadcast carries and lets the controller act on it.
    void Broadcast();

    hid::THidDevice* Acquire(std::int32_t vid = QuillmarkVid, std::int32_t pid = QuillmarkPid);
    // One output report through a write-only connection of its own, so that no connection
    // with read access but the reader's can catch the unit's answer.
    void Trigger(const std::string& unit, const std::string& text, std::size_t outLength = 65);
    // Waits for the reader to be connected by having the behaviour model answer it.
    void PrimeReader(const std::string& unit);

    TScratchUnitDirectory FUnits;
    std::vector<std::unique_ptr<TSimProcess>> FSims;
    TRecorder FRecorder;
    std::unique_ptr<hid::THidDeviceController> FController;
    std::thread::id FMainThread;
};

} // namespace hidtest
