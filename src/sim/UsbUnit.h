#pragma once

#include "Fd.h"
#include "VirtualUnit.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sim {

inline constexpr const char* ConfigfsPath = "/sys/kernel/config";
inline constexpr const char* UdcClassPath = "/sys/class/udc";

// The gadget's HID function gives both interrupt endpoints its report length as their packet
// size, so a report is one packet: at most 1024 bytes at high speed, plus the report ID a host
// counts.
inline constexpr std::size_t UsbLargestReportLength = 1025;
// The characters a USB string descriptor holds.
inline constexpr std::size_t UsbLargestString = 126;
// dummy_hcd makes at most this many controller pairs.
inline constexpr unsigned UsbLargestCount = 32;

// A unit as a USB HID gadget made through configfs and bound to a dummy_hcd device controller
// (dummy_udc.N, the lowest-numbered one free at the first placement, kept for later ones): the
// host enumerates it on a bus of its own, usbhid binds it and a host meets it as /dev/hidrawN;
// the unit's side reads and writes /dev/hidgN. The gadget lives as long as the object;
// unplugging unbinds it from its controller, so the host sees a real disconnect, and plugging
// binds it to the same one: the same port.
class TUsbUnit final : public TVirtualUnit {
public:
    // `placeTimeout` bounds the wait for the host's hidraw node and, on removal, for the host to
    // let go of the device.
    TUsbUnit(TUnitDescription description, std::chrono::milliseconds placeTimeout, int stopFd, TTrace* trace);
    ~TUsbUnit() override;

    bool IsPlaced() const override { return FBound; }
    // Makes the gadget when there is none, binds it; prints "placed NAME /dev/hidrawN" once the
    // host's node exists.
    bool Place(std::string& error) override;
    // Unbinds the gadget and waits until the host has dropped the device.
    void Remove() override;

private:
    void CollectPollFds(std::vector<pollfd>& fds) const override;
    void Service(const pollfd* fds, std::size_t count) override;
    bool HasReader() const override { return FHidg.IsOpen(); }
    void DeliverInputReport(const TBytes& report) override;

    bool CheckKernel(std::string& error) const;
    bool MakeGadget(std::string& error);
    bool Bind(std::string& error);
    bool BindTo(unsigned controller, std::string& error);
    void Unbind();
    bool OpenFunctionNode();
    void ReceiveOutput();
    void WritePending();
    void Lose(const std::string& why);
    std::optional<std::string> FindUsbDevice() const;
    std::optional<std::string> FindHidrawNode() const;

    std::optional<unsigned> FController;
    std::chrono::milliseconds FPlaceTimeout;
    std::size_t FReportLength; // the function's, both directions, without report ID
    std::string FGadget;       // our configfs directory, empty until made
    bool FBound = false;
    TFd FHidg;
    std::string FNode;
    std::string FEarlierDevnum;  // of the device the host showed on our port when we bound
    std::deque<TBytes> FPending; // input report data the function has not taken yet
};

} // namespace sim
