// Framing commands, cutting responses, the 32-bit fields and the log line format.

#include "SessionFixture.h"

#include "rtl/TimeStamp.h"

#include <regex>

using namespace apptest;
using ::testing::ElementsAre;

namespace {

using CommandChannel = SessionTest;

struct TResponseCase {
    const char* Behaviour;
    std::string Data;
    std::string Response;
    std::string Logged;
};

TEST_F(CommandChannel, ResponsesAreCutAfterTheFirstTerminatorOfTheirClass)
{
    const std::string zeros(20, '\0');
    const TResponseCase cases[] = {
        {"worked example", "OK 1\r\n" + zeros, "OK 1", "<<4F,4B,20,31,0D,0A-OK 1"},
        {"NG is class 1", "NG\r\nrest", "NG", "<<4E,47,0D,0A-NG"},
        {"OK in the middle", "xOK\r\ny", "xOK", "<<78,4F,4B,0D,0A-xOK"},
        {"NG with filecmd is class 1", "filecmd\nNG\r\n", "filecmd\nNG",
         "<<66,69,6C,65,63,6D,64,0A,4E,47,0D,0A-filecmd_NG"},
        {"filecmd ends at its line feed", "filecmd 1\nz\r\n", "filecmd 1", "<<66,69,6C,65,63,6D,64,20,31,0A-filecmd 1"},
        {"act_finfo", "act_finfo\n\n", "act_finfo", "<<61,63,74,5F,66,69,6E,66,6F,0A-act_finfo"},
        {"--boot", "--boot\n", "--boot", "<<2D,2D,62,6F,6F,74,0A---boot"},
        {"terminator before the keyword", "a\r\nbOK", "a", "<<61,0D,0A-a"},
        {"keyword without terminator loses two bytes", "OK 12", "OK ", "<<4F,4B,20,31,32-OK"},
        {"no keyword keeps everything", std::string("DATA\x01\0", 6), std::string("DATA\x01\0", 6),
         "<<44,41,54,41,01,00-DATA__"},
        {"bytes outside 32 to 126 print as _", "OK \x7f\x80\xff\t\r\n", "OK \x7f\x80\xff\t",
         "<<4F,4B,20,7F,80,FF,09,0D,0A-OK ____"},
        {"empty report", "", "", "<<-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        Begin(app::stVersionWait);
        Feed(c.Data);
        EXPECT_EQ(Messages().back(), c.Logged);
        // The version step takes the stored response; an OK one becomes the version shown.
        Step();
        EXPECT_NE(FForm->State(), app::stVersionWait);
        if (c.Response.find("OK") != std::string::npos) {
            std::string version = c.Response;
            for (std::size_t at = version.find("OK "); at != std::string::npos; at = version.find("OK ", at))
                version.erase(at, 3);
            EXPECT_THAT(FForm->Memo2->Lines(), ElementsAre(" FW : " + version, "SER : "));
        }
    }
}

TEST_F(CommandChannel, FileinfoIsSentAsFinsWithAtMost46NameCharacters)
{
    const std::string longName(50, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"fileinfo RGINFO.INI", ">>FINS RGINFO.INI"},
        {"FileInfoX", ">>FINSX"},
        {"FILEINFO " + longName, ">>FINS " + longName.substr(0, 45)},
        {"FILEINFO", ">>Error : Filename is not specified."},
        {"ver", ">>ver"},
        {"FILEINF x", ">>FILEINF x"},
    };
    for (const auto& [command, logged] : cases) {
        SCOPED_TRACE(command);
        const std::size_t before = Messages().size();
        FForm->SendCommand(command);
        EXPECT_THAT(MessagesSince(before), ElementsAre(logged));
        EXPECT_EQ(FForm->TestFramedReport()[0], '\0');
    }
    EXPECT_EQ(Framed(50), "FILEINF x" + std::string(41, '\0'));
}

TEST_F(CommandChannel, ThirtyTwoBitFieldsAreLittleEndianTwosComplement)
{
    EXPECT_EQ(app::TForm1::PackDword(4097), std::string("\x01\x10\0\0", 4));
    EXPECT_EQ(app::TForm1::PackDword(-1), "\xff\xff\xff\xff");
    EXPECT_EQ(app::TForm1::PackDword(0x12345678), "\x78\x56\x34\x12");
    EXPECT_EQ(app::TForm1::ResponseDword(std::string("UPLE\0\0\0\x80", 8), 4), INT32_MIN);
    EXPECT_EQ(app::TForm1::ResponseDword(std::string("UPLS\x68\0\0\0\xbf\x69\x18\x6b", 12), 8), 0x6b1869bf);
    // Missing bytes read as 0.
    EXPECT_EQ(app::TForm1::ResponseDword("UPLE\x05\x01", 4), 0x105);
    EXPECT_EQ(app::TForm1::ResponseDword("UP", 4), 0);
}

TEST_F(CommandChannel, LogLinesCarryMarkerAndTextWithoutTrailingControlBytes)
{
    FForm->Memo1->Clear();
    FForm->AddLog("in", 0);
    FForm->AddLog("out \t\r\n", 1);
    FForm->AddLog(std::string("  lead\0\x1f ", 9), 7);
    FForm->Log(" \r\n");
    FForm->SendCommand(Reply(4097, 0));
    EXPECT_THAT(Messages(), ElementsAre("<<in", ">>out", "    lead", "  ", ">>UPLR"));
    // The stamp is taken when the line is written.
    const std::string now = rtl::FormatTimeStamp();
    EXPECT_EQ(FForm->Memo1->Lines().back().substr(0, 9), now.substr(0, 9));
}

TEST_F(CommandChannel, LogKeepsItsNewestTenThousandLines)
{
    // "device change." from the first scan, then 10,005 more: the six oldest go.
    for (int i = 0; i < 10005; ++i)
        FForm->Log(rtl::Format("line %d", i));
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), app::MaxLogLines);
    EXPECT_EQ(messages.front(), "  line 5");
    EXPECT_EQ(messages.back(), "  line 10004");
}

TEST_F(CommandChannel, CommandsFillTheOutputReportAndOnesThatDoNotFitAreNeverCut)
{
    const std::string trace = FUnits.Path() + "/trace";
    Place({"--out-length", "8", "--trace", trace, "--script",
           WriteFile("fit.script", "expect VER\nexpect 1234567\nquiet 200\n")});
    ASSERT_TRUE(RunUntil([&] { return FForm->State() == app::stVersionWait; }));
    const struct {
        std::string Command;
        bool Sent;
        std::vector<std::string> Logged;
    } cases[] = {
        {"1234567", true, {">>1234567"}},
        {"12345678",
         false,
         {">>12345678", "  Error : Command does not fit the output report, not sent. length:8 report:8"}},
        {std::string(2049, 'L'),
         false,
         {">>" + std::string(2049, 'L'), "  Error : Command too long, not sent. length:2049"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Command.size());
        const std::size_t before = Messages().size();
        EXPECT_EQ(FForm->SendCommand(c.Command), c.Sent);
        EXPECT_EQ(MessagesSince(before), c.Logged);
    }
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    EXPECT_THAT(TraceReports(trace, '>'), ElementsAre("0056455200000000", "0031323334353637"));
}

TEST_F(CommandChannel, OutputReportsUpTo2049BytesAreWrittenAndLongerOnesRefused)
{
    const std::string trace = FUnits.Path() + "/trace";
    Place({"--out-length", "2049", "--trace", trace, "--script", WriteFile("long.script", "expect VER\nquiet 100\n")});
    ASSERT_TRUE(RunUntil([&] { return FForm->State() == app::stVersionWait; }));
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    EXPECT_THAT(TraceReports(trace, '>'), ElementsAre(ReportHex("VER", 2049)));
    ASSERT_TRUE(RunUntil([&] { return Logged("  Disconnect device."); }));

    // The state is still 3 from the first unit: wait for the second unit's refused command.
    Place({"--out-length", "2050", "--trace", trace});
    ASSERT_TRUE(RunUntil([&] { return Logged("  Error : Output report too long, not sent. length:2050"); }));
    EXPECT_THAT(WithoutStateLines(Messages()),
                ElementsAre("  Connect device : Quillmark", ">>VER",
                            "  Error : Output report too long, not sent. length:2050"));
    FSim->Stop();
    EXPECT_TRUE(TraceReports(trace, '>').empty());
}

TEST_F(CommandChannel, FailedWriteIsLoggedWithTheSystemMessageAndCode)
{
    Place({"--script", WriteFile("gone.script", "expect VER\nunplug\nsleep 5000\n")});
    ASSERT_TRUE(RunUntil([&] { return FForm->State() == app::stVersionWait; }));
    // The removal is not yet handled, so the session still holds the unit.
    ASSERT_TRUE(FSim->WaitForLine("removed "));
    const std::size_t before = Messages().size();
    FForm->SendCommand("GSER");
    const auto written = MessagesSince(before);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0], ">>GSER");
    EXPECT_TRUE(std::regex_match(written[1], std::regex(R"(  WRITE1_ERROR,[^ ].*[^.] \([1-9A-F][0-9A-F]*\))")))
        << written[1];
}

} // namespace
