#pragma once

#include "Main.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace app {

// What the window front ends share of their peer: they own the form, each change of its
// models goes to the one control it concerns, and a step runs as a timer message would,
// once nothing else waits. A window supplies the native steps.
class TFormWindow : protected TFormPeer {
public:
    TForm1& Form() const { return *FForm; }
    // Every activity-log line from now on is also appended to the file, in UTF-8 with its
    // control characters escaped as tolvane-cli prints them, each one flushed as it comes.
    // False, with the system's reason, when it cannot be opened.
    bool AppendLogTo(const std::filesystem::path& file, std::string& error);
    // Also hears every activity-log line as it is added, after the window has shown it.
    void SetLogListener(std::function<void(const AnsiString& line)> listener) { FLogListener = std::move(listener); }

protected:
    TFormWindow();
    // The form goes with the peer detached; its controller stops the unit's reader first.
    ~TFormWindow() override;

    // Attaches the native controls, once they stand, and sets the platform timer going.
    void AttachControls();
    // The platform timer fired: runs the step if one is due, after whatever waits in the
    // main-thread queue (hand-overs, device changes), and sets the timer for the next one.
    void StepIfDue();

    virtual void ShowStatus(const AnsiString& text) = 0;
    // Memo1, the activity log.
    virtual void LogLineAdded(const rtl::TMemo& log, const AnsiString& line) = 0;
    virtual void LogCleared() = 0;
    virtual void LogFirstLinesRemoved(std::size_t count) = 0;
    // Memo2, the identity display, rewritten.
    virtual void ShowIdentityLines(const rtl::TMemo& identity) = 0;
    // Sets the platform timer to fire at that time (at once if it has passed), or stops it.
    virtual void SetStepTimer(std::optional<rtl::TTimer::Clock::time_point> due) = 0;
    // Window messages wait that the loop has not dispatched yet: the step waits for them.
    virtual bool MessagesWaiting() const { return false; }
    virtual void MenuEnabled(const rtl::TMenuItem& item) = 0;

private:
    void CaptionChanged(rtl::TLabel& label) final;
    void LineAdded(rtl::TMemo& memo, const AnsiString& line) final;
    void Cleared(rtl::TMemo& memo) final;
    void FirstLinesRemoved(rtl::TMemo& memo, std::size_t count) final;
    void LinesChanged(rtl::TMemo& memo) final;
    void TimerChanged(rtl::TTimer& timer) final;
    void EnabledChanged(rtl::TMenuItem& item) final;

    std::unique_ptr<TForm1> FForm;
    struct TCloseFile {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, TCloseFile> FLogFile;
    std::function<void(const AnsiString&)> FLogListener;
};

} // namespace app
