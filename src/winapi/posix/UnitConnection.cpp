#include "UnitConnection.h"

#include "UnitDirectory.h"
#include "UnitHello.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace winapi::posix {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

} // namespace

TFd ConnectNow(const std::string& path, int& err)
{
    sockaddr_un address;
    if (!FillUnitAddress(path, address)) {
        err = ENAMETOOLONG;
        return {};
    }
    TFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.IsOpen() || connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        err = errno;
        return {};
    }
    err = 0;
    return fd;
}

TFd ConnectWithin(const std::string& path, std::chrono::milliseconds wait, int& err)
{
    const auto deadline = Clock::now() + wait;
    for (auto pause = 5ms;; pause = std::min(pause * 2, 50ms)) {
        TFd fd = ConnectNow(path, err);
        if (fd.IsOpen() || err != EAGAIN || Clock::now() + pause > deadline)
            return fd;
        std::this_thread::sleep_for(pause);
    }
}

bool PeerClosed(int socket)
{
    pollfd probe{socket, 0, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR));
}

TVirtualUnitFile::TVirtualUnitFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped,
                                   TFd socket)
    : TDeviceFile(std::move(path), std::move(identity), access, overlapped), FSocket(std::move(socket))
{
}

DWORD TVirtualUnitFile::Connect()
{
    const auto deadline = Clock::now() + UnitConnectWait;
    int err = 0;
    FSocket = ConnectWithin(Path(), UnitConnectWait, err);
    if (!FSocket.IsOpen())
        return err == ECONNREFUSED ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(err);
    if (!SendOpen(FSocket.Get(), Access()))
        return ErrorFromErrno(errno);
    // The hello tells that the unit took the connection (a unit drops one that closes
    // before it could greet, with what was written on it). A unit slow to greet is not
    // waited for beyond the bound; the first read skips its hello then.
    FHelloPending = true;
    pollfd greeting{FSocket.Get(), POLLIN, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    TDeviceIdentity greeted;
    if (left > 0 && poll(&greeting, 1, static_cast<int>(left)) > 0
        && ReceiveHello(FSocket.Get(), Path(), greeted) == THello::Greeted)
        FHelloPending = false;
    return ERROR_SUCCESS;
}

TReadOutcome TVirtualUnitFile::ReadReport(BYTE* buffer)
{
    const std::size_t length = Identity().InputLength;
    TReadOutcome outcome;
    if (IsGone()) {
        outcome.Error = ERROR_DEVICE_NOT_CONNECTED;
        return outcome;
    }
    ssize_t got;
    do
        got = recv(FSocket.Get(), buffer, length, MSG_DONTWAIT | MSG_TRUNC);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            outcome.WouldBlock = true;
        else
            outcome.Error = FailWith(errno);
        return outcome;
    }
    if (got == 0 && PeerClosed(FSocket.Get())) {
        // The unit was taken out or died: it closed every connection.
        outcome.Error = FailWith(ENOTCONN);
        return outcome;
    }
    if (FHelloPending) {
        FHelloPending = false;
        outcome.WouldBlock = true;
        return outcome;
    }
    if (got == 0) {
        // A legitimate empty message, not the end: the read stays pending for the next one.
        DiagnoseOnce("unit " + Path() + " sent an empty input report; ignored");
        outcome.WouldBlock = true;
        return outcome;
    }
    const auto size = static_cast<std::size_t>(got);
    if (size < length) {
        DiagnoseOnce("unit " + Path() + " sent a short input report (" + std::to_string(size) + " of "
                     + std::to_string(length) + " bytes); zero-filled");
        std::memset(buffer + size, 0, length - size);
    } else if (size > length) {
        DiagnoseOnce("unit " + Path() + " sent a long input report (" + std::to_string(size) + " of "
                     + std::to_string(length) + " bytes); cut");
    }
    outcome.Bytes = static_cast<DWORD>(length);
    return outcome;
}

DWORD TVirtualUnitFile::WriteReport(const BYTE* data, DWORD count, DWORD waitMs)
{
    if (IsGone())
        return ERROR_DEVICE_NOT_CONNECTED;
    if (!FSocket.IsOpen()) {
        if (const DWORD error = Connect())
            return error == ERROR_FILE_NOT_FOUND ? FailWith(ENOTCONN) : error;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (send(FSocket.Get(), data, count, MSG_NOSIGNAL | MSG_DONTWAIT) >= 0)
            return ERROR_SUCCESS;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FailWith(errno);
        // The unit takes no report now: wait for room, within the caller's bound.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return ERROR_SEM_TIMEOUT;
        pollfd room{FSocket.Get(), POLLOUT, 0};
        if (poll(&room, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return FailWith(errno);
    }
}

} // namespace winapi::posix
