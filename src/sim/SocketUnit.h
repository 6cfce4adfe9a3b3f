#pragma once

#include "Fd.h"
#include "VirtualUnit.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

// A unit as a listening socket in the unit directory; every connection is one host handle.
class TSocketUnit final : public TVirtualUnit {
public:
    // `description.Directory` is the unit directory.
    TSocketUnit(TUnitDescription description, int stopFd, TTrace* trace);
    ~TSocketUnit() override;

    std::string SocketPath() const;
    bool IsPlaced() const override { return FListen.IsOpen(); }
    bool Place(std::string& error) override;
    // Closes every connection and unlinks the socket.
    void Remove() override;

private:
    struct TConnection {
        TFd Fd;
        bool Opened = false;
        bool Read = false;
        bool Write = false;
        bool Closed = false;
    };

    void CollectPollFds(std::vector<pollfd>& fds) const override;
    void Service(const pollfd* fds, std::size_t count) override;
    bool HasReader() const override;
    void DeliverInputReport(const TBytes& report) override;

    void AcceptConnections();
    void ReceiveMessage(TConnection& connection);
    void HandleOpen(TConnection& connection, const std::string& request);
    std::string BuildHello() const;
    void DropClosedConnections();

    TFd FListen;
    dev_t FSocketDevice = 0;
    ino_t FSocketInode = 0;
    std::uint32_t FInstance = 0;
    std::vector<TConnection> FConnections;
    TBytes FReceiveBuffer;
};

} // namespace sim
