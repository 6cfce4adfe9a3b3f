#pragma once

#include "ConsoleFrontEnd.h"

#include <chrono>
#include <ostream>
#include <string>

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

// The session as one JSON object, without a line break.
std::string SessionRecord(const app::TForm1& form, const TSessionResult& result,
                          std::chrono::system_clock::time_point time);

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
// "result: ok" or "result: failed REASON" line on err.
class TSessionReporter {
public:
    TSessionReporter(const app::TForm1& form, const TSessionOptions& options, std::ostream& err, TRecordFile* record)
        : FForm(form), FOptions(options), FErr(err), FRecord(record)
    {
    }

    // Bound to the form's OnSessionEnd.
    void SessionEnded(rtl::TObject*);
    // The run ends: a session still holding its unit ends with it.
    void RunEnded(TSessionEnding ending);

    int FinishedSessions() const { return FFinished; }
    bool AnySession() const { return FSessions > 0; }
    // A session failed, or its record could not be written.
    bool AnyFailed() const { return FFailed; }

private:
    void Report(TSessionEnding ending);

    const app::TForm1& FForm;
    const TSessionOptions& FOptions;
    std::ostream& FErr;
    TRecordFile* FRecord;
    int FSessions = 0;
    int FFinished = 0;
    bool FFailed = false;
};

} // namespace console
