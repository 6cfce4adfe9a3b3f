// The floor: a client that speaks the virtual-unit transport directly, with nothing of the
// tool in between. It opens the unit as the tool does (hello, "open rw") and then either
// sends VER COUNT times, each after the answer to the last, or pulls RGINFO.INI, replying to
// every packet as soon as it arrives, or runs a whole session (VER, GSER, the upload, then
// SSER with the given text) on every socket at once, a thread each, and print the CPU seconds
// those threads spent from their first report to their last ("cpu SECONDS"), the span a
// session's rate is timed over.
//
//   bench-raw-client SOCKET ver COUNT
//   bench-raw-client SOCKET upload
//   bench-raw-client session "SSER ..." SOCKET...

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

int Fail(const char* what)
{
    std::fprintf(stderr, "bench-raw-client: %s\n", what);
    return 1;
}

struct TUnit {
    int Fd = -1;
    std::size_t OutLength = 0;
    std::vector<char> Buffer = std::vector<char>(65536);

    ~TUnit()
    {
        if (Fd >= 0)
            close(Fd);
    }
};

bool SendReport(const TUnit& unit, const std::string& data)
{
    std::vector<char> report(unit.OutLength, '\0');
    std::memcpy(report.data() + 1, data.data(), std::min(data.size(), unit.OutLength - 1));
    return send(unit.Fd, report.data(), report.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(report.size());
}

bool Ask(TUnit& unit, const std::string& command)
{
    return SendReport(unit, command) && recv(unit.Fd, unit.Buffer.data(), unit.Buffer.size(), 0) > 0;
}

std::string Dword(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

const char* Open(TUnit& unit, const char* path)
{
    unit.Fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    if (unit.Fd < 0 || connect(unit.Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return "cannot connect";
    const ssize_t helloSize = recv(unit.Fd, unit.Buffer.data(), unit.Buffer.size(), 0);
    if (helloSize <= 0)
        return "no hello";
    const std::string hello(unit.Buffer.data(), static_cast<std::size_t>(helloSize));
    const std::size_t out = hello.find("\nout=");
    if (out == std::string::npos)
        return "hello without out=";
    unit.OutLength = std::strtoul(hello.c_str() + out + 5, nullptr, 10);
    if (unit.OutLength < 13 || send(unit.Fd, "open rw", 7, MSG_NOSIGNAL) != 7)
        return "cannot open";
    return nullptr;
}

const char* Upload(TUnit& unit)
{
    if (!SendReport(unit, "UPLS RGINFO.INI"))
        return "cannot send UPLS";
    for (;;) {
        const ssize_t got = recv(unit.Fd, unit.Buffer.data(), unit.Buffer.size(), 0);
        if (got < 5)
            return "upload broke off";
        const std::string type(unit.Buffer.data() + 1, 4);
        std::uint32_t code = 0;
        if (type == "UPLS")
            code = 0x1001;
        else if (type == "UPLD")
            code = 0x1002;
        else if (type == "UPLE")
            code = 0x1003;
        else if (type == "UPLI")
            return nullptr;
        else
            return "unexpected packet";
        if (!SendReport(unit, "UPLR" + Dword(code) + Dword(0)))
            return "cannot reply";
    }
}

double ThreadCpu()
{
    timespec spent{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spent);
    return static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) / 1e9;
}

const char* Session(const char* path, const std::string& serialWrite, double& cpu)
{
    TUnit unit;
    if (const char* failure = Open(unit, path))
        return failure;
    const double start = ThreadCpu();
    if (!Ask(unit, "VER") || !Ask(unit, "GSER"))
        return "VER or GSER exchange failed";
    if (const char* failure = Upload(unit))
        return failure;
    if (!Ask(unit, serialWrite))
        return "SSER exchange failed";
    cpu = ThreadCpu() - start;
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "session") {
        std::vector<const char*> failures(static_cast<std::size_t>(argc - 3), nullptr);
        std::vector<double> cpu(failures.size(), 0.0);
        std::vector<std::thread> threads;
        for (int i = 3; i < argc; ++i)
            threads.emplace_back([&, i] { failures[i - 3] = Session(argv[i], argv[2], cpu[i - 3]); });
        for (std::thread& thread : threads)
            thread.join();
        for (const char* failure : failures)
            if (failure)
                return Fail(failure);
        double total = 0;
        for (const double seconds : cpu)
            total += seconds;
        std::printf("cpu %.9f\n", total);
        return 0;
    }
    if (argc < 3)
        return Fail("usage: bench-raw-client SOCKET ver COUNT | SOCKET upload | session \"SSER ...\" SOCKET...");
    const std::string mode = argv[2];
    const long count = argc > 3 ? std::atol(argv[3]) : 0;

    TUnit unit;
    if (const char* failure = Open(unit, argv[1]))
        return Fail(failure);
    if (mode == "ver") {
        for (long i = 0; i < count; ++i)
            if (!Ask(unit, "VER"))
                return Fail("VER exchange failed");
        return 0;
    }
    if (mode != "upload")
        return Fail("unknown mode");
    const char* failure = Upload(unit);
    return failure ? Fail(failure) : 0;
}
