// Taking, stepping and giving back units in this process, with quillmark-sim units arriving
// and leaving while the test plays the front end.

#include "SessionFixture.h"

#include <stdexcept>

using namespace apptest;
using ::testing::ElementsAre;

namespace {

using SessionController = SessionTest;

bool Released(const app::TForm1& form)
{
    return form.State() == app::stFinished && !form.HoldsUnit();
}

TEST_F(SessionController, FirstArrivingUnitRunsASessionAndItsRemovalReturnsToIdle)
{
    EXPECT_THAT(Messages(), ElementsAre("  device change."));
    EXPECT_EQ(FForm->State(), app::stInit);
    EXPECT_FALSE(FForm->Timer1->Enabled());
    EXPECT_TRUE(FForm->File1->Enabled() && FForm->Info1->Enabled());
    EXPECT_EQ(FForm->Label1->Caption(), app::CradleText);

    FOnBox = [](const TBox&) { return BoxCancel; };
    Place({"--product", "Quillmark \u2460"});
    ASSERT_TRUE(RunUntil([&] { return Released(*FForm); }));
    const auto messages = Messages();
    EXPECT_THAT(StateLines(messages), ElementsAre("2", "3", "5", "99"));
    EXPECT_THAT(WithoutStateLines(messages),
                ElementsAre("  Connect device : Quillmark \x87\x40", ">>VER",
                            "<<4F,4B,20,31,2E,30,2E,30,35,0D,0A-OK 1.0.05", "  " + VersionText + "1.0.05",
                            "  " + FirmwareTypeText + "2", ">>GSER", ::testing::StartsWith("<<4F,4B,20,50,32,33")));
    EXPECT_FALSE(FForm->File1->Enabled() || FForm->Info1->Enabled());
    EXPECT_FALSE(FForm->HoldsUnit());

    FSim->Stop();
    ASSERT_TRUE(RunUntil([&] { return FForm->State() == app::stIdle && Messages().back() == "  1 status"; }));
    EXPECT_EQ(FForm->Label1->Caption(), app::CradleText);
    EXPECT_TRUE(FForm->File1->Enabled() && FForm->Info1->Enabled());
    EXPECT_TRUE(FForm->Timer1->Running());
    // Nothing left for a step to do: the platform timer rests until the next device change.
    EXPECT_FALSE(FForm->Timer1->Armed());
}

TEST_F(SessionController, ReportsAndDeviceChangesMakeAStepDueOnlyWhileTheTimerIsEnabled)
{
    Begin(app::stVersionWait);
    Feed("OK 1\r\n");
    FForm->HidCtrl1DeviceChange(nullptr);
    EXPECT_FALSE(FForm->Timer1->DueAt());

    FForm->Timer1->SetEnabled(true);
    FForm->Timer1->SetIdle(true);
    Begin(app::stVersionWait);
    Feed("OK 1\r\n");
    EXPECT_TRUE(FForm->Timer1->DueAt());
}

TEST_F(SessionController, PlatformTimerIsArmedExactlyWhileAStepCanHaveAnEffect)
{
    FForm->Timer1->SetEnabled(true);
    for (const std::int32_t state :
         {app::stVersionWait, app::stUploadWait, app::stSerialInfoWait, app::stSerialWriteWait}) {
        Begin(state);
        Step();
        EXPECT_TRUE(FForm->Timer1->Armed()) << state;
    }
    // State 99 gives the unit back in its first step; the next has nothing left to do.
    Begin(app::stFinished);
    Step();
    EXPECT_FALSE(FForm->Timer1->Armed());

    // No unit at the device change: state 1, whose line and menus are still to come.
    FForm->HidCtrl1DeviceChange(nullptr);
    EXPECT_EQ(FForm->State(), app::stIdle);
    EXPECT_TRUE(FForm->Timer1->Armed());
    Step();
    EXPECT_EQ(Messages().back(), "  1 status");
    EXPECT_TRUE(FForm->File1->Enabled());
    EXPECT_FALSE(FForm->Timer1->Armed());
}

TEST_F(SessionController, ADeviceChangeWhileTheUnitIsHeldLeavesItsSessionGoingOn)
{
    Place({"--script",
           WriteFile("held.script", "expect VER\nawait changed\nsend OK 1.0.05\\r\\n\nexpect GSER\nawait done\n")});
    ASSERT_TRUE(RunUntil([&] { return Logged("  3 status"); }));
    // As another unit placed or taken out would.
    FForm->HidCtrl1DeviceChange(nullptr);
    Touch(FUnits.Path() + "/changed");
    ASSERT_TRUE(RunUntil([&] { return Logged(">>GSER"); }));
    const auto messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "  Connect device : Quillmark"), 1);
    Touch(FUnits.Path() + "/done");
}

TEST_F(SessionController, UnitRemovedWhileAwaitingVersionStopsTheTimerAndANewUnitStartsAfresh)
{
    // The unit goes on at each point the test has seen: the tool ticking in state 3, the
    // removal handled, the new session finished.
    Place({"--script",
           WriteFile("removed.script",
                     "expect VER\nawait waiting\nunplug\nawait handled\nplug\nexpect VER\n"
                     "send NG\\r\\n\nawait finished\n")});
    ASSERT_TRUE(RunUntil([&] { return Logged("  3 status"); }));
    Touch(FUnits.Path() + "/waiting");
    ASSERT_TRUE(RunUntil([&] { return Logged("  Disconnect device."); }));
    const auto messages = Messages();
    EXPECT_THAT(std::vector<std::string>(messages.end() - 2, messages.end()),
                ElementsAre("  device change.", "  Disconnect device."));
    EXPECT_EQ(FForm->State(), app::stVersionWait);
    EXPECT_FALSE(FForm->Timer1->Enabled() || FForm->Timer1->Running());
    EXPECT_FALSE(FForm->HoldsUnit());
    EXPECT_FALSE(FForm->File1->Enabled());
    Touch(FUnits.Path() + "/handled");

    ASSERT_TRUE(RunUntil([&] { return Released(*FForm); }));
    Touch(FUnits.Path() + "/finished");
    const auto again = Messages();
    ASSERT_GE(again.size(), 2u);
    EXPECT_EQ(again[0], "  Connect device : Quillmark");
    EXPECT_EQ(again[1], "  2 status");
    EXPECT_THAT(StateLines(again), ElementsAre("2", "3", "99"));
    EXPECT_THAT(WithoutStateLines(again), ElementsAre("  Connect device : Quillmark", ">>VER", "<<4E,47,0D,0A-NG"));
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

TEST_F(SessionController, UnitPlacedInTheChangeThatTakesTheHeldOneOutIsTakenAtOnce)
{
    // Nothing is pumped between the removal and the placement, so one rescan sees both.
    Place({"--script", WriteFile("first.script", "expect VER\nsleep 20000\n")});
    ASSERT_TRUE(RunUntil([&] { return FForm->State() == app::stVersionWait; }));
    FSim->Stop();
    Place({"--script", WriteFile("second.script", "expect VER\nsend NG\\r\\n\nsleep 20000\n")});
    ASSERT_TRUE(RunUntil([&] { return Released(*FForm); })) << ::testing::PrintToString(Messages());
    auto messages = WithoutStateLines(Messages());
    // The placement's own broadcasts may still bring changes that take nothing.
    std::erase(messages, "  device change.");
    EXPECT_THAT(messages, ElementsAre("  Connect device : Quillmark", ">>VER", "<<4E,47,0D,0A-NG"));
}

TEST_F(SessionController, RemovalAndNewUnitBetweenTwoTicksGiveOneStateLine)
{
    // The unit is taken out once the tool has given it back, and placed again once the
    // removal is handled.
    Place({"--script",
           WriteFile("again.script",
                     "expect VER\nsend NG\\r\\n\nawait released\nunplug\n"
                     "await idle\nplug\nexpect VER\n")});
    ASSERT_TRUE(RunUntil([&] { return Released(*FForm); }));
    Touch(FUnits.Path() + "/released");
    // No tick from here on: states 1 and 2 follow each other unseen by the timer.
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FForm->State() == app::stIdle; }));
    Touch(FUnits.Path() + "/idle");
    ASSERT_TRUE(PumpMainThreadUntil([&] { return FForm->State() == app::stStartRead; }));
    EXPECT_EQ(FForm->Label1->Caption(), app::CradleText);
    FForm->Timer1->Tick();
    EXPECT_THAT(Messages(), ElementsAre("  Connect device : Quillmark", "  2 status", ">>VER"));
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

TEST_F(SessionController, ConfirmationBoxDetachesTheTimerWhileReportsAreStillStored)
{
    // The late report comes once the box is open.
    Place({"--script",
           WriteFile("box.script",
                     "expect VER\nsend OK 1.0.05\\r\\n\nexpect GSER\n"
                     "send OK P1\\r\\n\nawait box\nsend NG late\\r\\n\n"
                     "expect UPLS RGINFO.INI\n")});
    bool running = true;
    bool stored = false;
    FOnBox = [&](const TBox&) {
        running = FForm->Timer1->Running();
        Touch(FUnits.Path() + "/box");
        // A modal box goes on dispatching, so the reader's hand-over still reaches the window.
        stored = PumpMainThreadUntil([&] { return Logged("<<4E,47,20,6C,61,74,65,0D,0A-NG late"); });
        return BoxOk;
    };
    ASSERT_TRUE(RunUntil([&] { return FForm->State() == app::stUploadWait; }));
    EXPECT_FALSE(running);
    EXPECT_TRUE(stored);
    EXPECT_TRUE(FForm->Timer1->Running());
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

TEST_F(SessionController, ExceptionLeavingAStepStillReattachesTheTickHandler)
{
    FForm->Timer1->SetEnabled(true);
    Begin(app::stSerialInfoWait);
    Feed("OK P1\r\n");
    FOnBox = [](const TBox&) -> int { throw std::runtime_error("box failed"); };
    EXPECT_THROW(FForm->Timer1->Tick(), std::runtime_error);
    EXPECT_TRUE(FForm->Timer1->Running());
}

} // namespace
