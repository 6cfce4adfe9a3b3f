#include "UnitWatch.h"

#include "UnitRegistry.h"

#include <algorithm>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

namespace winapi::posix {

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

bool TUnitWatch::Service(const pollfd* fds)
{
    auto& registry = TUnitRegistry::Instance();
    if (fds[0].revents) {
        std::uint64_t count;
        if (read(registry.FWake.Get(), &count, sizeof count) < 0) {
            // Nothing to drain: another wake-up took it.
        }
    }
    std::lock_guard lock(registry.FLock);
    const auto now = std::chrono::steady_clock::now();
    bool changed = false;
    for (std::size_t i = 0; i < FPolled.size(); ++i) {
        const auto found = registry.FEntries.find(FPolled[i].first);
        // An entry a scan replaced meanwhile is the scan's to judge.
        if (fds[i + 1].revents && found != registry.FEntries.end() && found->second.Socket == FPolled[i].second)
            changed |= registry.Advance(found->first, found->second, now);
    }
    for (auto& [path, entry] : registry.FEntries) {
        if (entry.State == TUnitState::Retrying && entry.NextTry <= now)
            changed |= registry.Advance(path, entry, now);
        if (entry.AnnounceAt && *entry.AnnounceAt <= now) {
            entry.AnnounceAt.reset();
            changed |= TFileId::Of(path) == std::optional<TFileId>(entry.File);
        }
    }
    return changed;
}

} // namespace winapi::posix
