#include "UnitRegistry.h"

#include "UnitConnection.h"
#include "UnitHello.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winapi::posix {

namespace {

using namespace std::chrono_literals;

// A real unit greets at once; this bound only keeps a unit that never does from holding the
// main thread. A scan waits for all its new units together.
constexpr auto ScanHelloWait = 250ms;
constexpr auto FirstRetry = 250ms;
constexpr auto LongestRetry = 5s;
// A unit taken out closes its connections and then removes its socket, which the directory
// watch announces; only a unit whose socket stays behind (a killed one) is announced by the
// end of its connection, once this grace has passed.
constexpr auto DeathGrace = 100ms;

// A query connection carries nothing but the end of the unit; anything else is dropped.
bool IsAlive(int fd)
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

} // namespace

std::optional<TFileId> TFileId::Of(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return TFileId{st.st_dev, st.st_ino, st.st_ctim};
}

bool TFileId::operator==(const TFileId& other) const
{
    return Device == other.Device && Inode == other.Inode && Changed.tv_sec == other.Changed.tv_sec
        && Changed.tv_nsec == other.Changed.tv_nsec;
}

TUnitRegistry& TUnitRegistry::Instance()
{
    // Never destroyed: a monitor thread may still use it while statics go at exit.
    static TUnitRegistry* registry = new TUnitRegistry;
    return *registry;
}

TUnitRegistry::TUnitRegistry() : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

std::vector<TDeviceRecord> TUnitRegistry::Scan(const std::string& directory, const std::vector<std::string>& names)
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

TUnitRegistry::TCheck TUnitRegistry::Check(const std::string& path, TDeviceIdentity& identity)
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

void TUnitRegistry::Retry(TUnitEntry& entry, Clock::time_point now)
{
    entry.Socket.reset();
    entry.State = TUnitState::Retrying;
    entry.NextTry = now + entry.Backoff;
    entry.Backoff = std::min<Clock::duration>(entry.Backoff * 2, LongestRetry);
}

void TUnitRegistry::Connect(const std::string& path, TUnitEntry& entry, Clock::time_point now)
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
bool TUnitRegistry::Advance(const std::string& path, TUnitEntry& entry, Clock::time_point now)
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

void TUnitRegistry::WaitForHellos(const std::vector<std::string>& paths, Clock::time_point deadline)
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

void TUnitRegistry::Wake()
{
    const std::uint64_t one = 1;
    if (write(FWake.Get(), &one, sizeof one) < 0) {
        // The counter cannot overflow from these writes; nothing else can fail here.
    }
}

} // namespace winapi::posix
