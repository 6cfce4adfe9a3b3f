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
    const bool wasRunning = Running();
    FEnabled = enabled;
    Update(wasRunning);
}

void TTimer::SetInterval(unsigned interval)
{
    const bool wasRunning = Running();
    const bool changed = interval != FInterval;
    FInterval = interval;
    if (changed && FPeer && Running())
        FPeer->TimerChanged(*this);
    else
        Update(wasRunning);
}

void TTimer::SetOnTimer(TNotifyEvent handler)
{
    const bool wasRunning = Running();
    FOnTimer = handler;
    Update(wasRunning);
}

void TTimer::Update(bool wasRunning)
{
    if (FPeer && wasRunning != Running())
        FPeer->TimerChanged(*this);
}

void TTimer::Tick()
{
    if (Running())
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
