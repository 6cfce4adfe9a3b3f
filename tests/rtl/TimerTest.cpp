// The timer's rule: its platform timer runs exactly while it is enabled, has an interval and
// has a tick handler, and its peer hears of every start, stop and restart.

#include "rtl/Controls.h"

#include <gtest/gtest.h>

namespace {

struct TPeer : rtl::TTimerPeer {
    void TimerChanged(rtl::TTimer& timer) override { Seen.push_back(timer.Armed()); }
    void TickSoon(rtl::TTimer&) override { ++TicksAsked; }
    std::vector<bool> Seen;
    int TicksAsked = 0;
};

struct TTarget {
    void Tick(rtl::TObject*) { ++Ticks; }
    int Ticks = 0;
};

TEST(Timer, DetachingTheHandlerStopsItAndAttachingRearmsItOnlyWhileEnabled)
{
    rtl::TTimer timer(nullptr);
    TPeer peer;
    TTarget target;
    const auto handler = rtl::TNotifyEvent::Of<&TTarget::Tick>(&target);
    timer.SetPeer(&peer);
    timer.SetInterval(1);
    EXPECT_FALSE(timer.Running());

    timer.SetOnTimer(handler);
    EXPECT_TRUE(timer.Running());
    timer.SetOnTimer({});
    EXPECT_FALSE(timer.Running());
    timer.Tick();
    EXPECT_EQ(target.Ticks, 0);
    timer.SetOnTimer(handler);
    timer.Tick();
    EXPECT_EQ(target.Ticks, 1);
    EXPECT_EQ(peer.Seen, (std::vector<bool>{true, false, true}));

    timer.SetEnabled(false);
    timer.SetOnTimer({});
    timer.SetOnTimer(handler);
    EXPECT_FALSE(timer.Running());
    timer.Tick();
    EXPECT_EQ(target.Ticks, 1);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Running());
    EXPECT_EQ(peer.Seen, (std::vector<bool>{true, false, true, false, true}));
}

TEST(Timer, IntervalZeroStopsItAndANewIntervalRestartsARunningTimer)
{
    rtl::TTimer timer(nullptr);
    TPeer peer;
    TTarget target;
    timer.SetOnTimer(rtl::TNotifyEvent::Of<&TTarget::Tick>(&target));
    timer.SetPeer(&peer);
    timer.SetInterval(5);
    timer.SetInterval(5);
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Running());
    timer.SetInterval(1);
    EXPECT_EQ(timer.Interval(), 1u);
    EXPECT_EQ(peer.Seen, (std::vector<bool>{true, false, true}));
}

TEST(Timer, AnIdleTimerRunsWithoutItsPlatformTimerAndATriggerAsksForOneTickWhileEnabled)
{
    rtl::TTimer timer(nullptr);
    TPeer peer;
    TTarget target;
    const auto handler = rtl::TNotifyEvent::Of<&TTarget::Tick>(&target);
    timer.SetInterval(1);
    timer.SetOnTimer(handler);
    timer.SetPeer(&peer);

    timer.SetIdle(true);
    EXPECT_TRUE(timer.Running());
    EXPECT_FALSE(timer.Armed());
    timer.Trigger();
    EXPECT_EQ(peer.TicksAsked, 1);
    timer.Tick();
    EXPECT_EQ(target.Ticks, 1);
    timer.SetIdle(false);
    EXPECT_EQ(peer.Seen, (std::vector<bool>{false, true}));

    // Asked while the handler is detached (a step is running), the tick comes on re-attach.
    timer.SetOnTimer({});
    timer.Trigger();
    EXPECT_EQ(peer.TicksAsked, 1);
    timer.SetOnTimer(handler);
    EXPECT_EQ(peer.TicksAsked, 2);
    timer.Tick();
    timer.SetOnTimer({});
    timer.SetOnTimer(handler);
    EXPECT_EQ(peer.TicksAsked, 2);

    // Never while disabled, and an ask from before the disabling is dropped.
    timer.SetOnTimer({});
    timer.Trigger();
    timer.SetEnabled(false);
    timer.Trigger();
    timer.SetOnTimer(handler);
    timer.SetEnabled(true);
    EXPECT_EQ(peer.TicksAsked, 2);
}

} // namespace
