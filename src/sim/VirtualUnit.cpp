#include "VirtualUnit.h"

#include "Console.h"
#include "Trace.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace sim {

TVirtualUnit::TVirtualUnit(TUnitDescription description, int stopFd, TTrace* trace)
    : FDescription(std::move(description)), FStopFd(stopFd), FTrace(trace)
{
}

TWaitResult TVirtualUnit::NextOutputReport(TBytes& report, std::chrono::milliseconds timeout)
{
    const TWaitResult result = ServiceUntil(timeout, [this] { return !FQueue.empty(); });
    if (result == TWaitResult::Ready) {
        report = std::move(FQueue.front());
        FQueue.pop_front();
    }
    return result;
}

TWaitResult TVirtualUnit::SendInputReport(const TBytes& data, std::chrono::milliseconds timeout)
{
    const TWaitResult result = ServiceUntil(timeout, [this] { return HasReader(); });
    if (result != TWaitResult::Ready)
        return result;

    bool cut = false;
    const TBytes report = FrameInputReport(data, FDescription.InLength, cut);
    if (cut)
        PrintDiagnostic("%s: input report data of %zu bytes cut to %zu (input report length %zu)",
                        FDescription.Name.c_str(), data.size(), FDescription.InLength - 1, FDescription.InLength);
    Trace('<', report);
    DeliverInputReport(report);
    return TWaitResult::Ready;
}

TWaitResult TVirtualUnit::Idle(std::chrono::milliseconds duration)
{
    return ServiceUntil(duration, [] { return false; });
}

void TVirtualUnit::ReceiveOutputReport(const TBytes& report, bool truncated)
{
    if (truncated || report.size() != FDescription.OutLength) {
        PrintDiagnostic("%s: output report of %s%zu bytes, expected exactly %zu; ignored", FDescription.Name.c_str(),
                        truncated ? "more than " : "", truncated ? FDescription.OutLength : report.size(),
                        FDescription.OutLength);
        return;
    }
    Trace('>', report);
    FQueue.push_back(report);
}

void TVirtualUnit::Trace(char direction, const TBytes& report)
{
    if (FTrace)
        FTrace->Record(direction, report);
}

TWaitResult TVirtualUnit::ServiceUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done,
                                       std::chrono::milliseconds recheck)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = timeout == Forever;
    const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
    std::vector<pollfd> fds;
    for (;;) {
        if (done())
            return TWaitResult::Ready;
        long long wait = recheck == Forever ? -1 : recheck.count();
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return TWaitResult::TimedOut;
            wait = wait < 0 ? left.count() : std::min<long long>(wait, left.count());
        }

        fds.clear();
        fds.push_back({FStopFd, POLLIN, 0});
        CollectPollFds(fds);
        if (::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(wait, INT_MAX))) < 0) {
            if (errno == EINTR)
                continue;
            PrintDiagnostic("%s: poll failed: %s", FDescription.Name.c_str(), std::strerror(errno));
            return TWaitResult::Stopped;
        }
        if (fds[0].revents != 0)
            return TWaitResult::Stopped;
        Service(fds.data() + 1, fds.size() - 1);
    }
}

} // namespace sim
