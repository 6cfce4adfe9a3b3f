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
    const bool wasArmed = Armed();
    const bool wasRunning = Running();
    FEnabled = enabled;
    if (!enabled)
        FTriggered = false;
    Update(wasArmed, wasRunning);
}

void TTimer::SetInterval(unsigned interval)
{
    const bool wasArmed = Armed();
    const bool wasRunning = Running();
    const bool changed = interval != FInterval;
    FInterval = interval;
    if (changed && FPeer && Armed())
        FPeer->TimerChanged(*this);
    else
        Update(wasArmed, wasRunning);
}

void TTimer::SetOnTimer(TNotifyEvent handler)
{
    const bool wasArmed = Armed();
    const bool wasRunning = Running();
    FOnTimer = handler;
    Update(wasArmed, wasRunning);
}

void TTimer::SetIdle(bool idle)
{
    const bool wasArmed = Armed();
    FIdle = idle;
    Update(wasArmed, Running());
}

void TTimer::Trigger()
{
    if (!FEnabled)
        return;
    FTriggered = true;
    if (FPeer && Running())
        FPeer->TickSoon(*this);
}

void TTimer::Update(bool wasArmed, bool wasRunning)
{
    if (!FPeer)
        return;
    if (wasArmed != Armed())
        FPeer->TimerChanged(*this);
    if (!wasRunning && Running() && FTriggered)
        FPeer->TickSoon(*this);
}

void TTimer::Tick()
{
    if (!Running())
        return;
    FTriggered = false;
    FOnTimer(this);
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
