// tolvane-cli --station: every unit present served at once, each by a form of its own. The
// forms' controllers keep to their own unit through a filter, and the claim keeps any other
// tool, in this process or another, off a unit a session holds.

#include "Station.h"

#include "ConsoleLoop.h"
#include "ConsoleRun.h"
#include "ConsoleText.h"

#include "hid/Hid.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace console {

namespace {

using Clock = std::chrono::steady_clock;

unsigned long ProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// What each line of a station session begins with.
std::string SlotPrefix(const std::string& slot)
{
    std::string prefix = "[";
    return prefix.append(EscapeControls(slot)).append("] ");
}

// The serial a session leaves its unit with, for the log file's name.
std::string SerialOf(const app::TForm1::TSessionOutcome& outcome)
{
    if (outcome.SerialWritten)
        return outcome.SentSer;
    if (outcome.IdentityRead && !outcome.Ser.empty())
        return outcome.Ser;
    return "unknown";
}

} // namespace

std::string FileNamePart(const std::string& text)
{
    std::string part;
    for (const char c : text) {
        const bool kept =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (kept)
            part += c;
        else if (part.empty() || part.back() != '_')
            part += '_';
    }
    // The end of a long path tells units apart; its start is what they share.
    constexpr std::size_t MaxLength = 80;
    if (part.size() > MaxLength)
        part.erase(0, part.size() - MaxLength);
    const std::size_t first = part.find_first_not_of("._");
    const std::size_t last = part.find_last_not_of("._");
    part = first == std::string::npos ? std::string() : part.substr(first, last - first + 1);
    return part.empty() ? "none" : part;
}

TSessionLog::TSessionLog(const std::string& directory) : FDirectory(directory)
{
    static std::atomic<unsigned> count{0};
    FPartial = (std::filesystem::path(directory)
                / (".tolvane-" + std::to_string(ProcessId()) + "-" + std::to_string(++count) + ".log.part"))
                   .string();
    FStream.open(FPartial, std::ios::binary | std::ios::trunc);
}

TSessionLog::~TSessionLog()
{
    if (FKept)
        return;
    FStream.close();
    std::error_code ignored;
    std::filesystem::remove(FPartial, ignored);
}

std::string TSessionLog::Keep(std::chrono::system_clock::time_point started, const std::string& slot,
                              const std::string& serial, std::string& error)
{
    std::string stamp = Utc(started);
    stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == ':'; }), stamp.end());
    const std::string stem = stamp + "_" + FileNamePart(slot) + "_" + FileNamePart(serial);
    FStream.flush();
    if (!FStream) {
        error = "cannot write " + FPartial;
        return {};
    }
    FStream.close();
    std::error_code failure;
    for (int copy = 1; copy < 1000; ++copy) {
        // Appended piece by piece: g++ 12 warns falsely of overlap on "-" + std::to_string().
        std::string file = stem;
        if (copy > 1)
            file.append("-").append(std::to_string(copy));
        const std::filesystem::path name = std::filesystem::path(FDirectory) / file.append(".log");
        if (std::filesystem::exists(name, failure))
            continue;
        std::filesystem::rename(FPartial, name, failure);
        if (failure)
            break;
        FKept = true;
        return name.string();
    }
    error = failure ? failure.message() : "too many logs of that name";
    return {};
}

TStationSession::TStationSession(const hid::THidDevice& unit, const TSessionOptions& options, TRecordFile* record,
                                 std::ostream& out, std::ostream& err)
    : FWatched(&unit), FSlot(SlotOf(unit)), FPath(unit.DeviceInfo().FInterfacePath), FErr(err),
      FLog(options.LogDir.empty() ? nullptr : std::make_unique<TSessionLog>(options.LogDir)),
      FPeers(FForm, options, FLog ? FLog->Stream() : out, err, FLog ? std::string() : SlotPrefix(FSlot),
             SlotPrefix(FSlot)),
      FReporter(FForm, options, err, record, FSlot, SlotPrefix(FSlot))
{
    // This unit alone, and only for one session: a unit the same change puts in its place is
    // the station's to give to a session of its own.
    FForm.SetUnitFilter([this](const hid::THidDevice& device) {
        return !FReporter.AnySession() && device.DeviceInfo().FInterfacePath == FPath;
    });
}

TStationSession::~TStationSession()
{
    // The filter asks the reporter, which goes before the form.
    FForm.SetUnitFilter({});
}

bool TStationSession::Close()
{
    if (!FLog || !FReporter.AnySession())
        return true;
    std::string error;
    const std::string kept = FLog->Keep(FReporter.Started(), FSlot, SerialOf(FForm.Outcome()), error);
    if (kept.empty()) {
        FErr << FPeers.Prefix() << "tolvane-cli: cannot keep the session log: " << error << std::endl;
        return false;
    }
    FErr << FPeers.Prefix() << "log: " << EscapeControls(kept) << std::endl;
    return true;
}

TStation::TStation(const TSessionOptions& options, TRecordFile* record, std::ostream& out, std::ostream& err)
    : FOptions(options), FRecord(record), FOut(out), FErr(err), FUnits(nullptr)
{
    FUnits.BeginLoading();
    FUnits.SetOnRemoval(hid::THidPlugEvent::Of<&TStation::UnitRemoved>(this));
    FUnits.EndLoading();
}

TStation::~TStation()
{
    FUnits.SetOnRemoval({});
}

void TStation::UnitRemoved(hid::THidDevice* unit)
{
    FServed.erase(std::remove(FServed.begin(), FServed.end(), unit), FServed.end());
    for (const auto& session : FSessions)
        if (session->Watched() == unit)
            session->Unwatch();
}

void TStation::Close(TStationSession& session)
{
    FFinished += session.Finished();
    if (!session.Close() || session.Failed())
        FFailed = true;
    if (session.Watched())
        FServed.push_back(session.Watched());
}

void TStation::Update()
{
    // A session that never took its unit goes when the unit left, or when no more are taken.
    for (auto it = FSessions.begin(); it != FSessions.end();) {
        TStationSession& session = **it;
        const bool done = session.Ended() && !session.Peers().Form().HoldsUnit();
        const bool idle = !session.Started() && (!session.Watched() || !Taking());
        if (done)
            Close(session);
        it = done || idle ? FSessions.erase(it) : it + 1;
    }
    if (!Taking())
        return;
    for (const app::TUnitId& id : app::UnitIds) {
        for (std::size_t i = 0; i < FUnits.Count(); ++i) {
            const hid::THidDevice& unit = *FUnits.Devices(i);
            const HIDD_ATTRIBUTES& attributes = unit.HidAttributes();
            if (!unit.Attached() || attributes.VendorID != id.VendorId || attributes.ProductID != id.ProductId
                || !DeviceChosen(FOptions.Devices, unit))
                continue;
            const bool served = std::find(FServed.begin(), FServed.end(), &unit) != FServed.end()
                || std::any_of(FSessions.begin(), FSessions.end(),
                               [&](const auto& session) { return session->Watched() == &unit; });
            if (!served)
                FSessions.push_back(std::make_unique<TStationSession>(unit, FOptions, FRecord, FOut, FErr));
        }
    }
}

std::optional<Clock::time_point> TStation::NextWake() const
{
    std::optional<Clock::time_point> wake;
    for (const auto& session : FSessions)
        if (const auto next = session->Peers().NextWake())
            wake = wake ? std::min(*wake, *next) : *next;
    return wake;
}

void TStation::Tick(TRunHooks& hooks)
{
    for (const auto& session : FSessions)
        hooks.Tick(session->Peers());
}

void TStation::EndAll(TSessionEnding ending)
{
    for (const auto& session : FSessions) {
        if (!session->Peers().Form().HoldsUnit())
            continue;
        session->RunEnded(ending);
        Close(*session);
    }
    FSessions.clear();
}

bool TStation::Running() const
{
    return std::any_of(FSessions.begin(), FSessions.end(), [](const auto& session) { return session->Started(); });
}

int RunStation(const TSessionOptions& options, std::ostream& out, std::ostream& err)
{
    TRecordFile record;
    if (!OpenRecord(options, record, err))
        return ExitUsage;
    if (!options.LogDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options.LogDir, failure);
        if (failure || !std::filesystem::is_directory(options.LogDir, failure)) {
            err << "tolvane-cli: cannot use the log directory " << options.LogDir << ": "
                << (failure ? failure.message() : "not a directory") << std::endl;
            return ExitUsage;
        }
    }
    WatchSignals();
    TConsoleLoop loop;
    bool closed = false;
    TRunHooks hooks(err, closed);
    TStation station(options, options.Record.empty() ? nullptr : &record, out, err);
    if (!hid::HidBound()) {
        err << "tolvane-cli: the HID libraries (HID.dll, SetupApi.dll) cannot be loaded" << std::endl;
        return ExitNoHid;
    }

    const TDeadline deadline(options);
    int exitCode = ExitDone;
    for (;;) {
        station.Update();
        if (Interrupted()) {
            station.EndAll(TSessionEnding::Interrupted);
            return ExitInterrupted;
        }
        if (closed || (options.Sessions > 0 && station.Finished() >= options.Sessions && !station.Running()))
            break;
        if (deadline.Passed()) {
            err << "tolvane-cli: timed out" << std::endl;
            station.EndAll(TSessionEnding::TimedOut);
            exitCode = ExitTimeout;
            break;
        }
        loop.WaitAndDispatchUntil(deadline.Limit(station.NextWake()));
        station.Tick(hooks);
    }
    return station.AnyFailed() ? ExitFailed : exitCode;
}

} // namespace console
