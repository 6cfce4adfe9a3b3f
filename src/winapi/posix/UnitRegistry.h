#pragma once

#include "DeviceFile.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace winapi::posix {

class TUnitWatch;

// Which socket file. A unit placed anew makes a new file, but it may get the inode number and
// the (coarse) times of one just removed, so a file that looks the same is trusted only while
// someone listens on it, and the directory event that created it has it tried again.
struct TFileId {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Changed{};
    timespec Modified{};

    static std::optional<TFileId> Of(const std::string& path);
    bool operator==(const TFileId& other) const;
};

// When a socket that gave no unit is tried again: the wait doubles from a first step up to a
// bound that depends on why it gave none.
struct TBackoff {
    static constexpr std::chrono::milliseconds First{250};

    std::chrono::steady_clock::time_point NextTry{};
    std::chrono::steady_clock::duration Step = First;

    void Arm(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration longest);
};

enum class TUnitState {
    Retrying, // not connected: the backlog was full, nobody listened, or it hung up before its hello
    Greeting, // connected, waiting for the hello
    Known,    // greeted; the connection stays open for query only and watches the unit
    Refused,  // the hello was malformed: not a unit while this file stays
};

struct TUnitEntry {
    TFileId File;
    TUnitState State = TUnitState::Retrying;
    // Shared with a monitor's poll in progress, so that the descriptor it polls stays ours.
    std::shared_ptr<TFd> Socket;
    TDeviceIdentity Identity;
    TBackoff Backoff;
    // A directory event named the file since the last scan.
    bool Named = false;
    // Set when a greeted unit died and no scan has seen it yet.
    std::optional<std::chrono::steady_clock::time_point> AnnounceAt;
};

// Every unit socket met so far, by path; the same file is the same unit. Scans run on the main
// thread, opens on any, and the device-change monitor watches the entries through TUnitWatch.
class TUnitRegistry {
public:
    static TUnitRegistry& Instance();

    // The greeted units among `names` (in byte order) of `directory`. Connects only to a
    // socket not met before, whose file changed or that a directory event named since; waits a
    // bounded time for the hellos of those. A socket that gave no unit is left to the watch,
    // which tries it again after a while.
    std::vector<TDeviceRecord> Scan(const std::string& directory, const std::vector<std::string>& names);

    enum class TCheck { Unknown, Known, Missing, Dead };
    // What an open of the path may rely on, without connecting.
    TCheck Check(const std::string& path, TDeviceIdentity& identity);

    // A directory event named the path: a socket there that gave no unit is tried at the next
    // scan, however its file looks.
    void Named(const std::string& path);
    // The directory's events were lost: every path counts as named.
    void NamedAll();
    // The directory is watched from now on, every change in it named by an event; or no longer.
    void Watching(const std::string& directory);
    void Unwatched(const std::string& directory);

private:
    friend class TUnitWatch;
    using Clock = std::chrono::steady_clock;

    TUnitRegistry();

    void NameAll();
    void Retry(TUnitEntry& entry, Clock::time_point now, Clock::duration longest);
    void Connect(const std::string& path, TUnitEntry& entry, Clock::time_point now);
    // Takes what a connection attempt gave: a socket to greet on, or the errno of the refusal.
    void Connected(TUnitEntry& entry, TFd socket, int err, Clock::time_point now);
    bool Advance(const std::string& path, TUnitEntry& entry, Clock::time_point now);
    void WaitForHellos(const std::vector<std::string>& paths, Clock::time_point deadline);
    void Wake();

    std::mutex FLock;
    std::map<std::string, TUnitEntry> FEntries;
    // The directory a device-change monitor watches without a gap, if any.
    std::string FWatched;
    TFd FWake;
};

} // namespace winapi::posix
