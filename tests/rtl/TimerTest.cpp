// The timer's rules: it runs exactly while it is enabled, has an interval and has a tick
// handler; its ticks come as a timer message's would, at most once per interval and never
// sooner than one interval after it started to run; and its peer hears of every move of the
// due time.

#include "rtl/Controls.h"

#include <gtest/gtest.h>

namespace {

using Clock = rtl::TTimer::Clock;
using std::chrono::milliseconds;

struct TPeer : rtl::TTimerPeer {
    void TimerChanged(rtl::TTimer& timer) override { Seen.push_back(timer.DueAt().has_value()); }
    std::vector<bool> Seen;
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

    timer.SetEnabled(false);
    timer.SetOnTimer({});
    timer.SetOnTimer(handler);
    EXPECT_FALSE(timer.Running());
    EXPECT_FALSE(timer.DueAt());
    timer.Tick();
    EXPECT_EQ(target.Ticks, 1);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Running());
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Running());
    // Due, stopped, due (the tick moved it), stopped, due, stopped by interval 0.
    EXPECT_EQ(peer.Seen, (std::vector<bool>{true, false, true, true, false, true, false}));
}

TEST(Timer, TicksComeAtMostOncePerIntervalAndNoSoonerThanOneIntervalAfterARestart)
{
    rtl::TTimer timer(nullptr);
    TTarget target;
    const auto handler = rtl::TNotifyEvent::Of<&TTarget::Tick>(&target);
    timer.SetInterval(5);
    const Clock::time_point attached = Clock::now();
    timer.SetOnTimer(handler);
    ASSERT_TRUE(timer.DueAt());
    EXPECT_GE(*timer.DueAt(), attached + milliseconds(5));

    const Clock::time_point due = *timer.DueAt();
    EXPECT_FALSE(timer.TickIfDue(due - std::chrono::nanoseconds(1)));
    EXPECT_EQ(target.Ticks, 0);
    EXPECT_TRUE(timer.TickIfDue(due));
    EXPECT_EQ(target.Ticks, 1);
    // Armed, the next one is one interval after this tick, not at once.
    ASSERT_TRUE(timer.DueAt());
    EXPECT_GE(*timer.DueAt(), due + milliseconds(5));
    EXPECT_FALSE(timer.TickIfDue(due));

    // A trigger asks for the next allowed tick, not for one sooner.
    const Clock::time_point next = *timer.DueAt();
    timer.Trigger();
    EXPECT_EQ(timer.DueAt(), next);

    // A re-attach (the end of a step that showed a box) starts a new interval.
    timer.SetOnTimer({});
    const Clock::time_point reattached = Clock::now();
    timer.SetOnTimer(handler);
    EXPECT_GE(*timer.DueAt(), reattached + milliseconds(5));
}

TEST(Timer, AnIdleTimerIsDueOnlyWhenTriggeredAndATriggerIsKeptAcrossADetachButNotADisable)
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
    EXPECT_FALSE(timer.DueAt());
    timer.Trigger();
    ASSERT_TRUE(timer.DueAt());
    EXPECT_TRUE(timer.TickIfDue(*timer.DueAt()));
    EXPECT_EQ(target.Ticks, 1);
    // One tick per trigger: idle again afterwards.
    EXPECT_FALSE(timer.DueAt());
    EXPECT_EQ(peer.Seen, (std::vector<bool>{false, true, false}));

    // Asked while the handler is detached (a step is running), the tick comes after re-attach.
    timer.SetOnTimer({});
    timer.Trigger();
    EXPECT_FALSE(timer.DueAt());
    timer.SetOnTimer(handler);
    EXPECT_TRUE(timer.DueAt());
    timer.Tick();
    timer.SetOnTimer({});
    timer.SetOnTimer(handler);
    EXPECT_FALSE(timer.DueAt());

    // Never while disabled, and an ask from before the disabling is dropped.
    timer.SetOnTimer({});
    timer.Trigger();
    timer.SetEnabled(false);
    timer.Trigger();
    timer.SetOnTimer(handler);
    timer.SetEnabled(true);
    EXPECT_FALSE(timer.DueAt());
}

} // namespace
