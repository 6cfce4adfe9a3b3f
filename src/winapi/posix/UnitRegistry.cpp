#include "UnitRegistry.h"

#include "SubstituteCounters.h"
#include "UnitConnection.h"
#include "UnitDirectory.h"
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
// A unit that lives but took no connection now (its backlog full, or it hung up before its
// hello) is expected back soon.
constexpr auto LongestBusyRetry = 5s;
// Nobody listened: only a unit that bound its socket and has not listened yet comes to life
// without a new file, and a new file is tried at once.
constexpr auto LongestSilentRetry = 60s;
// A unit taken out closes its connections and then removes its socket, which the directory
// watch announces; only a unit whose socket stays behind (a killed one) is announced by the
// end of its connection, once this grace has passed.
constexpr auto DeathGrace = 100ms;

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

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

// To be tried at this scan rather than left to the watch.
bool NeedsTry(const TUnitEntry& entry, const TFileId& file)
{
    if (!(entry.File == file))
        return true;
    return entry.Named && (entry.State == TUnitState::Retrying || entry.State == TUnitState::Refused);
}

} // namespace

std::optional<TFileId> TFileId::Of(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return TFileId{st.st_dev, st.st_ino, st.st_ctim, st.st_mtim};
}

bool TFileId::operator==(const TFileId& other) const
{
    return Device == other.Device && Inode == other.Inode && SameTime(Changed, other.Changed)
        && SameTime(Modified, other.Modified);
}

void TBackoff::Arm(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration longest)
{
    NextTry = now + std::min(Step, longest);
    Step = std::min(Step * 2, longest);
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
    // While the directory is watched, a file no event named since it was last looked at is
    // still that file: a directory of thousands of dead sockets is not looked through again.
    const bool watched = FWatched == directory;
    std::vector<std::string> waiting;
    // The entries and the names are both in byte order of the path: one walk through both.
    std::string path = directory + "/";
    const std::size_t prefix = path.size();
    auto at = FEntries.begin();
    for (const auto& name : names) {
        path.resize(prefix);
        path += name;
        while (at != FEntries.end() && at->first < path)
            at = FEntries.erase(at);
        const bool met = at != FEntries.end() && at->first == path;
        std::optional<TFileId> file;
        if (!(met && watched && !at->second.Named)) {
            file = TFileId::Of(path);
            if (!file) {
                if (met)
                    at = FEntries.erase(at);
                continue;
            }
        }
        if (met && (!file || !NeedsTry(at->second, *file))) {
            at->second.Named = false;
            Advance(path, at->second, now);
            ++at;
            continue;
        }
        if (!met)
            at = FEntries.emplace_hint(at, path, TUnitEntry{});
        TUnitEntry& entry = at->second;
        entry = TUnitEntry{};
        entry.File = *file;
        ++SubstituteCounters().ScanConnects;
        Connect(path, entry, now);
        Advance(path, entry, now);
        if (entry.State == TUnitState::Greeting)
            waiting.push_back(path);
        ++at;
    }
    FEntries.erase(at, FEntries.end());
    WaitForHellos(waiting, Clock::now() + ScanHelloWait);
    for (auto& [entryPath, entry] : FEntries) {
        entry.AnnounceAt.reset();
        if (entry.State == TUnitState::Known)
            records.push_back({entryPath, entry.Identity, {}, {}, UnitNameOf(entryPath)});
        else if (entry.State == TUnitState::Greeting)
            DiagnoseOnce("unit " + entryPath + " has not greeted; it is taken once it does");
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
    if (entry.State == TUnitState::Refused && !entry.Named)
        return TCheck::Dead;
    // A unit that died is left to the monitor and the next scan, which announce the end;
    // the open tries the socket as it is.
    if (entry.State != TUnitState::Known || PeerClosed(entry.Socket->Get()))
        return TCheck::Unknown;
    identity = entry.Identity;
    return TCheck::Known;
}

void TUnitRegistry::Named(const std::string& path)
{
    std::lock_guard lock(FLock);
    if (const auto found = FEntries.find(path); found != FEntries.end())
        found->second.Named = true;
}

void TUnitRegistry::NamedAll()
{
    std::lock_guard lock(FLock);
    NameAll();
}

void TUnitRegistry::Watching(const std::string& directory)
{
    std::lock_guard lock(FLock);
    // What changed before the watch began was seen by no event.
    NameAll();
    FWatched = directory;
}

void TUnitRegistry::Unwatched(const std::string& directory)
{
    std::lock_guard lock(FLock);
    if (FWatched == directory)
        FWatched.clear();
}

void TUnitRegistry::NameAll()
{
    for (auto& [path, entry] : FEntries)
        entry.Named = true;
}

void TUnitRegistry::Retry(TUnitEntry& entry, Clock::time_point now, Clock::duration longest)
{
    entry.Socket.reset();
    entry.State = TUnitState::Retrying;
    entry.Backoff.Arm(now, longest);
}

void TUnitRegistry::Connect(const std::string& path, TUnitEntry& entry, Clock::time_point now)
{
    entry.Named = false;
    int err = 0;
    TFd socket = ConnectNow(path, err);
    Connected(entry, std::move(socket), err, now);
}

void TUnitRegistry::Connected(TUnitEntry& entry, TFd socket, int err, Clock::time_point now)
{
    if (socket.IsOpen()) {
        entry.Socket = std::make_shared<TFd>(std::move(socket));
        entry.State = TUnitState::Greeting;
    } else {
        Retry(entry, now, err == EAGAIN ? LongestBusyRetry : LongestSilentRetry);
    }
}

// Moves the entry on by what its connection holds now, without waiting. True when it became a
// unit; one that stopped being one is announced after the grace.
bool TUnitRegistry::Advance(const std::string& path, TUnitEntry& entry, Clock::time_point now)
{
    if (entry.State == TUnitState::Greeting) {
        switch (ReceiveHello(entry.Socket->Get(), path, entry.Identity)) {
        case THello::Waiting: return false;
        case THello::Greeted:
            if (!SendOpen(entry.Socket->Get(), 0)) {
                Retry(entry, now, LongestBusyRetry);
                return false;
            }
            entry.State = TUnitState::Known;
            entry.Backoff = {};
            return true;
        case THello::Closed: Retry(entry, now, LongestBusyRetry); return false;
        case THello::Malformed:
            entry.Socket.reset();
            entry.State = TUnitState::Refused;
            return false;
        }
    }
    if (entry.State == TUnitState::Known && !IsAlive(entry.Socket->Get())) {
        Retry(entry, now, LongestSilentRetry);
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
