#include "UnitHello.h"

#include "UnitConnection.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace winapi::posix {

namespace {

constexpr std::size_t MaxHelloSize = 4096;

bool ParseNumber(std::string_view text, unsigned long long limit, unsigned long long& value)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size() && value <= limit;
}

enum : unsigned { Vid = 1, Pid = 2, Version = 4, In = 8, Out = 16, Access = 32, Instance = 64, All = 127 };

// One "key=value" line of a hello; `seen` gathers the keys met. A key it does not know is
// passed over.
bool TakeHelloValue(std::string_view key, std::string_view value, TDeviceIdentity& identity, unsigned& seen)
{
    unsigned long long number = 0;
    auto take16 = [&](USHORT& field, unsigned bit) {
        if (!ParseNumber(value, 0xFFFF, number))
            return false;
        field = static_cast<USHORT>(number);
        seen |= bit;
        return true;
    };
    if (key == "vid")
        return take16(identity.VendorId, Vid);
    if (key == "pid")
        return take16(identity.ProductId, Pid);
    if (key == "version")
        return take16(identity.VersionNumber, Version);
    if (key == "in")
        return take16(identity.InputLength, In);
    if (key == "out")
        return take16(identity.OutputLength, Out);
    if (key == "access") {
        identity.QueryOnly = value == "query";
        seen |= Access;
        return value == "rw" || value == "query";
    }
    if (key == "instance") {
        const bool good = ParseNumber(value, 0xFFFFFFFF, number);
        identity.Instance = static_cast<DWORD>(number);
        seen |= Instance;
        return good;
    }
    return true;
}

const char* OpenRequest(DWORD access)
{
    const bool read = access & GENERIC_READ;
    const bool write = access & GENERIC_WRITE;
    return read && write ? "open rw" : read ? "open r" : write ? "open w" : "open q";
}

} // namespace

std::optional<TDeviceIdentity> ParseUnitHello(std::string_view hello, std::string& why)
{
    TDeviceIdentity identity;
    unsigned seen = 0;
    while (!hello.empty()) {
        if (hello.substr(0, 8) == "product=") {
            identity.Product = std::string(hello.substr(8));
            if (seen != All) {
                why = "a key is missing before product";
                return std::nullopt;
            }
            return identity;
        }
        const std::size_t end = hello.find('\n');
        if (end == std::string_view::npos) {
            why = "it ends without product";
            return std::nullopt;
        }
        const std::string_view line = hello.substr(0, end);
        hello.remove_prefix(end + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            why = "a line without '='";
            return std::nullopt;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        const bool good = TakeHelloValue(key, value, identity, seen);
        if (!good) {
            why = "bad value for " + std::string(key);
            return std::nullopt;
        }
    }
    why = "it ends without product";
    return std::nullopt;
}

THello ReceiveHello(int socket, const std::string& path, TDeviceIdentity& identity)
{
    std::string hello(MaxHelloSize, '\0');
    ssize_t got;
    do
        got = recv(socket, hello.data(), hello.size(), MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? THello::Waiting : THello::Closed;
    if (got == 0 && PeerClosed(socket))
        return THello::Closed;
    hello.resize(static_cast<std::size_t>(got));
    std::string why;
    const auto parsed = ParseUnitHello(hello, why);
    if (!parsed) {
        DiagnoseOnce("unit " + path + " sent a malformed hello: " + why);
        return THello::Malformed;
    }
    identity = *parsed;
    return THello::Greeted;
}

THello AwaitHello(int socket, const std::string& path, TDeviceIdentity& identity, std::chrono::milliseconds wait)
{
    pollfd ready{socket, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + wait;
    THello hello = THello::Waiting;
    while (hello == THello::Waiting) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || (poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR))
            break;
        hello = ReceiveHello(socket, path, identity);
    }
    return hello;
}

bool SendOpen(int socket, DWORD access)
{
    const char* request = OpenRequest(access);
    ssize_t sent;
    do
        sent = send(socket, request, std::strlen(request), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    return sent >= 0;
}

} // namespace winapi::posix
