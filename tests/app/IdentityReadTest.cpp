// The version and serial block read, the confirmations and the serial write.

#include "SessionFixture.h"

using namespace apptest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using IdentityRead = SessionTest;

const std::string SerialBlock = "OK P2301A000417 B2210C000388 QM0000012345\r\n";
const std::string Items = "ser S1\npcb P1\nbat B1\n";

TEST_F(IdentityRead, VersionAnswerGivesVersionAndTypeByItsLength)
{
    const struct {
        std::string Answer, Version;
        int Type;
    } cases[] = {
        {"OK abc\r\n", "abc", 1},
        {"OK abcdef\r\n", "abcdef", 2},
        {"OK abcd\r\n", "abcd", 0},
        {"OK abcde\r\n", "abcde", 0},
        {"OK\r\n", "OK", 0},
        {"v2 OK 1OK 23\r\n", "v2 123", 2},
        {"OK 1.0.05b\r\n", "1.0.05b", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Answer);
        Begin(app::stStartRead);
        Step();
        EXPECT_EQ(Messages().back(), ">>VER");
        EXPECT_EQ(FForm->Label1->Caption(), "Reading data.");
        EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW : ", "SER : "));
        Feed(c.Answer);
        const std::size_t before = Messages().size();
        Step();
        EXPECT_THAT(MessagesSince(before),
                    ElementsAre("  3 status", "  " + VersionText + c.Version,
                                "  " + FirmwareTypeText + std::to_string(c.Type), ">>GSER"));
        EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW : " + c.Version, "SER : "));
        EXPECT_EQ(FForm->State(), app::stSerialInfoWait);
    }
}

TEST_F(IdentityRead, VersionAnswerWithoutOkEndsTheSessionWithoutGser)
{
    Begin(app::stStartRead);
    Step();
    Feed("NG\r\n");
    const std::size_t before = Messages().size();
    Step();
    Step();
    EXPECT_THAT(MessagesSince(before), ElementsAre("  3 status", "  99 status"));
    EXPECT_EQ(FForm->State(), app::stFinished);
    // The unit is given back: nothing is left for a step to do.
    EXPECT_FALSE(FForm->StepCanHaveEffect());
}

TEST_F(IdentityRead, SerialBlockColumnsAreCutAfterRemovingEveryOkSpaceAndTrimmed)
{
    const struct {
        std::string Answer, Pcb, Bat, Ser;
    } cases[] = {
        {SerialBlock, "P2301A000417", "B2210C000388", "QM0000012345"},
        {"OK P2301A000417 B22 10C\r\n", "P2301A000417", "B22 10C", ""},
        {"OK   P1  \x01     |\tB1         |  S 1       tail\r\n", "P1", "B1", "S 1"},
        {"OK P2301A000417OK B2210C000388 QM0000012345\r\n", "P2301A000417", "2210C000388", "M0000012345"},
        {"OK\r\n", "OK", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Answer);
        const std::size_t boxes = FBoxes.size();
        ReadIdentity("1.0.05", c.Answer);
        EXPECT_TRUE(FForm->Outcome().IdentityRead);
        EXPECT_EQ(FForm->Outcome().Pcb, c.Pcb);
        EXPECT_EQ(FForm->Outcome().Bat, c.Bat);
        EXPECT_EQ(FForm->Outcome().Ser, c.Ser);
        EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW : 1.0.05", "SER : " + c.Ser));
        EXPECT_EQ(FForm->Label1->Caption(), "Read end.");
        ASSERT_EQ(FBoxes.size(), boxes + 1);
        EXPECT_EQ(FBoxes.back().Text, "Get GSER response.\r\nIs read RGINFO.INI?");
        EXPECT_EQ(FBoxes.back().Caption, "Confirmation");
        EXPECT_EQ(FBoxes.back().Flags, 33u);
        EXPECT_EQ(Messages().back(), ">>UPLS RGINFO.INI");
        EXPECT_EQ(FForm->State(), app::stUploadWait);
    }
}

TEST_F(IdentityRead, SerialBlockNotStartingWithOkIsIgnoredUntilOneDoes)
{
    Begin(app::stSerialInfoWait);
    Step();
    for (const char* answer : {"NG\r\n", " OK x\r\n", "xOK P1\r\n"}) {
        Feed(answer);
        const std::size_t before = Messages().size();
        Step();
        EXPECT_THAT(MessagesSince(before), IsEmpty()) << answer;
    }
    EXPECT_EQ(FForm->State(), app::stSerialInfoWait);
    EXPECT_THAT(FBoxes, IsEmpty());
    EXPECT_EQ(FForm->Label1->Caption(), app::CradleText);
    Answer(SerialBlock);
    EXPECT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FForm->State(), app::stUploadWait);
}

TEST_F(IdentityRead, CancelAtEitherConfirmationFinishesWithReadEndShown)
{
    FOnBox = [](const TBox&) { return BoxCancel; };
    Begin(app::stSerialInfoWait);
    Answer(SerialBlock);
    EXPECT_EQ(FForm->State(), app::stFinished);
    EXPECT_NE(Messages().back(), ">>UPLS RGINFO.INI");

    FOnBox = [](const TBox& box) { return box.Text == "Is a Serial write in?" ? BoxCancel : BoxOk; };
    ReadIdentity("1.0.05", SerialBlock);
    Upload(Items);
    EXPECT_EQ(FForm->State(), app::stFinished);
    EXPECT_THAT(MessagesSince(Messages().size() - 2),
                ElementsAre(::testing::StartsWith("  Verify : OK."), "<<Upload : Done"));
    ASSERT_EQ(FBoxes.size(), 3u);
    EXPECT_EQ(FBoxes[2].Text, "Is a Serial write in?");
    EXPECT_EQ(FBoxes[2].Caption, "Confirmation");
    EXPECT_EQ(FBoxes[2].Flags, 33u);
    Step();
    EXPECT_EQ(FForm->Label1->Caption(), "Read end.");
}

TEST_F(IdentityRead, SerialFieldsAreFilledWithZerosToTwelveAndNeverCut)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "000000000000"},
        {"12345", "123450000000"},
        {"ABCDEFGHIJKL", "ABCDEFGHIJKL"},
        {"ABCDEFGHIJKLM", "ABCDEFGHIJKLM"},
        {"S 1 ", "S 1 00000000"},
    };
    for (const auto& [value, padded] : cases)
        EXPECT_EQ(app::PadSerialField(value), padded) << value;
}

TEST_F(IdentityRead, SerialWriteFramesPcbBatSerialFilledFailsWhenNotSentAndSkipsTypeOneUnits)
{
    ReadIdentity("1.0.05", SerialBlock);
    Upload("pcb P1\nbat B234567890123\nser S 1 \n");
    const std::string command = "SSER P10000000000 B234567890123 S 1 00000000";
    EXPECT_EQ(Framed(command.size() + 1), command + '\0');
    EXPECT_EQ(Messages().back(), ">>" + command);
    // The display keeps the number as the file gave it.
    EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW : 1.0.05", "SER : S 1 "));
    // No unit is held, so nothing went out: no answer is awaited.
    EXPECT_EQ(FForm->State(), app::stFinished);
    EXPECT_EQ(FForm->Label1->Caption(), "Serial write failed.");
    ASSERT_NE(FForm->Outcome().Failure, nullptr);
    EXPECT_STREQ(FForm->Outcome().Failure, "serial-write-failed");

    ReadIdentity("1.0", SerialBlock);
    const std::size_t boxes = FBoxes.size();
    Upload(Items);
    EXPECT_EQ(FForm->State(), app::stFinished);
    EXPECT_EQ(FBoxes.size(), boxes);
    EXPECT_EQ(Messages().back(), "<<Upload : Done");
}

TEST_F(IdentityRead, SerialWriteWithAnAbsentOrEmptyNumberIsNotSent)
{
    const std::pair<std::string, std::string> cases[] = {
        // Three item lines, one item twice and one absent.
        {"pcb", "ser S1\nser S2\nbat B1\n"},
        {"bat", "ser S1\nser S2\npcb P1\n"},
        {"ser", "pcb P1\npcb P2\nbat B1\n"},
        // The key and its space alone.
        {"bat", "ser S1\npcb P1\nbat \n"},
        {"ser", "ser \r\npcb P1\r\nbat B1\r\n"},
    };
    for (const auto& [absent, file] : cases) {
        SCOPED_TRACE(file);
        ReadIdentity("1.0.05", SerialBlock);
        Upload(file);
        EXPECT_EQ(Messages().back(), "  Error : Item missing or empty, serial not written. item:" + absent);
        EXPECT_EQ(FForm->State(), app::stFinished);
        EXPECT_EQ(FForm->Label1->Caption(), "Serial write failed.");
        ASSERT_NE(FForm->Outcome().Failure, nullptr);
        EXPECT_STREQ(FForm->Outcome().Failure, "serial-write-failed");
    }
}

TEST_F(IdentityRead, SerialWriteAnswerWithOkEndsAndWithOnlyNgIsLoggedAndAwaited)
{
    const struct {
        std::string Answer;
        std::int32_t State;
        std::vector<std::string> Logged;
    } cases[] = {
        {"NG\r\n", app::stSerialWriteWait, {"  retry. serialres"}},
        {"neither\n", app::stSerialWriteWait, {}},
        {"NG OK\r\n", app::stFinished, {}},
    };
    Begin(app::stSerialWriteWait);
    Step();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Answer);
        EXPECT_EQ(FForm->Label1->Caption(), app::CradleText);
        Feed(c.Answer);
        const std::size_t before = Messages().size();
        Step();
        EXPECT_EQ(MessagesSince(before), c.Logged);
        EXPECT_EQ(FForm->State(), c.State);
    }
    EXPECT_EQ(FForm->Label1->Caption(), "Serial write end.");
}

} // namespace
