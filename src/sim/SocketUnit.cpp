#include "SocketUnit.h"

#include "Console.h"

#include "winapi/posix/UnitDirectory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace sim {

using winapi::posix::FillUnitAddress;

namespace {

constexpr std::size_t OpenRequestLimit = 64;

// A socket file nobody accepts on is a leftover of a process that died; one that accepts
// belongs to a running unit that must not be displaced.
bool IsSomeoneListening(const std::string& path)
{
    sockaddr_un address;
    if (!FillUnitAddress(path, address))
        return false;
    TFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    return probe.IsOpen() && ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

std::uint32_t NewInstanceNumber()
{
    std::random_device random;
    std::uint32_t instance = 0;
    while (instance == 0)
        instance = static_cast<std::uint32_t>(random());
    return instance;
}

} // namespace

TSocketUnit::TSocketUnit(TUnitDescription description, int stopFd, TTrace* trace)
    : TVirtualUnit(std::move(description), stopFd, trace),
      FReceiveBuffer(std::max(FDescription.OutLength, OpenRequestLimit) + 1)
{
}

TSocketUnit::~TSocketUnit()
{
    Remove();
}

std::string TSocketUnit::SocketPath() const
{
    return FDescription.Directory + "/" + FDescription.Name + ".sock";
}

bool TSocketUnit::Place(std::string& error)
{
    if (IsPlaced())
        return true;
    const std::string path = SocketPath();
    const std::string hidden =
        FDescription.Directory + "/." + FDescription.Name + ".sock." + std::to_string(::getpid());
    sockaddr_un address;
    if (!FillUnitAddress(hidden, address) || path.size() >= sizeof address.sun_path) {
        error = "socket path too long for AF_UNIX: " + hidden;
        return false;
    }
    if (IsSomeoneListening(path)) {
        error = path + " is already placed by another process";
        return false;
    }

    TFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.IsOpen()) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    ::unlink(hidden.c_str());
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener.Get(), SOMAXCONN) != 0) {
        error = "cannot bind " + hidden + ": " + std::strerror(errno);
        ::unlink(hidden.c_str());
        return false;
    }
    // Enumeration ignores hidden names, so the unit appears only once it accepts connections.
    if (::rename(hidden.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + hidden + " to " + path + ": " + std::strerror(errno);
        ::unlink(hidden.c_str());
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        FSocketDevice = st.st_dev;
        FSocketInode = st.st_ino;
    }
    FListen = std::move(listener);
    FInstance = NewInstanceNumber();
    PrintEvent("placed " + FDescription.Name + " " + path);
    return true;
}

void TSocketUnit::Remove()
{
    if (!IsPlaced())
        return;
    FConnections.clear();
    FListen.Close();
    const std::string path = SocketPath();
    struct stat st {};
    // Someone may have placed another socket under our name meanwhile; leave that one alone.
    if (::lstat(path.c_str(), &st) == 0 && st.st_dev == FSocketDevice && st.st_ino == FSocketInode)
        ::unlink(path.c_str());
    PrintEvent("removed " + FDescription.Name);
}

void TSocketUnit::DeliverInputReport(const TBytes& report)
{
    for (TConnection& connection : FConnections) {
        if (!connection.Opened || !connection.Read)
            continue;
        if (::send(connection.Fd.Get(), report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0
            && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS)
            connection.Closed = true;
        // A full socket buffer loses the report, as a HID input ring does when nobody reads.
    }
    DropClosedConnections();
}

void TSocketUnit::CollectPollFds(std::vector<pollfd>& fds) const
{
    for (const TConnection& connection : FConnections)
        fds.push_back({connection.Fd.Get(), POLLIN, 0});
    if (FListen.IsOpen())
        fds.push_back({FListen.Get(), POLLIN, 0});
}

void TSocketUnit::Service(const pollfd* fds, std::size_t count)
{
    const std::size_t connections = FConnections.size();
    for (std::size_t i = 0; i < connections; ++i) {
        const short events = fds[i].revents;
        if (events & POLLIN)
            ReceiveMessage(FConnections[i]);
        else if (events & (POLLHUP | POLLERR | POLLNVAL))
            FConnections[i].Closed = true;
    }
    DropClosedConnections();
    if (count > connections && (fds[connections].revents & POLLIN))
        AcceptConnections();
}

void TSocketUnit::AcceptConnections()
{
    const std::string hello = BuildHello();
    for (;;) {
        TFd fd(::accept4(FListen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd.IsOpen()) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                PrintDiagnostic("%s: accept failed: %s", FDescription.Name.c_str(), std::strerror(errno));
            return;
        }
        if (::send(fd.Get(), hello.data(), hello.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
            continue; // gone before it heard the hello
        TConnection connection;
        connection.Fd = std::move(fd);
        FConnections.push_back(std::move(connection));
    }
}

void TSocketUnit::ReceiveMessage(TConnection& connection)
{
    iovec part{FReceiveBuffer.data(), FReceiveBuffer.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t received = ::recvmsg(connection.Fd.Get(), &message, MSG_DONTWAIT);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            connection.Closed = true;
        return;
    }
    if (received == 0) {
        // Enumeration closes right after the hello; that is no error.
        connection.Closed = true;
        return;
    }
    const std::size_t size = static_cast<std::size_t>(received);
    const bool truncated = (message.msg_flags & MSG_TRUNC) != 0 || size >= FReceiveBuffer.size();
    const TBytes bytes(FReceiveBuffer.begin(), FReceiveBuffer.begin() + size);

    if (!connection.Opened) {
        if (truncated || size > OpenRequestLimit) {
            PrintDiagnostic("%s: a connection sent %zu%s bytes instead of an open request; closed",
                            FDescription.Name.c_str(), size, truncated ? " or more" : "");
            connection.Closed = true;
            return;
        }
        HandleOpen(connection, std::string(bytes.begin(), bytes.end()));
        return;
    }
    if (!connection.Write) {
        PrintDiagnostic("%s: message of %zu bytes on a connection opened without write access; ignored",
                        FDescription.Name.c_str(), size);
        return;
    }
    ReceiveOutputReport(bytes, truncated);
}

void TSocketUnit::HandleOpen(TConnection& connection, const std::string& request)
{
    bool read = false;
    bool write = false;
    if (request == "open r") {
        read = true;
    } else if (request == "open w") {
        write = true;
    } else if (request == "open rw") {
        read = write = true;
    } else if (request != "open q") {
        PrintDiagnostic("%s: a connection sent %s instead of an open request; closed", FDescription.Name.c_str(),
                        DescribeBytes(BytesOf(request)).c_str());
        connection.Closed = true;
        return;
    }
    if (FDescription.QueryOnly && (read || write)) {
        // The host must refuse read/write opens of a query-only unit itself; granting one here
        // would hide that fault.
        PrintDiagnostic("%s: query-only unit refuses \"%s\"; connection closed", FDescription.Name.c_str(),
                        request.c_str());
        connection.Closed = true;
        return;
    }
    connection.Opened = true;
    connection.Read = read;
    connection.Write = write;
}

bool TSocketUnit::HasReader() const
{
    return std::any_of(FConnections.begin(), FConnections.end(), [](const TConnection& connection) {
        return connection.Opened && connection.Read && !connection.Closed;
    });
}

std::string TSocketUnit::BuildHello() const
{
    char hello[256];
    std::snprintf(hello, sizeof hello,
                  "vid=0x%04x\npid=0x%04x\nversion=0x%04x\nin=%zu\nout=%zu\naccess=%s\ninstance=%u\nproduct=",
                  FDescription.VendorId, FDescription.ProductId, FDescription.Release, FDescription.InLength,
                  FDescription.OutLength, FDescription.QueryOnly ? "query" : "rw", static_cast<unsigned>(FInstance));
    return hello + FDescription.Product;
}

void TSocketUnit::DropClosedConnections()
{
    std::erase_if(FConnections, [](const TConnection& connection) { return connection.Closed; });
}

} // namespace sim
