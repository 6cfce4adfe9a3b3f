#pragma once

#include "ConsoleFrontEnd.h"

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace console {

// How a session ended, as the console saw it.
enum class TSessionEnding { Finished, UnitRemoved, TimedOut, Interrupted };

struct TSessionResult {
    bool Ok = false;
    std::string Reason; // empty when ok
};

// Ok when the session reached state 99 having done what the options asked: the identity read
// (a serial block reaching its ser column, unless the serial was written); with ReadInfo, the
// file verified; with WriteSerial, the serial write accepted by the unit.
TSessionResult JudgeSession(const app::TForm1& form, TSessionEnding ending, const TSessionOptions& options);

// The unit a session held, as the system described it.
struct TUnitDescription {
    unsigned VendorId = 0;
    unsigned ProductId = 0;
    std::string Product; // UTF-8
    std::string Path;
    std::string Location; // empty: the system gives none
};
TUnitDescription DescribeUnit(const hid::THidDevice& device);
// The cradle a unit sits in: its location, or where the system gives none its path.
std::string SlotOf(const hid::THidDevice& device);
// The unit is one that --device names, by path or location; with no --device, every unit is.
bool DeviceChosen(const std::vector<std::string>& devices, const hid::THidDevice& device);

// What a record says of a session beyond its outcome.
struct TRecordContext {
    std::optional<std::string> Slot;
    TUnitDescription Unit;
    std::chrono::system_clock::time_point Started;
    std::chrono::system_clock::time_point Ended;
    std::chrono::milliseconds Duration{0};
};

// The session as one JSON object, without a line break.
std::string SessionRecord(const app::TForm1::TSessionOutcome& outcome, const TSessionResult& result,
                          const TRecordContext& context);
// UTC, to the millisecond: 2026-12-09T13:10:23.456Z.
std::string Utc(std::chrono::system_clock::time_point time);

// The --record file. Each record is appended with one write and is on disk when Append
// returns; an unterminated last line, which is all a power cut can leave, is dropped when the
// file is opened.
class TRecordFile {
public:
    TRecordFile() = default;
    ~TRecordFile();
    TRecordFile(const TRecordFile&) = delete;
    TRecordFile& operator=(const TRecordFile&) = delete;

    bool Open(const std::string& path, std::string& error);
    bool Append(const std::string& line, std::string& error);

private:
#ifdef _WIN32
    void* FHandle = nullptr;
#else
    int FFd = -1;
    bool FRegular = false;
#endif
};

// Reports each session as it ends: its record first, when there is a record file, then one
// "result: ok" or "result: failed REASON" line on err, after the prefix.
class TSessionReporter {
public:
    using TSlot = std::optional<std::string>;

    TSessionReporter(app::TForm1& form, const TSessionOptions& options, std::ostream& err, TRecordFile* record,
                     TSlot slot = std::nullopt, std::string prefix = {});
    ~TSessionReporter();
    TSessionReporter(const TSessionReporter&) = delete;
    TSessionReporter& operator=(const TSessionReporter&) = delete;

    // Bound to the form's OnSessionStart and OnSessionEnd.
    void SessionStarted(rtl::TObject*);
    void SessionEnded(rtl::TObject*);
    // The run ends: a session still holding its unit ends with it.
    void RunEnded(TSessionEnding ending);

    int FinishedSessions() const { return FFinished; }
    bool AnySession() const { return FSessions > 0; }
    // A session failed, or its record could not be written.
    bool AnyFailed() const { return FFailed; }
    // When the last session started, and what it was judged.
    std::chrono::system_clock::time_point Started() const { return FContext.Started; }
    const TSessionResult& LastResult() const { return FLastResult; }

private:
    void Report(TSessionEnding ending);

    app::TForm1& FForm;
    const TSessionOptions& FOptions;
    std::ostream& FErr;
    TRecordFile* FRecord;
    std::string FPrefix;
    TRecordContext FContext;
    std::chrono::steady_clock::time_point FStartedSteady;
    TSessionResult FLastResult;
    int FSessions = 0;
    int FFinished = 0;
    bool FFailed = false;
};

} // namespace console
