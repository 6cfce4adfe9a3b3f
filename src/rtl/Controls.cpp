#include "Controls.h"

namespace rtl {

void TLabel::SetCaption(const AnsiString& caption)
{
    if (caption == FCaption)
        return;
    FCaption = caption;
    if (FPeer)
        FPeer->CaptionChanged(*this);
}

void TMemo::Clear()
{
    FLines.clear();
    if (FPeer)
        FPeer->Cleared(*this);
    Changed();
}

void TMemo::Add(const AnsiString& line)
{
    if (FMaxLines == 0)
        return;
    if (FLines.size() >= FMaxLines) {
        const std::size_t excess = FLines.size() - FMaxLines + 1;
        FLines.erase(FLines.begin(), FLines.begin() + static_cast<std::ptrdiff_t>(excess));
        if (FPeer)
            FPeer->FirstLinesRemoved(*this, excess);
    }
    FLines.push_back(line);
    if (FPeer)
        FPeer->LineAdded(*this, line);
    Changed();
}

void TMemo::EndUpdate()
{
    if (FUpdating > 0 && --FUpdating == 0)
        Changed();
}

void TMemo::Changed()
{
    if (FPeer && FUpdating == 0)
        FPeer->LinesChanged(*this);
}

void TTimer::SetEnabled(bool enabled)
{
    const auto due = DueAt();
    const bool wasRunning = Running();
    FEnabled = enabled;
    if (!enabled)
        FTriggered = false;
    Changed(due, wasRunning);
}

void TTimer::SetInterval(unsigned interval)
{
    const auto due = DueAt();
    const bool wasRunning = Running();
    // A new interval restarts the period, as re-setting a platform timer does.
    if (interval != FInterval)
        FNotBefore = Clock::now() + std::chrono::milliseconds(interval);
    FInterval = interval;
    Changed(due, wasRunning);
}

void TTimer::SetOnTimer(TNotifyEvent handler)
{
    const auto due = DueAt();
    const bool wasRunning = Running();
    FOnTimer = handler;
    Changed(due, wasRunning);
}

void TTimer::SetIdle(bool idle)
{
    const auto due = DueAt();
    FIdle = idle;
    Changed(due, Running());
}

void TTimer::Trigger()
{
    if (!FEnabled)
        return;
    const auto due = DueAt();
    FTriggered = true;
    Changed(due, Running());
}

std::optional<TTimer::Clock::time_point> TTimer::DueAt() const
{
    if (!Running() || (FIdle && !FTriggered))
        return std::nullopt;
    return FNotBefore;
}

bool TTimer::TickIfDue(Clock::time_point now)
{
    const auto due = DueAt();
    if (!due || now < *due)
        return false;
    TickAt(now);
    return true;
}

void TTimer::Tick()
{
    TickAt(Clock::now());
}

void TTimer::TickAt(Clock::time_point now)
{
    if (!Running())
        return;
    const auto due = DueAt();
    FTriggered = false;
    FNotBefore = now + Period();
    FOnTimer(this);
    Changed(due, true);
}

void TTimer::Changed(std::optional<Clock::time_point> dueBefore, bool wasRunning)
{
    if (!wasRunning && Running())
        FNotBefore = Clock::now() + Period();
    if (FPeer && DueAt() != dueBefore)
        FPeer->TimerChanged(*this);
}

void TMenuItem::SetEnabled(bool enabled)
{
    if (enabled == FEnabled)
        return;
    FEnabled = enabled;
    if (FPeer)
        FPeer->EnabledChanged(*this);
}

void TMenuItem::Click()
{
    if (FEnabled && FOnClick)
        FOnClick(this);
}

TMenuItem* TMenuItem::Add(std::unique_ptr<TMenuItem> item)
{
    FItems.push_back(std::move(item));
    return FItems.back().get();
}

TMenuItem* TMainMenu::Add(std::unique_ptr<TMenuItem> item)
{
    FItems.push_back(std::move(item));
    return FItems.back().get();
}

void TSpeedButton::Click()
{
    if (FOnClick)
        FOnClick(this);
}

} // namespace rtl
