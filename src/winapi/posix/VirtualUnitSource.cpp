#include "VirtualUnitSource.h"

#include "UnitDirectory.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace winapi::posix {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A real unit greets at once; these bounds only keep a unit that never does from holding the
// main thread. A scan waits for all its new units together.
constexpr auto ScanHelloWait = 250ms;
constexpr auto OpenHelloWait = 500ms;
// A unit whose backlog is full refuses a non-blocking connect for now; an open retries briefly.
constexpr auto ConnectWait = 250ms;
constexpr auto FirstRetry = 250ms;
constexpr auto LongestRetry = 5s;
constexpr std::size_t MaxHelloSize = 4096;
// A unit taken out closes its connections and then removes its socket, which the directory
// watch announces; only a unit whose socket stays behind (a killed one) is announced by the
// end of its connection, once this grace has passed.
constexpr auto DeathGrace = 100ms;

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

// One connection attempt that never blocks: the socket, or the errno in err (EAGAIN: the
// unit's backlog is full, ECONNREFUSED: nobody listens, as after a unit was killed).
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

TFd ConnectWithin(const std::string& path, Clock::duration wait, int& err)
{
    const auto deadline = Clock::now() + wait;
    for (auto pause = 5ms;; pause = std::min(pause * 2, 50ms)) {
        TFd fd = ConnectNow(path, err);
        if (fd.IsOpen() || err != EAGAIN || Clock::now() + pause > deadline)
            return fd;
        std::this_thread::sleep_for(pause);
    }
}

// A SEQPACKET socket reads 0 both for an empty message and at the end; only a hang-up tells
// the end.
bool PeerClosed(int fd)
{
    pollfd probe{fd, 0, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR));
}

enum class THello { Waiting, Greeted, Closed, Malformed };

THello ReceiveHello(int fd, const std::string& path, TDeviceIdentity& identity)
{
    std::string hello(MaxHelloSize, '\0');
    ssize_t got;
    do
        got = recv(fd, hello.data(), hello.size(), MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? THello::Waiting : THello::Closed;
    if (got == 0 && PeerClosed(fd))
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

const char* OpenRequest(DWORD access)
{
    const bool read = access & GENERIC_READ;
    const bool write = access & GENERIC_WRITE;
    return read && write ? "open rw" : read ? "open r" : write ? "open w" : "open q";
}

bool SendOpen(int fd, DWORD access)
{
    const char* request = OpenRequest(access);
    ssize_t sent;
    do
        sent = send(fd, request, std::strlen(request), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    return sent >= 0;
}

enum class TUnitState {
    Retrying, // not connected yet: the backlog was full or the unit hung up before its hello
    Greeting, // connected, waiting for the hello
    Known,    // greeted; the connection stays open for query only and watches the unit
    Dead,     // nobody listens: not a unit, though a new unit's file may look the same
    Refused,  // the hello was malformed: not a unit while this file stays
};

// Which socket file. A unit placed anew makes a new file, but it may get the inode number and
// the (coarse) change time of one just removed, so a file that looks the same is trusted only
// while someone listens on it.
struct TFileId {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Changed{};

    static std::optional<TFileId> Of(const std::string& path)
    {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0)
            return std::nullopt;
        return TFileId{st.st_dev, st.st_ino, st.st_ctim};
    }
    bool operator==(const TFileId& other) const
    {
        return Device == other.Device && Inode == other.Inode && Changed.tv_sec == other.Changed.tv_sec
            && Changed.tv_nsec == other.Changed.tv_nsec;
    }
};

struct TUnitEntry {
    TFileId File;
    TUnitState State = TUnitState::Retrying;
    // Shared with a monitor's poll in progress, so that the descriptor it polls stays ours.
    std::shared_ptr<TFd> Socket;
    TDeviceIdentity Identity;
    Clock::time_point NextTry;
    Clock::duration Backoff = FirstRetry;
    // Set when a greeted unit died and no scan has seen it yet.
    std::optional<Clock::time_point> AnnounceAt;
};

// Every unit socket met so far, by path; the same file is the same unit.
class TUnitRegistry {
public:
    static TUnitRegistry& Instance()
    {
        // Never destroyed: a monitor thread may still use it while statics go at exit.
        static TUnitRegistry* registry = new TUnitRegistry;
        return *registry;
    }

    std::vector<TDeviceRecord> Scan(const std::string& directory, const std::vector<std::string>& names)
    {
        std::vector<TDeviceRecord> records;
        std::lock_guard lock(FLock);
        const auto now = Clock::now();
        std::map<std::string, TUnitEntry> kept;
        std::vector<std::string> waiting;
        for (const auto& name : names) {
            const std::string path = directory + "/" + name;
            const auto file = TFileId::Of(path);
            if (!file)
                continue;
            TUnitEntry entry;
            const auto found = FEntries.find(path);
            const bool same = found != FEntries.end() && found->second.File == *file;
            if (same) {
                entry = std::move(found->second);
                Advance(path, entry, now);
            } else {
                entry.File = *file;
            }
            // Trying a socket nobody listened on costs no unit anything.
            if (!same || entry.State == TUnitState::Dead) {
                Connect(path, entry, now);
                Advance(path, entry, now);
                if (entry.State == TUnitState::Greeting)
                    waiting.push_back(path);
            }
            kept.emplace(path, std::move(entry));
        }
        FEntries = std::move(kept);
        WaitForHellos(waiting, Clock::now() + ScanHelloWait);
        for (auto& [path, entry] : FEntries) {
            entry.AnnounceAt.reset();
            if (entry.State == TUnitState::Known)
                records.push_back({path, entry.Identity});
            else if (entry.State == TUnitState::Greeting)
                DiagnoseOnce("unit " + path + " has not greeted; it is taken once it does");
        }
        Wake();
        return records;
    }

    enum class TCheck { Unknown, Known, Missing, Dead };

    // What an open of the path may rely on, without connecting.
    TCheck Check(const std::string& path, TDeviceIdentity& identity)
    {
        const auto file = TFileId::Of(path);
        if (!file)
            return TCheck::Missing;
        std::lock_guard lock(FLock);
        const auto found = FEntries.find(path);
        if (found == FEntries.end() || !(found->second.File == *file))
            return TCheck::Unknown;
        const TUnitEntry& entry = found->second;
        if (entry.State == TUnitState::Refused)
            return TCheck::Dead;
        // A unit that died is left to the monitor and the next scan, which announce the end;
        // the open tries the socket as it is.
        if (entry.State != TUnitState::Known || PeerClosed(entry.Socket->Get()))
            return TCheck::Unknown;
        identity = entry.Identity;
        return TCheck::Known;
    }

    int Collect(std::vector<pollfd>& fds, std::vector<std::pair<std::string, std::shared_ptr<TFd>>>& polled)
    {
        std::lock_guard lock(FLock);
        polled.clear();
        fds.push_back({FWake.Get(), POLLIN, 0});
        const auto now = Clock::now();
        int timeout = -1;
        for (const auto& [path, entry] : FEntries) {
            if (entry.State == TUnitState::Greeting || entry.State == TUnitState::Known) {
                fds.push_back({entry.Socket->Get(), POLLIN, 0});
                polled.emplace_back(path, entry.Socket);
            }
            const bool retrying = entry.State == TUnitState::Retrying;
            if (retrying || entry.AnnounceAt) {
                const auto due = retrying ? entry.NextTry : *entry.AnnounceAt;
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
                const int wait = static_cast<int>(std::clamp<decltype(left)>(left, 0, 60000));
                timeout = timeout < 0 ? wait : std::min(timeout, wait);
            }
        }
        return timeout;
    }

    bool Service(const pollfd* fds, const std::vector<std::pair<std::string, std::shared_ptr<TFd>>>& polled)
    {
        if (fds[0].revents) {
            std::uint64_t count;
            if (read(FWake.Get(), &count, sizeof count) < 0) {
                // Nothing to drain: another wake-up took it.
            }
        }
        std::lock_guard lock(FLock);
        const auto now = Clock::now();
        bool changed = false;
        for (std::size_t i = 0; i < polled.size(); ++i) {
            const auto found = FEntries.find(polled[i].first);
            // An entry a scan replaced meanwhile is the scan's to judge.
            if (fds[i + 1].revents && found != FEntries.end() && found->second.Socket == polled[i].second)
                changed |= Advance(found->first, found->second, now);
        }
        for (auto& [path, entry] : FEntries) {
            if (entry.State == TUnitState::Retrying && entry.NextTry <= now)
                changed |= Advance(path, entry, now);
            if (entry.AnnounceAt && *entry.AnnounceAt <= now) {
                entry.AnnounceAt.reset();
                changed |= TFileId::Of(path) == std::optional<TFileId>(entry.File);
            }
        }
        return changed;
    }

private:
    TUnitRegistry() : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void Retry(TUnitEntry& entry, Clock::time_point now)
    {
        entry.Socket.reset();
        entry.State = TUnitState::Retrying;
        entry.NextTry = now + entry.Backoff;
        entry.Backoff = std::min<Clock::duration>(entry.Backoff * 2, LongestRetry);
    }

    void Connect(const std::string& path, TUnitEntry& entry, Clock::time_point now)
    {
        int err = 0;
        TFd fd = ConnectNow(path, err);
        if (fd.IsOpen()) {
            entry.Socket = std::make_shared<TFd>(std::move(fd));
            entry.State = TUnitState::Greeting;
        } else if (err == EAGAIN) {
            Retry(entry, now);
        } else {
            entry.Socket.reset();
            entry.State = TUnitState::Dead;
        }
    }

    // Moves the entry on by what its connection holds now, without waiting. True when it
    // became a unit; one that stopped being one is announced after the grace.
    bool Advance(const std::string& path, TUnitEntry& entry, Clock::time_point now)
    {
        if (entry.State == TUnitState::Retrying) {
            if (now < entry.NextTry)
                return false;
            Connect(path, entry, now);
        }
        if (entry.State == TUnitState::Greeting) {
            switch (ReceiveHello(entry.Socket->Get(), path, entry.Identity)) {
            case THello::Waiting: return false;
            case THello::Greeted:
                if (!SendOpen(entry.Socket->Get(), 0)) {
                    Retry(entry, now);
                    return false;
                }
                entry.State = TUnitState::Known;
                entry.Backoff = FirstRetry;
                return true;
            case THello::Closed: Retry(entry, now); return false;
            case THello::Malformed:
                entry.Socket.reset();
                entry.State = TUnitState::Refused;
                return false;
            }
        }
        if (entry.State == TUnitState::Known && !IsAlive(entry.Socket->Get())) {
            entry.Socket.reset();
            entry.State = TUnitState::Dead;
            entry.AnnounceAt = now + DeathGrace;
        }
        return false;
    }

    // A query connection carries nothing but the end of the unit; anything else is dropped.
    static bool IsAlive(int fd)
    {
        char byte;
        for (;;) {
            const ssize_t got = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_TRUNC);
            if (got < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            if (got == 0 && PeerClosed(fd))
                return false;
        }
    }

    void WaitForHellos(const std::vector<std::string>& paths, Clock::time_point deadline)
    {
        std::vector<pollfd> fds;
        std::vector<const std::string*> waiting;
        for (;;) {
            fds.clear();
            waiting.clear();
            for (const auto& path : paths) {
                const TUnitEntry& entry = FEntries[path];
                if (entry.State == TUnitState::Greeting) {
                    fds.push_back({entry.Socket->Get(), POLLIN, 0});
                    waiting.push_back(&path);
                }
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (fds.empty() || left <= 0)
                return;
            if (poll(fds.data(), fds.size(), static_cast<int>(left)) < 0 && errno != EINTR)
                return;
            const auto now = Clock::now();
            for (std::size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents)
                    Advance(*waiting[i], FEntries[*waiting[i]], now);
        }
    }

    void Wake()
    {
        const std::uint64_t one = 1;
        if (write(FWake.Get(), &one, sizeof one) < 0) {
            // The counter cannot overflow from these writes; nothing else can fail here.
        }
    }

    std::mutex FLock;
    std::map<std::string, TUnitEntry> FEntries;
    TFd FWake;
};

class TVirtualUnitFile final : public TDeviceFile {
public:
    TVirtualUnitFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped, TFd socket,
                     bool helloPending)
        : TDeviceFile(std::move(path), std::move(identity), access, overlapped), FSocket(std::move(socket)),
          FHelloPending(helloPending)
    {
    }

    int PollFd() const override { return FSocket.Get(); }

    // Connects a handle opened on an identity already known; the unit's hello on the new
    // connection is skipped by the first read.
    DWORD Connect()
    {
        const auto deadline = Clock::now() + ConnectWait;
        int err = 0;
        FSocket = ConnectWithin(Path(), ConnectWait, err);
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

    TReadOutcome ReadReport(BYTE* buffer) override
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

    DWORD WriteReport(const BYTE* data, DWORD count, DWORD waitMs) override
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

private:
    TFd FSocket;
    // Set on the reader thread only, where the hello of the connection is read past.
    bool FHelloPending;
};

} // namespace

namespace {

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

// Waits up to OpenHelloWait for a freshly connected unit's hello.
THello AwaitHello(int socket, const std::string& path, TDeviceIdentity& identity)
{
    pollfd wait{socket, POLLIN, 0};
    const auto deadline = Clock::now() + OpenHelloWait;
    THello hello = THello::Waiting;
    while (hello == THello::Waiting) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || (poll(&wait, 1, static_cast<int>(left)) < 0 && errno != EINTR))
            break;
        hello = ReceiveHello(socket, path, identity);
    }
    return hello;
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

TVirtualUnitSource::TVirtualUnitSource() : FDirectory(UnitDirectoryPath())
{
    if (const auto problem = PrepareUnitDirectory(FDirectory))
        DiagnoseOnce("unit directory " + FDirectory + " is ignored: " + *problem);
    else
        FUsable = true;
}

std::vector<TDeviceRecord> TVirtualUnitSource::Enumerate() const
{
    if (!FUsable)
        return {};
    std::vector<std::string> names;
    if (DIR* dir = opendir(FDirectory.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (IsUnitSocketName(entry->d_name))
                names.emplace_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return TUnitRegistry::Instance().Scan(FDirectory, names);
}

int TUnitWatch::Collect(std::vector<pollfd>& fds)
{
    return TUnitRegistry::Instance().Collect(fds, FPolled);
}

bool TUnitWatch::Service(const pollfd* fds)
{
    return TUnitRegistry::Instance().Service(fds, FPolled);
}

std::shared_ptr<TDeviceFile> OpenVirtualUnit(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    const bool readOrWrite = access & (GENERIC_READ | GENERIC_WRITE);
    TDeviceIdentity identity;
    switch (TUnitRegistry::Instance().Check(path, identity)) {
    case TUnitRegistry::TCheck::Missing: error = ErrorFromErrno(errno); return nullptr;
    case TUnitRegistry::TCheck::Dead: error = ERROR_FILE_NOT_FOUND; return nullptr;
    case TUnitRegistry::TCheck::Known: {
        // Windows refuses read or write opens of devices it reserves for itself.
        if (identity.QueryOnly && readOrWrite) {
            error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        auto file = std::make_shared<TVirtualUnitFile>(path, identity, access, overlapped, TFd(), false);
        // An overlapped handle connects now, so that a read handle catches the answer to a
        // command written right after. A synchronous one never reads; it connects at its
        // first write, so that identifying a unit needs no connection of its own.
        if (overlapped && readOrWrite) {
            if ((error = file->Connect()) != ERROR_SUCCESS)
                return nullptr;
        }
        return file;
    }
    case TUnitRegistry::TCheck::Unknown: break;
    }

    int err = 0;
    TFd socket = ConnectWithin(path, ConnectWait, err);
    if (!socket.IsOpen()) {
        error = ErrorFromErrno(err);
        return nullptr;
    }
    const THello hello = AwaitHello(socket.Get(), path, identity);
    if (hello != THello::Greeted) {
        if (hello == THello::Waiting)
            DiagnoseOnce("unit " + path + " sent no hello");
        error = hello == THello::Waiting ? ERROR_SEM_TIMEOUT
            : hello == THello::Closed    ? ERROR_DEVICE_NOT_CONNECTED
                                         : ERROR_GEN_FAILURE;
        return nullptr;
    }
    if (identity.QueryOnly && readOrWrite) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (!SendOpen(socket.Get(), access)) {
        error = ErrorFromErrno(errno);
        return nullptr;
    }
    return std::make_shared<TVirtualUnitFile>(path, identity, access, overlapped, std::move(socket), false);
}

} // namespace winapi::posix
