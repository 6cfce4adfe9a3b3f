// The floor: a client that speaks the virtual-unit transport directly, with nothing of the
// tool in between. It opens the unit as the tool does (hello, "open rw") and then either
// sends VER COUNT times, each after the answer to the last, or pulls RGINFO.INI, replying to
// every packet as soon as it arrives.
//
//   bench-raw-client SOCKET ver COUNT
//   bench-raw-client SOCKET upload

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

int Fail(const char* what)
{
    std::fprintf(stderr, "bench-raw-client: %s\n", what);
    return 1;
}

bool SendReport(int fd, std::size_t length, const std::string& data)
{
    std::vector<char> report(length, '\0');
    std::memcpy(report.data() + 1, data.data(), std::min(data.size(), length - 1));
    return send(fd, report.data(), report.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(report.size());
}

std::string Dword(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Fail("usage: bench-raw-client SOCKET ver COUNT | SOCKET upload");
    const std::string mode = argv[2];
    const long count = argc > 3 ? std::atol(argv[3]) : 0;

    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", argv[1]);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fail("cannot connect");
    std::vector<char> buffer(65536);
    const ssize_t helloSize = recv(fd, buffer.data(), buffer.size(), 0);
    if (helloSize <= 0)
        return Fail("no hello");
    const std::string hello(buffer.data(), static_cast<std::size_t>(helloSize));
    const std::size_t out = hello.find("\nout=");
    if (out == std::string::npos)
        return Fail("hello without out=");
    const std::size_t outLength = std::strtoul(hello.c_str() + out + 5, nullptr, 10);
    if (outLength < 13 || send(fd, "open rw", 7, MSG_NOSIGNAL) != 7)
        return Fail("cannot open");

    if (mode == "ver") {
        for (long i = 0; i < count; ++i)
            if (!SendReport(fd, outLength, "VER") || recv(fd, buffer.data(), buffer.size(), 0) <= 0)
                return Fail("VER exchange failed");
        return 0;
    }
    if (mode != "upload")
        return Fail("unknown mode");
    if (!SendReport(fd, outLength, "UPLS RGINFO.INI"))
        return Fail("cannot send UPLS");
    for (;;) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got < 5)
            return Fail("upload broke off");
        const std::string type(buffer.data() + 1, 4);
        std::uint32_t code = 0;
        if (type == "UPLS")
            code = 0x1001;
        else if (type == "UPLD")
            code = 0x1002;
        else if (type == "UPLE")
            code = 0x1003;
        else if (type == "UPLI")
            return 0;
        else
            return Fail("unexpected packet");
        if (!SendReport(fd, outLength, "UPLR" + Dword(code) + Dword(0)))
            return Fail("cannot reply");
    }
}
