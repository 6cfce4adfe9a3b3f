#pragma once

#include "Fd.h"
#include "Report.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

class TTrace;

struct TUnitDescription {
    std::string Name = "quillmark";
    std::string Directory;
    std::uint16_t VendorId = 0x1209;
    std::uint16_t ProductId = 0x0043;
    std::uint16_t Release = 0x0100;
    std::size_t InLength = 1025;  // report ID included
    std::size_t OutLength = 65;   // report ID included
    bool QueryOnly = false;
    std::string Product = "Quillmark";
};

enum class TWaitResult { Ready, TimedOut, Stopped };

// One placed unit: its listening socket, its connections and the reports queued from them.
// Every wait services the socket (accepts, hellos, opens, output reports) until its condition
// holds, its time runs out or a stop is requested.
class TVirtualUnit {
public:
    static constexpr std::chrono::milliseconds Forever = std::chrono::milliseconds::max();

    TVirtualUnit(TUnitDescription description, int stopFd, TTrace* trace);
    ~TVirtualUnit();
    TVirtualUnit(const TVirtualUnit&) = delete;
    TVirtualUnit& operator=(const TVirtualUnit&) = delete;

    const TUnitDescription& Description() const { return FDescription; }
    std::string SocketPath() const;
    bool IsPlaced() const { return FListen.IsOpen(); }

    // Prints "placed NAME PATH" on success.
    bool Place(std::string& error);
    // Closes every connection, unlinks the socket and prints "removed NAME".
    void Remove();

    // The oldest queued output report (report ID included), waiting for one when none is queued.
    TWaitResult NextOutputReport(TBytes& report, std::chrono::milliseconds timeout);
    bool HasQueuedOutputReport() const { return !FQueue.empty(); }
    // Waits until some connection reads, then sends one input report to every reader.
    TWaitResult SendInputReport(const TBytes& data, std::chrono::milliseconds timeout);
    // Services the socket for the whole time; output reports are queued.
    TWaitResult Idle(std::chrono::milliseconds duration);

private:
    struct TConnection {
        TFd Fd;
        bool Opened = false;
        bool Read = false;
        bool Write = false;
        bool Closed = false;
    };

    TWaitResult ServiceUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done);
    void AcceptConnections();
    void ReceiveMessage(TConnection& connection);
    void HandleOpen(TConnection& connection, const std::string& request);
    bool HasReader() const;
    std::string BuildHello() const;
    void DropClosedConnections();

    TUnitDescription FDescription;
    int FStopFd;
    TTrace* FTrace;
    TFd FListen;
    dev_t FSocketDevice = 0;
    ino_t FSocketInode = 0;
    std::uint32_t FInstance = 0;
    std::vector<TConnection> FConnections;
    std::deque<TBytes> FQueue;
    TBytes FReceiveBuffer;
};

} // namespace sim
