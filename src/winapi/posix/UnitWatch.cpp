#include "UnitWatch.h"

#include "UnitConnection.h"
#include "UnitRegistry.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace winapi::posix {

namespace {

// Thousands of dead sockets met at once fall due at once: they are tried a slice at a time,
// so that a directory event waits for one slice only.
constexpr std::size_t MaxTriesAtOnce = 64;

} // namespace

int TUnitWatch::Collect(std::vector<pollfd>& fds)
{
    auto& registry = TUnitRegistry::Instance();
    std::lock_guard lock(registry.FLock);
    FPolled.clear();
    fds.push_back({registry.FWake.Get(), POLLIN, 0});
    const auto now = std::chrono::steady_clock::now();
    int timeout = -1;
    for (const auto& [path, entry] : registry.FEntries) {
        if (entry.State == TUnitState::Greeting || entry.State == TUnitState::Known) {
            fds.push_back({entry.Socket->Get(), POLLIN, 0});
            FPolled.emplace_back(path, entry.Socket);
        }
        std::optional<std::chrono::steady_clock::time_point> due = entry.AnnounceAt;
        if (entry.State == TUnitState::Retrying)
            due = due ? std::min(*due, entry.Backoff.NextTry) : entry.Backoff.NextTry;
        if (due) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
            const int wait = static_cast<int>(std::clamp<decltype(left)>(left, 0, 60000));
            timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
    }
    return timeout;
}

bool TUnitWatch::Service(const pollfd* fds)
{
    auto& registry = TUnitRegistry::Instance();
    if (fds[0].revents) {
        std::uint64_t count;
        if (read(registry.FWake.Get(), &count, sizeof count) < 0) {
            // Nothing to drain: another wake-up took it.
        }
    }
    bool changed = false;
    std::vector<std::pair<std::string, TFileId>> due;
    {
        std::lock_guard lock(registry.FLock);
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < FPolled.size(); ++i) {
            const auto found = registry.FEntries.find(FPolled[i].first);
            // An entry a scan replaced meanwhile is the scan's to judge.
            if (fds[i + 1].revents && found != registry.FEntries.end() && found->second.Socket == FPolled[i].second)
                changed |= registry.Advance(found->first, found->second, now);
        }
        for (auto& [path, entry] : registry.FEntries) {
            if (entry.State == TUnitState::Retrying && entry.Backoff.NextTry <= now && due.size() < MaxTriesAtOnce)
                due.emplace_back(path, entry.File);
            if (entry.AnnounceAt && *entry.AnnounceAt <= now) {
                entry.AnnounceAt.reset();
                changed |= TFileId::Of(path) == std::optional<TFileId>(entry.File);
            }
        }
    }
    if (due.empty())
        return changed;

    // Connecting is the slow part: scans go on meanwhile.
    std::vector<std::pair<TFd, int>> tried;
    for (const auto& [path, file] : due) {
        int err = 0;
        TFd socket = ConnectNow(path, err);
        tried.emplace_back(std::move(socket), err);
    }
    std::lock_guard lock(registry.FLock);
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < due.size(); ++i) {
        const auto found = registry.FEntries.find(due[i].first);
        // A scan that tried it again meanwhile, or found a new file, has the last word.
        if (found == registry.FEntries.end() || found->second.State != TUnitState::Retrying
            || !(found->second.File == due[i].second))
            continue;
        registry.Connected(found->second, std::move(tried[i].first), tried[i].second, now);
        changed |= registry.Advance(found->first, found->second, now);
    }
    return changed;
}

} // namespace winapi::posix
