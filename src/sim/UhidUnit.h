#pragma once

#include "Fd.h"
#include "VirtualUnit.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct uhid_event;

namespace sim {

inline constexpr const char* UhidDevicePath = "/dev/uhid";

// A unit as a kernel HID device made through /dev/uhid: a host meets it as /dev/hidrawN (and
// Wine as a HID device). Each placement opens /dev/uhid anew, so no event of an earlier
// device reaches the next one.
class TUhidUnit final : public TVirtualUnit {
public:
    // An empty `reportDescriptor` gives the unit's own (BuildReportDescriptor); a device with
    // another one answers nothing and drops its output reports. `placeTimeout` bounds the wait
    // for the kernel to give the device its hidraw node.
    TUhidUnit(TUnitDescription description, TBytes reportDescriptor, std::chrono::milliseconds placeTimeout, int stopFd,
              TTrace* trace);
    ~TUhidUnit() override;

    bool IsPlaced() const override { return FUhid.IsOpen(); }
    // Prints "placed NAME /dev/hidrawN" once the node exists.
    bool Place(std::string& error) override;
    // Destroys the kernel device.
    void Remove() override;

private:
    void CollectPollFds(std::vector<pollfd>& fds) const override;
    void Service(const pollfd* fds, std::size_t count) override;
    bool HasReader() const override { return FOpened; }
    void DeliverInputReport(const TBytes& report) override;

    bool Create(std::string& error);
    void ReceiveEvent();
    void RefuseRequest(const uhid_event& event);
    void Destroy();
    bool WriteEvent(const uhid_event& event, std::string& error);
    void Lose(const std::string& why);
    std::optional<std::string> FindHidrawNode() const;

    TBytes FReportDescriptor;
    bool FAnswers;
    std::chrono::milliseconds FPlaceTimeout;
    TFd FUhid;
    bool FOpened = false;
    std::string FPhys; // tells our kernel device apart in sysfs
    std::string FNode;
};

} // namespace sim
