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
// the (coarse) change time of one just removed, so a file that looks the same is trusted only
// while someone listens on it.
struct TFileId {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Changed{};

    static std::optional<TFileId> Of(const std::string& path);
    bool operator==(const TFileId& other) const;
};

enum class TUnitState {
    Retrying, // not connected yet: the backlog was full or the unit hung up before its hello
    Greeting, // connected, waiting for the hello
    Known,    // greeted; the connection stays open for query only and watches the unit
    Dead,     // nobody listens: not a unit, though a new unit's file may look the same
    Refused,  // the hello was malformed: not a unit while this file stays
};

struct TUnitEntry {
    TFileId File;
    TUnitState State = TUnitState::Retrying;
    // Shared with a monitor's poll in progress, so that the descriptor it polls stays ours.
    std::shared_ptr<TFd> Socket;
    TDeviceIdentity Identity;
    std::chrono::steady_clock::time_point NextTry;
    std::chrono::steady_clock::duration Backoff = std::chrono::milliseconds(250);
    // Set when a greeted unit died and no scan has seen it yet.
    std::optional<std::chrono::steady_clock::time_point> AnnounceAt;
};

// Every unit socket met so far, by path; the same file is the same unit. Scans run on the main
// thread, opens on any, and the device-change monitor watches the entries through TUnitWatch.
class TUnitRegistry {
public:
    static TUnitRegistry& Instance();

    // The greeted units among `names` of `directory`. Waits a short, bounded time for the
    // hellos of units met for the first time; never connects to a unit it already knows.
    std::vector<TDeviceRecord> Scan(const std::string& directory, const std::vector<std::string>& names);

    enum class TCheck { Unknown, Known, Missing, Dead };
    // What an open of the path may rely on, without connecting.
    TCheck Check(const std::string& path, TDeviceIdentity& identity);

private:
    friend class TUnitWatch;
    using Clock = std::chrono::steady_clock;

    TUnitRegistry();

    void Retry(TUnitEntry& entry, Clock::time_point now);
    void Connect(const std::string& path, TUnitEntry& entry, Clock::time_point now);
    bool Advance(const std::string& path, TUnitEntry& entry, Clock::time_point now);
    void WaitForHellos(const std::vector<std::string>& paths, Clock::time_point deadline);
    void Wake();

    std::mutex FLock;
    std::map<std::string, TUnitEntry> FEntries;
    TFd FWake;
};

} // namespace winapi::posix
