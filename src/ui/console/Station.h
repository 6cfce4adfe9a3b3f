#pragma once

#include "ConsolePeers.h"
#include "SessionReport.h"

#include "hid/HidControllerClass.h"

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace console {

class TRunHooks;

// A session's activity log in a file of its own: written as it comes under a hidden name,
// given its name when the session ends.
class TSessionLog {
public:
    explicit TSessionLog(const std::string& directory);
    ~TSessionLog();
    TSessionLog(const TSessionLog&) = delete;
    TSessionLog& operator=(const TSessionLog&) = delete;

    std::ostream& Stream() { return FStream; }
    // Names the file "START_SLOT_SERIAL.log"; returns its path, or empty with error set.
    std::string Keep(std::chrono::system_clock::time_point started, const std::string& slot, const std::string& serial,
                     std::string& error);

private:
    std::string FDirectory;
    std::string FPartial;
    std::ofstream FStream;
    bool FKept = false;
};

// A file-name part from any text: letters, digits, dot, dash and underscore kept, the rest
// turned into underscores, and never empty, hidden or longer than 80 characters.
std::string FileNamePart(const std::string& text);

// One unit's session in the station: a form of its own, tied to that unit alone.
class TStationSession {
public:
    TStationSession(const hid::THidDevice& unit, const TSessionOptions& options, TRecordFile* record, std::ostream& out,
                    std::ostream& err);
    ~TStationSession();
    TStationSession(const TStationSession&) = delete;
    TStationSession& operator=(const TStationSession&) = delete;

    // The station's list names this unit; null once the list lost it.
    const hid::THidDevice* Watched() const { return FWatched; }
    void Unwatch() { FWatched = nullptr; }
    bool Started() const { return FForm.HoldsUnit() || FReporter.AnySession(); }
    bool Ended() const { return FReporter.AnySession(); }
    bool Failed() const { return FReporter.AnyFailed(); }
    int Finished() const { return FReporter.FinishedSessions(); }
    TConsolePeers& Peers() { return FPeers; }
    // The run ends while the session still holds its unit.
    void RunEnded(TSessionEnding ending) { FReporter.RunEnded(ending); }
    // Once ended: the log file named. False when it cannot be written.
    bool Close();

private:
    const hid::THidDevice* FWatched;
    std::string FSlot;
    std::string FPath;
    std::ostream& FErr;
    std::unique_ptr<TSessionLog> FLog;
    app::TForm1 FForm;
    TConsolePeers FPeers;
    TSessionReporter FReporter;
};

// Serves every unit present at once: a list of its own tells which units are there, and each
// chosen unit that no session serves gets one. A unit whose session ended is not served again
// until it has left the list.
class TStation {
public:
    TStation(const TSessionOptions& options, TRecordFile* record, std::ostream& out, std::ostream& err);
    ~TStation();
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Ends and closes the sessions that are done, starts one for each new unit while sessions
    // may still be taken.
    void Update();
    std::optional<std::chrono::steady_clock::time_point> NextWake() const;
    void Tick(TRunHooks& hooks);
    // Ends every session that holds its unit with this ending.
    void EndAll(TSessionEnding ending);

    int Finished() const { return FFinished; }
    bool Running() const;
    bool AnyFailed() const { return FFailed; }

private:
    void UnitRemoved(hid::THidDevice* unit);
    void Close(TStationSession& session);
    bool Taking() const { return FOptions.Sessions == 0 || FFinished < FOptions.Sessions; }

    const TSessionOptions& FOptions;
    TRecordFile* FRecord;
    std::ostream& FOut;
    std::ostream& FErr;
    hid::THidDeviceController FUnits;
    std::vector<std::unique_ptr<TStationSession>> FSessions;
    // Units whose session ended while they stayed in the list.
    std::vector<const hid::THidDevice*> FServed;
    int FFinished = 0;
    bool FFailed = false;
};

} // namespace console
