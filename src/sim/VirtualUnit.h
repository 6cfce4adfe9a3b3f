#pragma once

#include "Report.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <poll.h>
#include <string>
#include <vector>

namespace sim {

class TTrace;

struct TUnitDescription {
    std::string Name = "quillmark";
    std::string Directory;
    std::uint16_t VendorId = 0x1209;
    std::uint16_t ProductId = 0x0043;
    std::uint16_t Release = 0x0100;
    std::size_t InLength = 1025; // report ID included
    std::size_t OutLength = 65;  // report ID included
    bool QueryOnly = false;
    std::string Product = "Quillmark";
    std::string SerialNumber; // usb only: the device's serial number string; empty gives Name
};

enum class TWaitResult { Ready, TimedOut, Stopped };

// One placed unit as the behaviour model and the script runner see it, whatever carries its
// reports. Every wait services the transport (connections, opens, output reports) until its
// condition holds, its time runs out or a stop is requested.
class TVirtualUnit {
public:
    static constexpr std::chrono::milliseconds Forever = std::chrono::milliseconds::max();

    virtual ~TVirtualUnit() = default;
    TVirtualUnit(const TVirtualUnit&) = delete;
    TVirtualUnit& operator=(const TVirtualUnit&) = delete;

    const TUnitDescription& Description() const { return FDescription; }
    virtual bool IsPlaced() const = 0;

    // Prints "placed NAME PATH" on success, PATH being what a host opens.
    virtual bool Place(std::string& error) = 0;
    // Takes the unit out and prints "removed NAME".
    virtual void Remove() = 0;

    // The oldest queued output report (report ID included), waiting for one when none is queued.
    TWaitResult NextOutputReport(TBytes& report, std::chrono::milliseconds timeout);
    bool HasQueuedOutputReport() const { return !FQueue.empty(); }
    // Waits until some host reads, then sends one input report with `data` to every reader.
    TWaitResult SendInputReport(const TBytes& data, std::chrono::milliseconds timeout);
    // Services the transport for the whole time; output reports are queued.
    TWaitResult Idle(std::chrono::milliseconds duration);

protected:
    TVirtualUnit(TUnitDescription description, int stopFd, TTrace* trace);

    // The descriptors a wait polls besides the stop signal, and their service once polled.
    virtual void CollectPollFds(std::vector<pollfd>& fds) const = 0;
    virtual void Service(const pollfd* fds, std::size_t count) = 0;
    virtual bool HasReader() const = 0;
    // `report` is report ID 0 and the data, exactly the input report length.
    virtual void DeliverInputReport(const TBytes& report) = 0;

    // Checks the length of an output report from a host, traces and queues it.
    void ReceiveOutputReport(const TBytes& report, bool truncated);
    void Trace(char direction, const TBytes& report);
    // `recheck` bounds each poll, for conditions that no descriptor announces.
    TWaitResult ServiceUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done,
                             std::chrono::milliseconds recheck = Forever);

    TUnitDescription FDescription;

private:
    int FStopFd;
    TTrace* FTrace;
    std::deque<TBytes> FQueue;
};

} // namespace sim
