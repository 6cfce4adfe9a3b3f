#pragma once

#include "AnsiString.h"
#include "Component.h"

#include <memory>
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
    // After every change, or once at the end of an update that grouped several.
    virtual void LinesChanged(TMemo&) {}
};

class TMemo : public TComponent {
public:
    using TComponent::TComponent;
    const std::vector<AnsiString>& Lines() const { return FLines; }
    void Clear();
    void Add(const AnsiString& line);
    // Groups changes, so that a peer sees a rewrite as one change.
    void BeginUpdate() { ++FUpdating; }
    void EndUpdate();
    void SetPeer(TMemoPeer* peer) { FPeer = peer; }

private:
    void Changed();

    std::vector<AnsiString> FLines;
    int FUpdating = 0;
    TMemoPeer* FPeer = nullptr;
};

class TTimerPeer {
public:
    virtual ~TTimerPeer() = default;
    // Running() or the interval changed: start, restart or stop the platform timer.
    virtual void TimerChanged(TTimer& timer) = 0;
};

// The platform timer runs exactly while the timer is enabled, has an interval and has a
// tick handler: detaching the handler stops it and attaching it again re-arms it.
class TTimer : public TComponent {
public:
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
    // The front end calls this when its platform timer fires.
    void Tick();
    void SetPeer(TTimerPeer* peer) { FPeer = peer; }

private:
    void Update(bool wasRunning);

    bool FEnabled = true;
    unsigned FInterval = 1000;
    int FTag = 0;
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
