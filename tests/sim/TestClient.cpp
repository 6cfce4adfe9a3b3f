#include "TestClient.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace simtest {

TTestClient::~TTestClient()
{
    Close();
}

void TTestClient::Close()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

bool TTestClient::Connect(const std::string& path)
{
    Close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    FFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (FFd < 0 || ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    const auto hello = Receive();
    if (!hello || hello->empty())
        return false;
    FHello.assign(hello->begin(), hello->end());
    return true;
}

std::map<std::string, std::string> TTestClient::HelloFields() const
{
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < FHello.size()) {
        std::size_t end = FHello.find('\n', start);
        if (end == std::string::npos)
            end = FHello.size();
        const std::string line = FHello.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 1;
    }
    return fields;
}

bool TTestClient::Open(const std::string& access)
{
    return SendRaw(TBytes(access.begin(), access.end()));
}

bool TTestClient::SendRaw(const TBytes& message)
{
    return FFd >= 0
        && ::send(FFd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

bool TTestClient::SendCommand(const std::string& text, std::size_t length)
{
    TBytes report(length, 0);
    std::copy_n(text.begin(), std::min(text.size(), length - 1), report.begin() + 1);
    return SendRaw(report);
}

bool TTestClient::SendReply(std::uint32_t code, std::uint32_t status, std::size_t length)
{
    std::string reply = "UPLR";
    for (const std::uint32_t value : {code, status})
        for (int shift = 0; shift < 32; shift += 8)
            reply += static_cast<char>((value >> shift) & 0xff);
    return SendCommand(reply, length);
}

std::optional<TBytes> TTestClient::Receive(std::chrono::milliseconds timeout)
{
    pollfd fd{FFd, POLLIN, 0};
    if (FFd < 0 || ::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0)
        return std::nullopt;
    TBytes buffer(70000);
    const ssize_t got = ::recv(FFd, buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == ECONNRESET)
        return TBytes{}; // closed while our own message was still unread
    if (got < 0)
        return std::nullopt;
    buffer.resize(static_cast<std::size_t>(got));
    return buffer;
}

std::string TextOf(const TBytes& report)
{
    if (report.empty())
        return {};
    const auto begin = report.begin() + 1;
    return std::string(begin, std::find(begin, report.end(), 0));
}

} // namespace simtest
