#include "FakeUnit.h"

#include <cstdint>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_un AddressOf(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

struct TConnection {
    int Fd;
    bool Greeted = false;
    bool Opened = false;
};

} // namespace

TFakeUnit::TFakeUnit(const std::string& directory, const std::string& name, TMode mode,
                     std::vector<std::string> messages)
    : FPath(directory + "/" + name + ".sock"), FMessages(std::move(messages)),
      FGreet(mode == Greets || mode == Unlistened)
{
    const sockaddr_un address = AddressOf(FPath);
    FListen = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (FListen < 0 || bind(FListen, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || (mode != Unlistened && listen(FListen, mode == BacklogFull ? 0 : 16) != 0))
        throw std::runtime_error("cannot place fake unit " + FPath);
    if (mode == BacklogFull) {
        FFiller = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (connect(FFiller, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot fill the backlog of " + FPath);
    }
    if (mode == Stale) {
        close(FListen);
        FListen = -1;
    }
    if (mode == Silent || mode == Greets) {
        FStop = eventfd(0, EFD_CLOEXEC);
        FThread = std::thread([this] { Serve(); });
    }
}

void TFakeUnit::Listen()
{
    if (listen(FListen, 16) != 0)
        throw std::runtime_error("cannot listen on " + FPath);
    FStop = eventfd(0, EFD_CLOEXEC);
    FThread = std::thread([this] { Serve(); });
}

TFakeUnit::~TFakeUnit()
{
    Die();
    unlink(FPath.c_str());
}

void TFakeUnit::Die()
{
    if (FThread.joinable()) {
        const std::uint64_t one = 1;
        if (write(FStop, &one, sizeof one) != sizeof one)
            std::terminate();
        FThread.join();
        close(FStop);
    }
    for (int* fd : {&FListen, &FFiller})
        if (*fd >= 0)
            close(*fd);
    FListen = FFiller = -1;
}

void TFakeUnit::Serve()
{
    const std::string hello = "vid=0x1209\npid=0x0043\nversion=0x0100\nin=65\nout=65\naccess=rw\ninstance="
        + std::to_string(4000 + FListen) + "\nproduct=Fake";
    std::vector<TConnection> connections;
    for (;;) {
        std::vector<pollfd> fds = {{FStop, POLLIN, 0}, {FListen, POLLIN, 0}};
        for (const auto& connection : connections)
            fds.push_back({connection.Fd, static_cast<short>(connection.Opened ? 0 : POLLIN), 0});
        poll(fds.data(), fds.size(), 20);
        if (fds[0].revents)
            break;
        if (fds[1].revents) {
            connections.push_back({accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC)});
            ++FAccepted;
        }
        for (std::size_t i = 0; i < connections.size() && i + 2 < fds.size(); ++i) {
            TConnection& connection = connections[i];
            if (fds[i + 2].revents & POLLIN) {
                char request[64];
                if (recv(connection.Fd, request, sizeof request, MSG_DONTWAIT) > 0) {
                    connection.Opened = true;
                    for (const auto& message : FMessages)
                        send(connection.Fd, message.data(), message.size(), MSG_NOSIGNAL);
                }
            }
        }
        for (auto& connection : connections)
            if (FGreet && !connection.Greeted)
                connection.Greeted = send(connection.Fd, hello.data(), hello.size(), MSG_NOSIGNAL) >= 0;
    }
    for (const auto& connection : connections)
        close(connection.Fd);
}

} // namespace testsupport
