#include "VirtualUnitSource.h"

#include "UnitDirectory.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace winapi::posix {

namespace {

constexpr int HelloTimeoutMs = 2000;
constexpr int SendTimeoutMs = 5000;
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

// A connected socket to a unit and its hello, or the Windows error.
struct TUnitConnection {
    TFd Socket;
    TDeviceIdentity Identity;
    DWORD Error = ERROR_SUCCESS;
};

TUnitConnection ConnectToUnit(const std::string& path, int timeoutMs)
{
    TUnitConnection connection;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        connection.Error = ERROR_PATH_NOT_FOUND;
        return connection;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    connection.Socket = TFd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!connection.Socket.IsOpen()
        || connect(connection.Socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        connection.Error = ErrorFromErrno(errno);
        return connection;
    }

    pollfd wait{connection.Socket.Get(), POLLIN, 0};
    int ready;
    do
        ready = poll(&wait, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        DiagnoseOnce("unit " + path + " sent no hello");
        connection.Error = ERROR_SEM_TIMEOUT;
        return connection;
    }
    std::string hello(MaxHelloSize, '\0');
    const ssize_t got = recv(connection.Socket.Get(), hello.data(), hello.size(), MSG_DONTWAIT);
    if (got <= 0) {
        connection.Error = got == 0 ? ERROR_DEVICE_NOT_CONNECTED : ErrorFromErrno(errno);
        return connection;
    }
    hello.resize(static_cast<std::size_t>(got));
    std::string why;
    const auto identity = ParseUnitHello(hello, why);
    if (!identity) {
        DiagnoseOnce("unit " + path + " sent a malformed hello: " + why);
        connection.Error = ERROR_GEN_FAILURE;
        return connection;
    }
    connection.Identity = *identity;
    return connection;
}

class TVirtualUnitFile final : public TDeviceFile {
public:
    TVirtualUnitFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped, TFd socket)
        : TDeviceFile(std::move(path), std::move(identity), access, overlapped), FSocket(std::move(socket))
    {
    }

    int PollFd() const override { return FSocket.Get(); }

    TReadOutcome ReadReport(BYTE* buffer) override
    {
        const std::size_t length = Identity().InputLength;
        TReadOutcome outcome;
        if (IsGone()) {
            outcome.Error = ERROR_DEVICE_NOT_CONNECTED;
            return outcome;
        }
        const ssize_t got = recv(FSocket.Get(), buffer, length, MSG_DONTWAIT | MSG_TRUNC);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR)
                outcome.WouldBlock = true;
            else
                outcome.Error = ErrorFromErrno(errno);
            return outcome;
        }
        if (got == 0) {
            // The unit was taken out: it closed every connection.
            MarkGone();
            outcome.Error = ERROR_DEVICE_NOT_CONNECTED;
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

    DWORD WriteReport(const BYTE* data, DWORD count) override
    {
        if (IsGone())
            return ERROR_DEVICE_NOT_CONNECTED;
        ssize_t sent;
        do
            sent = send(FSocket.Get(), data, count, MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            const DWORD error = ErrorFromErrno(errno);
            if (error == ERROR_DEVICE_NOT_CONNECTED)
                MarkGone();
            return error;
        }
        return ERROR_SUCCESS;
    }

private:
    TFd FSocket;
};

} // namespace

std::optional<TDeviceIdentity> ParseUnitHello(std::string_view hello, std::string& why)
{
    TDeviceIdentity identity;
    enum : unsigned { Vid = 1, Pid = 2, Version = 4, In = 8, Out = 16, Access = 32, Instance = 64, All = 127 };
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
        unsigned long long number = 0;
        auto take16 = [&](USHORT& field, unsigned bit) {
            if (!ParseNumber(value, 0xFFFF, number))
                return false;
            field = static_cast<USHORT>(number);
            seen |= bit;
            return true;
        };
        bool good = true;
        if (key == "vid")
            good = take16(identity.VendorId, Vid);
        else if (key == "pid")
            good = take16(identity.ProductId, Pid);
        else if (key == "version")
            good = take16(identity.VersionNumber, Version);
        else if (key == "in")
            good = take16(identity.InputLength, In);
        else if (key == "out")
            good = take16(identity.OutputLength, Out);
        else if (key == "access") {
            good = value == "rw" || value == "query";
            identity.QueryOnly = value == "query";
            seen |= Access;
        } else if (key == "instance") {
            good = ParseNumber(value, 0xFFFFFFFF, number);
            identity.Instance = static_cast<DWORD>(number);
            seen |= Instance;
        }
        if (!good) {
            why = "bad value for " + std::string(key);
            return std::nullopt;
        }
    }
    why = "it ends without product";
    return std::nullopt;
}

TVirtualUnitSource::TVirtualUnitSource() : FDirectory(UnitDirectoryPath())
{
    if (const auto problem = PrepareUnitDirectory(FDirectory))
        DiagnoseOnce("unit directory " + FDirectory + " is ignored: " + *problem);
    else
        FUsable = true;
}

std::vector<TDeviceRecord> TVirtualUnitSource::Enumerate() const
{
    std::vector<TDeviceRecord> records;
    if (!FUsable)
        return records;
    std::vector<std::string> names;
    if (DIR* dir = opendir(FDirectory.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (IsUnitSocketName(entry->d_name))
                names.emplace_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string path = FDirectory + "/" + name;
        TUnitConnection connection = ConnectToUnit(path, HelloTimeoutMs);
        if (connection.Error == ERROR_SUCCESS)
            records.push_back({path, connection.Identity});
    }
    return records;
}

std::shared_ptr<TDeviceFile> OpenVirtualUnit(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    TUnitConnection connection = ConnectToUnit(path, HelloTimeoutMs);
    if (connection.Error != ERROR_SUCCESS) {
        error = connection.Error;
        return nullptr;
    }
    const bool read = access & GENERIC_READ;
    const bool write = access & GENERIC_WRITE;
    // Windows refuses read or write opens of devices it reserves for itself.
    if (connection.Identity.QueryOnly && (read || write)) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const char* mode = read && write ? "open rw" : read ? "open r" : write ? "open w" : "open q";
    const timeval sendTimeout{SendTimeoutMs / 1000, (SendTimeoutMs % 1000) * 1000};
    setsockopt(connection.Socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    if (send(connection.Socket.Get(), mode, std::strlen(mode), MSG_NOSIGNAL) < 0) {
        error = ErrorFromErrno(errno);
        return nullptr;
    }
    return std::make_shared<TVirtualUnitFile>(path, connection.Identity, access, overlapped,
                                              std::move(connection.Socket));
}

} // namespace winapi::posix
