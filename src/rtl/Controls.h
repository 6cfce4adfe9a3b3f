#pragma once

#include "AnsiString.h"
#include "Component.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace rtl {

// Plain models of the window's controls. Each holds its state and tells an optional peer,
// which a front end attaches, when that state changes. Texts are code page 932.

class TLabel;
class TMemo;
class TTimer;
class TMenuItem;

class TLabelPeer {
public:
    virtual ~TLabelPeer() = default;
    virtual void CaptionChanged(TLabel& label) = 0;
};

class TLabel : public TComponent {
public:
    using TComponent::TComponent;
    const AnsiString& Caption() const { return FCaption; }
    void SetCaption(const AnsiString& caption);
    void SetPeer(TLabelPeer* peer) { FPeer = peer; }

private:
    AnsiString FCaption;
    TLabelPeer* FPeer = nullptr;
};

class TMemoPeer {
public:
    virtual ~TMemoPeer() = default;
    virtual void LineAdded(TMemo&, const AnsiString&) {}
    virtual void Cleared(TMemo&) {}
    // The oldest lines went to keep the memo within its limit.
    virtual void FirstLinesRemoved(TMemo&, std::size_t) {}
    // After every change, or once at the end of an update that grouped several.
    virtual void LinesChanged(TMemo&) {}
};

class TMemo : public TComponent {
public:
    using TComponent::TComponent;
    const std::vector<AnsiString>& Lines() const { return FLines; }
    void Clear();
    // Beyond the limit, each new line pushes out the oldest one.
    void Add(const AnsiString& line);
    void SetMaxLines(std::size_t maxLines) { FMaxLines = maxLines; }
    std::size_t MaxLines() const { return FMaxLines; }
    // Groups changes, so that a peer sees a rewrite as one change.
    void BeginUpdate() { ++FUpdating; }
    void EndUpdate();
    void SetPeer(TMemoPeer* peer) { FPeer = peer; }

private:
    void Changed();

    std::vector<AnsiString> FLines;
    std::size_t FMaxLines = SIZE_MAX;
    int FUpdating = 0;
    TMemoPeer* FPeer = nullptr;
};

class TTimerPeer {
public:
    virtual ~TTimerPeer() = default;
    // The time its next tick is due (DueAt) may have changed: set the platform timer to wake
    // then, or stop it.
    virtual void TimerChanged(TTimer& timer) = 0;
};

// The timer runs exactly while it is enabled, has an interval and has a tick handler:
// detaching the handler stops it and attaching it again re-arms it. Its ticks come as a
// timer message would: at most once per interval, the first no sooner than one interval
// after it started to run (a re-attach included), and only when the front end's loop has
// nothing else waiting, which the front end sees to. While its owner declares it idle
// (nothing for a tick to do until something happens) no tick is due, unless Trigger()
// asked for one.
class TTimer : public TComponent {
public:
    using Clock = std::chrono::steady_clock;

    using TComponent::TComponent;
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return FInterval; }
    void SetInterval(unsigned interval);
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent handler);
    bool Running() const { return FEnabled && FInterval > 0 && FOnTimer; }
    bool Armed() const { return Running() && !FIdle; }
    void SetIdle(bool idle);
    // One tick as soon as the interval allows, while enabled; asked while the handler is
    // detached, it comes once the handler is attached again.
    void Trigger();
    // When the next tick is due; none while it is not running, or idle and not triggered.
    std::optional<Clock::time_point> DueAt() const;
    // The front end calls this when its loop has nothing else waiting: runs the tick if one
    // is due by now. True when it ran.
    bool TickIfDue(Clock::time_point now = Clock::now());
    // Runs a tick now, due or not, if the timer is running.
    void Tick();
    void SetPeer(TTimerPeer* peer) { FPeer = peer; }

private:
    void TickAt(Clock::time_point now);
    // Tells the peer when the due time moved; a timer that starts to run waits one interval.
    void Changed(std::optional<Clock::time_point> dueBefore, bool wasRunning);
    Clock::duration Period() const { return std::chrono::milliseconds(FInterval); }

    bool FEnabled = true;
    bool FIdle = false;
    bool FTriggered = false;
    unsigned FInterval = 1000;
    int FTag = 0;
    Clock::time_point FNotBefore{};
    TNotifyEvent FOnTimer;
    TTimerPeer* FPeer = nullptr;
};

class TMenuItemPeer {
public:
    virtual ~TMenuItemPeer() = default;
    virtual void EnabledChanged(TMenuItem& item) = 0;
};

class TMenuItem : public TComponent {
public:
    TMenuItem(TComponent* owner, AnsiString caption) : TComponent(owner), FCaption(std::move(caption)) {}
    const AnsiString& Caption() const { return FCaption; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    const TNotifyEvent& OnClick() const { return FOnClick; }
    void SetOnClick(TNotifyEvent handler) { FOnClick = handler; }
    // A disabled item cannot be chosen.
    void Click();
    // Items of a drop-down menu; the item owns them.
    TMenuItem* Add(std::unique_ptr<TMenuItem> item);
    const std::vector<std::unique_ptr<TMenuItem>>& Items() const { return FItems; }
    void SetPeer(TMenuItemPeer* peer) { FPeer = peer; }

private:
    AnsiString FCaption;
    bool FEnabled = true;
    TNotifyEvent FOnClick;
    std::vector<std::unique_ptr<TMenuItem>> FItems;
    TMenuItemPeer* FPeer = nullptr;
};

class TMainMenu : public TComponent {
public:
    using TComponent::TComponent;
    TMenuItem* Add(std::unique_ptr<TMenuItem> item);
    const std::vector<std::unique_ptr<TMenuItem>>& Items() const { return FItems; }

private:
    std::vector<std::unique_ptr<TMenuItem>> FItems;
};

class TSpeedButton : public TComponent {
public:
    using TComponent::TComponent;
    const AnsiString& Caption() const { return FCaption; }
    void SetCaption(const AnsiString& caption) { FCaption = caption; }
    void SetOnClick(TNotifyEvent handler) { FOnClick = handler; }
    void Click();

private:
    AnsiString FCaption;
    TNotifyEvent FOnClick;
};

// Where a control sits on its window, in client pixels at 96 dpi.
struct TBounds {
    int Left, Top, Width, Height;
};

} // namespace rtl
