#pragma once

// The order in which a session's steps meet the messages waiting for the main thread, as one
// suite for every front end: reports and a removal that wait in the queue together when the
// loop turns, and a report that comes while a confirmation box is open. Each front end runs
// the same scenarios with the same expected log; only its loop and its boxes differ.

#include "app/Main.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

// What arrives, back to back: each one waits in the queue when the loop turns after the one
// before it. A report is its bytes after the report ID; Removal takes the unit out.
struct TCue {
    std::string When; // the log message (direction marker and text) that lets it go
    std::vector<std::string> Arrivals;
};

inline const std::string Removal = "\x01removal";

struct TStepScenario {
    const char* Name;
    std::vector<TCue> Cues;
    // Confirmation boxes in order: true answers OK. A box cue's arrivals come while it is open.
    std::vector<bool> Answers;
    std::vector<TCue> BoxCues;
    // The activity log's messages, from the connect line to the end of the session.
    std::vector<std::string> Expected;
};

const std::vector<TStepScenario>& StepScenarios();

// Names a scenario in a test's parameter, rather than its bytes.
inline void PrintTo(const TStepScenario& scenario, std::ostream* out)
{
    *out << scenario.Name;
}

// Checks a session's log messages against the scenario's, each mismatch reported.
void ExpectLog(const TStepScenario& scenario, const std::vector<std::string>& messages);

// A log line's message: the time stamp cut off, the direction marker kept.
std::string Message(const std::string& line);

// Plays one scenario's arrivals into a form's held unit, from the main thread. A front end's
// test feeds it each log line as it is added and each box as it opens.
class TScenarioPlayer {
public:
    // removeUnit takes the unit out and returns once its removal has been handled.
    TScenarioPlayer(const TStepScenario& scenario, app::TForm1& form, std::function<void()> removeUnit);

    // Call as each activity-log line is added.
    void LineAdded(const std::string& line);
    // Call as a confirmation box opens; its answer, once BoxArrivalsHandled().
    bool BoxOpened();
    // The arrivals of the box that is open have all been handled.
    bool BoxArrivalsHandled() const { return FPending == 0; }

    // The session ended, or the log already went another way than expected.
    bool Done() const;
    std::vector<std::string> Messages() const;

private:
    void Play(const std::vector<std::string>& arrivals);
    void Arrive(const std::vector<std::string>& arrivals, std::size_t index);
    void Deliver(const std::string& report);

    const TStepScenario& FScenario;
    app::TForm1& FForm;
    std::function<void()> FRemoveUnit;
    std::size_t FNextCue = 0;
    std::size_t FNextBox = 0;
    int FPending = 0;
    bool FRemoved = false;
};

} // namespace testsupport
