#pragma once

#include "ConsoleFrontEnd.h"

#include <chrono>
#include <optional>
#include <ostream>
#include <set>
#include <string>

namespace console {

// One terminal line, whatever a unit put into the text.
std::string OneLine(const rtl::AnsiString& text);

// The console's side of one form: its activity log goes to out as it is written, status,
// identity, confirmation and in-use lines to err, each after its stream's prefix; and its
// timer ticks when the loop asks.
class TConsolePeers : public app::TFormPeer {
public:
    using Clock = std::chrono::steady_clock;

    TConsolePeers(app::TForm1& form, const TSessionOptions& options, std::ostream& out, std::ostream& err,
                  std::string outPrefix = {}, std::string errPrefix = {});
    ~TConsolePeers() override;
    TConsolePeers(const TConsolePeers&) = delete;
    TConsolePeers& operator=(const TConsolePeers&) = delete;

    void CaptionChanged(rtl::TLabel& label) override;
    void LineAdded(rtl::TMemo& memo, const rtl::AnsiString& line) override;
    void LinesChanged(rtl::TMemo& memo) override;
    // The loop asks NextWake each turn.
    void TimerChanged(rtl::TTimer&) override {}

    // Bound to the form's OnUnitInUse: said once for each unit.
    void UnitInUse(rtl::TObject*);
    // The answer to a confirmation box of this form's session, from the options.
    int Answer(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags);

    // When the loop must wake for the timer next; never while it rests.
    std::optional<Clock::time_point> NextWake() const;
    // Runs the tick that is due, if any, when nothing waits in the loop before it.
    void TickIfDue();

    app::TForm1& Form() const { return FForm; }
    // What err lines of this form begin with.
    const std::string& Prefix() const { return FErrPrefix; }

private:
    app::TForm1& FForm;
    const TSessionOptions& FOptions;
    std::ostream& FOut;
    std::ostream& FErr;
    std::string FOutPrefix;
    std::string FErrPrefix;
    std::set<std::string> FInUseTold;
};

} // namespace console
