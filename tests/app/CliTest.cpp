// tolvane-cli against quillmark-sim units: the whole exchange byte for byte, scripted units
// for exact exchanges, many sessions in a row, and the program's options and exit codes.

#include "CliProcess.h"
#include "FakeUnit.h"
#include "RecordCheck.h"
#include "SessionFixture.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace apptest;
using ::testing::ElementsAre;

namespace {

// A logged input report: "<<" then hex pairs joined by "," then "-".
bool IsReportLine(const std::string& message)
{
    const std::size_t dash = message.find('-');
    if (message.compare(0, 2, "<<") != 0 || dash == std::string::npos || (dash > 2 && (dash - 2) % 3 != 2))
        return false;
    for (std::size_t i = 2; i < dash; ++i)
        if ((i - 2) % 3 == 2 ? message[i] != ',' : !std::isxdigit(static_cast<unsigned char>(message[i])))
            return false;
    return true;
}

// What is neither a state line nor a logged report.
std::vector<std::string> Events(const std::vector<std::string>& messages)
{
    std::vector<std::string> events;
    for (const std::string& message : WithoutStateLines(messages))
        if (!IsReportLine(message))
            events.push_back(message);
    return events;
}

// The logged reports' bytes as lower-case hex without separators.
std::vector<std::string> LoggedReports(const std::vector<std::string>& messages)
{
    std::vector<std::string> reports;
    for (const std::string& message : messages) {
        if (!IsReportLine(message))
            continue;
        std::string hex;
        for (std::size_t i = 2; i < message.find('-'); ++i)
            if (message[i] != ',')
                hex += static_cast<char>(std::tolower(static_cast<unsigned char>(message[i])));
        reports.push_back(hex);
    }
    return reports;
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

class Cli : public ::testing::Test {
protected:
    TSimProcess& Place(std::vector<std::string> args)
    {
        FSim = std::make_unique<TSimProcess>(FUnits.Path(), std::move(args));
        return *FSim;
    }
    std::string WriteFile(const std::string& name, const std::string& contents)
    {
        const std::string path = FUnits.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }
    // Runs tolvane-cli to its end. At each gate's text in its output, the gate's file is
    // made for the unit's script to go on (`await FILE`); at the end, the file "done".
    int Run(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& gates = {})
    {
        std::filesystem::remove(Done());
        TCliProcess cli(args);
        for (const auto& [text, file] : gates) {
            EXPECT_TRUE(cli.WaitForOutput(text)) << text;
            Touch(FUnits.Path() + "/" + file);
        }
        const int code = cli.Wait(30s);
        FOut = cli.Stdout();
        FErr = cli.Stderr();
        Touch(Done());
        return code;
    }
    std::string Done() const { return FUnits.Path() + "/done"; }
    std::vector<std::string> Messages() const { return StripTimeStamps(Lines(FOut)); }
    std::vector<std::string> Results() const
    {
        std::vector<std::string> results;
        for (const std::string& line : Lines(FErr))
            if (line.rfind("result: ", 0) == 0)
                results.push_back(line);
        return results;
    }
    // A unit's script up to the serial write it then awaits: VER and GSER answered, info.ini sent.
    std::string UpToSerialWrite()
    {
        WriteFile("info.ini", "ser SERF\r\npcb PCBF\r\nbat BATF\r\n");
        return R"(expect VER
send OK 1.0.05\r\n
expect GSER
send OK P2301A000417 B2210C000388 QM0000012345\r\n
expect UPLS RGINFO.INI
upload info.ini
expect SSER PCBF00000000 BATF00000000 SERF00000000
)";
    }

    TScratchUnitDirectory FUnits;
    std::unique_ptr<TSimProcess> FSim;
    std::string FTrace = FUnits.Path() + "/trace";
    std::string FOut;
    std::string FErr;
};

TEST_F(Cli, DefaultUnitRunsTheWholeExchangeWithExactReports)
{
    Place({"--trace", FTrace});
    ASSERT_EQ(Run({"--read-info", "yes", "--write-serial", "yes"}), 0) << FErr;
    const auto messages = Messages();
    const auto in = TraceReports(FTrace, '<');
    ASSERT_EQ(in.size(), 6u);
    const std::string info = Bytes(in[4]).substr(1);
    ASSERT_EQ(info.substr(0, 4), "UPLI");
    const auto size = static_cast<unsigned char>(info[4]) | static_cast<unsigned char>(info[5]) << 8;
    const std::string stamp = info.substr(8, info.find('\0', 8) - 8);

    EXPECT_THAT(StateLines(messages), ElementsAre("2", "3", "5", "4", "6", "99"));
    EXPECT_THAT(Events(messages),
                ElementsAre("  device change.", "  Connect device : Quillmark", ">>VER", "  バージョン1.0.05",
                            "  FWタイプ2", ">>GSER", ">>UPLS RGINFO.INI", "<<Upload : Started. fileName:RGINFO.INI",
                            ">>UPLR", ">>UPLR", "  ファイルデータ取得",
                            "  Verify : OK. fileSize:" + std::to_string(size) + " timeStamp:" + stamp,
                            "<<Upload : Done", ">>SSER P2301A000417 B2210C000388 QM0000012345"));
    // Every report the unit sent is logged, answers up to their terminator, packets whole.
    const auto logged = LoggedReports(messages);
    ASSERT_EQ(logged.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(in[i].compare(2, logged[i].size(), logged[i]), 0) << i;
        if (i >= 2 && i <= 4) {
            EXPECT_EQ(logged[i].size(), in[i].size() - 2) << i;
        }
    }
    EXPECT_EQ(logged[0], "4f4b20312e302e30350d0a");

    const auto out = TraceReports(FTrace, '>');
    EXPECT_THAT(out,
                ElementsAre(ReportHex("VER"), ReportHex("GSER"), ReportHex("UPLS RGINFO.INI"),
                            ReportHex(Reply(4097, 0)), ReportHex(Reply(4099, 0)),
                            ReportHex("SSER P2301A000417 B2210C000388 QM0000012345")));
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[3],
              "00"
              "55504c52"
              "01100000"
              "00000000"
                  + std::string(104, '0'));
    EXPECT_THAT(Lines(FErr),
                ElementsAre("status: Please set Quillmark to a cradle.", "status: Reading data.",
                            "identity:  FW :  | SER : ", "identity:  FW : 1.0.05 | SER : ",
                            "identity:  FW : 1.0.05 | SER : QM0000012345", "status: Read end.",
                            "confirm: Get GSER response. Is read RGINFO.INI? -> OK",
                            "identity:  FW : 1.0.05 | SER : QM0000012345", "confirm: Is a Serial write in? -> OK",
                            "status: Serial write end.", "result: ok"));
}

TEST_F(Cli, EveryDataPacketIsAnsweredAndTheFileNumbersAreWrittenFilled)
{
    std::string file = "ser FILESER1\r\npcb FILEPCB\r\nbat FB\r\n";
    while (file.size() < 2500)
        file += std::string(58, '.') + "\r\n";
    file.resize(2500);
    Place({"--trace", FTrace, "--info-file", WriteFile("big.ini", file)});
    ASSERT_EQ(Run({"--read-info", "yes", "--write-serial", "yes"}), 0) << FErr;
    EXPECT_THAT(TraceReports(FTrace, '>'),
                ElementsAre(ReportHex("VER"), ReportHex("GSER"), ReportHex("UPLS RGINFO.INI"),
                            ReportHex(Reply(4097, 0)), ReportHex(Reply(4098, 0)), ReportHex(Reply(4098, 0)),
                            ReportHex(Reply(4099, 0)), ReportHex("SSER FILEPCB00000 FB0000000000 FILESER10000")));
    const auto events = Events(Messages());
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& event) {
        return event.rfind("  Verify : OK. fileSize:2500 timeStamp:", 0) == 0;
    }));
    EXPECT_EQ(Lines(FErr).back(), "result: ok");
}

TEST_F(Cli, ScriptedUnitRefusingGserOnceAndSserOnceIsWaitedFor)
{
    WriteFile("info.ini", "ser SERF\r\npcb PCBF\r\nbat BATF\r\n");
    Place({"--script", WriteFile("retry.script", R"(expect VER
send OK 1.0.05\r\n
expect GSER
send NG\r\n
await ng-logged
send OK PCB1         BAT1         SER1\r\n
expect UPLS RGINFO.INI
upload info.ini
expect SSER PCBF00000000 BATF00000000 SERF00000000
send NG\r\n
await retried
send OK\r\n
await done
)")});
    ASSERT_EQ(Run({"--read-info", "yes", "--write-serial", "yes"},
                  {{"<<4E,47,0D,0A-NG", "ng-logged"}, {"retry. serialres", "retried"}}),
              0)
        << FErr;
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    const auto messages = Messages();
    EXPECT_THAT(StateLines(messages), ElementsAre("2", "3", "5", "4", "6", "99"));
    EXPECT_EQ(Count(Events(messages), "  retry. serialres"), 1u);
    const auto err = Lines(FErr);
    EXPECT_EQ(Count(err, "identity:  FW : 1.0.05 | SER : SER1"), 1u);
    EXPECT_EQ(Count(err, "identity:  FW : 1.0.05 | SER : SERF"), 1u);
    EXPECT_EQ(Count(err, "confirm: Get GSER response. Is read RGINFO.INI? -> OK"), 1u);
    EXPECT_EQ(err[err.size() - 2], "status: Serial write end.");
    EXPECT_EQ(err.back(), "result: ok");
}

TEST_F(Cli, UploadPacketIsNoAnswerToVersionSerialBlockOrSerialWrite)
{
    const std::string block = "send OK P2301A000417 B2210C000388 QM0000012345\\r\\n\n";
    const struct {
        const char* Behaviour;
        std::string Script;
        std::vector<std::string> Cli;
        std::vector<std::pair<std::string, std::string>> Gates;
        std::vector<std::string> Commands; // as the unit received them
        int Exit;
        std::string Result;
    } cases[] = {
        {"a start packet before the version",
         "expect VER\nsend UPLS\\0\\0\\0\\0\\0\\0\\0\\0a.ini\nawait late\nsend OK 1.0.05\\r\\n\nexpect GSER\n" + block
             + "await done\n",
         {},
         {{"<<55,50,4C,53,", "late"}},
         {ReportHex("VER"), ReportHex("GSER")},
         0,
         "result: ok"},
        {"a data packet holding OK before the serial block",
         "expect VER\nsend OK 1.0.05\\r\\n\nexpect GSER\nsend UPLD\\0\\0\\0\\0OK P1\\r\\n\nawait late\n" + block
             + "await done\n",
         {},
         {{"<<55,50,4C,44,", "late"}},
         {ReportHex("VER"), ReportHex("GSER")},
         0,
         "result: ok"},
        // The unit never answers: the run's time-out ends the session still waiting.
        {"an end packet holding OK CR LF after the serial write",
         UpToSerialWrite() + "send UPLE\\x04\\0\\0\\0OK\\r\\n\nawait done\n",
         {"--read-info", "yes", "--write-serial", "yes", "--timeout", "4"},
         {},
         {ReportHex("VER"), ReportHex("GSER"), ReportHex("UPLS RGINFO.INI"), ReportHex(Reply(4097, 0)),
          ReportHex(Reply(4099, 0)), ReportHex("SSER PCBF00000000 BATF00000000 SERF00000000")},
         4,
         "result: failed timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        Place({"--trace", FTrace, "--script", WriteFile("late.script", c.Script)});
        EXPECT_EQ(Run(c.Cli, c.Gates), c.Exit) << FErr;
        EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
        FSim.reset();
        EXPECT_EQ(TraceReports(FTrace, '>'), c.Commands);
        EXPECT_EQ(Count(Lines(FErr), "status: Serial write end."), 0u);
        EXPECT_THAT(Results(), ElementsAre(c.Result));
        std::remove(FTrace.c_str());
    }
}

TEST_F(Cli, UploadWhoseAnnouncedSizeDiffersEndsTheSessionWithoutWriting)
{
    WriteFile("info.ini", "ser S\r\npcb P\r\nbat B\r\n");
    Place({"--script",
           WriteFile("size.script",
                     "expect VER\nsend OK 1.0.05\\r\\n\nexpect GSER\nsend OK P1\\r\\n\n"
                     "expect UPLS RGINFO.INI\nupload info.ini size=999 stamp=T 1\nawait done\n")});
    ASSERT_EQ(Run({"--read-info", "yes", "--write-serial", "yes"}), 4) << FErr;
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    const auto messages = Messages();
    EXPECT_THAT(StateLines(messages), ElementsAre("2", "3", "5", "4", "99"));
    const auto events = Events(messages);
    EXPECT_EQ(events.back(), "  Error : Verify NG. fileSize:999 timeStamp:T 1");
    EXPECT_EQ(Count(events, "<<Upload : Done"), 0u);
    const auto err = Lines(FErr);
    EXPECT_EQ(err[err.size() - 2], "confirm: Get GSER response. Is read RGINFO.INI? -> OK");
    EXPECT_EQ(err.back(), "result: failed verify-ng");
}

TEST_F(Cli, RefusedPacketsAreAnsweredSecondEndIsIgnoredAndTheFileDoesNotVerify)
{
    Place({"--script", WriteFile("packets.script", R"(expect VER
send OK 1.0.05\r\n
expect GSER
send OK P\r\n
expect UPLS RGINFO.INI
send UPLS\0\0\0\0\0\0\0\0a.ini
expect UPLR\x01\x10\0\0\0\0\0\0
send UPLD\x01\0\0\0data
expect UPLR\x02\x10\0\0\x01\0\0\0
send UPLE\0\0\0\0
expect UPLR\x03\x10\0\0\x01\0\0\0
send UPLE\0\0\0\0
await ignored
send UPLI\0\0\0\0
await done
)")});
    ASSERT_EQ(Run({"--read-info", "yes", "--write-serial", "yes"}, {{"受信データ無視", "ignored"}}), 4) << FErr;
    EXPECT_EQ(Lines(FErr).back(), "result: failed upload-refused");
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    const auto messages = Messages();
    EXPECT_THAT(StateLines(messages), ElementsAre("2", "3", "5", "4", "99"));
    EXPECT_THAT(Events(messages),
                ElementsAre("  device change.", "  Connect device : Quillmark", ">>VER", "  バージョン1.0.05",
                            "  FWタイプ2", ">>GSER", ">>UPLS RGINFO.INI", "<<Upload : Started. fileName:a.ini",
                            ">>UPLR", "<<Error : Invalid packet number.", ">>UPLR", "<<Error : Failed to upload file.",
                            ">>UPLR", "  ファイルデータ取得", "  受信データ無視",
                            "  Error : Verify NG. fileSize:0 timeStamp:"));
}

TEST_F(Cli, HundredRemovalsAndPlacementsGiveHundredSessions)
{
    // Each unit is taken out only once its session has ended, so no removal cuts one short.
    const auto script = WriteFile("one.script",
                                  "expect VER\nsend OK 1.0.05\\r\\n\nexpect GSER\n"
                                  "send OK P2301A000417 B2210C000388 QM0000012345\\r\\n\nsleep 20000\n");
    TCliProcess cli({"--sessions", "100", "--read-info", "no"});
    ASSERT_TRUE(cli.WaitForOutput("device change."));
    for (std::size_t session = 1; session <= 100; ++session) {
        Place({"--script", script});
        ASSERT_TRUE(cli.WaitForStderr("result: ok", 10s, session)) << cli.Stdout() << cli.Stderr();
        FSim->Stop();
    }
    ASSERT_EQ(cli.Wait(), 0) << cli.Stderr();
    FOut = cli.Stdout();
    const auto messages = Messages();
    EXPECT_EQ(Count(messages, "  Connect device : Quillmark"), 100u);
    EXPECT_EQ(Count(messages, "  99 status"), 100u);
    EXPECT_EQ(Count(Lines(cli.Stderr()), "confirm: Get GSER response. Is read RGINFO.INI? -> Cancel"), 100u);
}

TEST_F(Cli, MalformedOptionsAreOneLineUsageErrors)
{
    const struct {
        std::vector<std::string> Args;
        const char* Says;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--sesions", "3"}, "unknown option --sesions"},
        {{"stray"}, "unexpected argument stray"},
        {{"--read-info", "maybe"}, "--read-info: takes yes or no"},
        {{"--write-serial"}, "--write-serial"},
        {{"--sessions", "-1"}, "--sessions: takes a whole number of 0 or more"},
        {{"--sessions=2x"}, "--sessions: takes a whole number of 0 or more"},
        {{"--timeout", "soon"}, "--timeout: takes a number of seconds"},
        {{"--device", "a", "b"}, "unexpected argument b"},
        {{"--json"}, "--json goes with --list"},
        {{"--list", "--station"}, "--list and --station do not go together"},
        // No session could be ok: the serial write only follows the information file.
        {{"--write-serial", "yes"}, "--write-serial yes needs --read-info yes"},
        {{"--read-info=no", "--write-serial=yes", "--station"}, "--write-serial yes needs --read-info yes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args[0]);
        EXPECT_EQ(Run(c.Args), 2);
        const auto lines = Lines(FErr);
        ASSERT_EQ(lines.size(), 2u) << FErr;
        EXPECT_EQ(lines[0].rfind("tolvane-cli: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.Says), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1], "Run with --help for more.");
        EXPECT_EQ(FOut, "");
    }
}

TEST_F(Cli, TimeoutWithoutAUnitExitsWith3)
{
    EXPECT_EQ(Run({"--timeout", "0.3"}), 3);
    // The first scan ran: a time-out taken as none would end the run before it.
    EXPECT_THAT(Messages(), ElementsAre("  device change."));
    EXPECT_EQ(Lines(FErr).back(), "tolvane-cli: timed out");
}

TEST_F(Cli, SigtermInTheMiddleOfASessionEndsWith130)
{
    const std::string writeSerial = UpToSerialWrite();
    const struct {
        const char* Behaviour;
        std::string Script;
        std::vector<std::string> Cli;
        std::vector<std::pair<std::string, std::string>> Gates; // text seen, then the file made
        std::string Signalled;                                  // when this is seen
        std::vector<std::string> Results;
    } cases[] = {
        {"awaiting the version", "expect VER\nsleep 20000\n", {}, {}, ">>VER", {"result: failed interrupted"}},
        {"awaiting the serial write's answer after an NG",
         writeSerial + "send NG\\r\\n\nsleep 20000\n",
         {"--read-info", "yes", "--write-serial", "yes"},
         {},
         "retry. serialres",
         {"result: failed serial-write-refused"}},
        {"taken out after an NG to the serial write",
         writeSerial + "send NG\\r\\n\nawait retried\nunplug\nsleep 20000\n",
         {"--read-info", "yes", "--write-serial", "yes"},
         {{"retry. serialres", "retried"}},
         "Disconnect device.",
         {"result: failed unit-removed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        Place({"--script", WriteFile("hold.script", c.Script)});
        TCliProcess cli(c.Cli);
        for (const auto& [text, file] : c.Gates) {
            ASSERT_TRUE(cli.WaitForOutput(text)) << text;
            Touch(FUnits.Path() + "/" + file);
        }
        ASSERT_TRUE(cli.WaitForOutput(c.Signalled));
        cli.Signal(SIGTERM);
        EXPECT_EQ(cli.Wait(), 130) << cli.Stderr();
        FErr = cli.Stderr();
        EXPECT_EQ(Results(), c.Results);
        EXPECT_EQ(Lines(FErr).back(), c.Results.back());
        FSim.reset();
    }
}

TEST_F(Cli, AUnitServesOneToolAtATimeTheNextTakesItWhenTheHolderEndsOrIsKilled)
{
    // The script takes VER, GSER, VER, ...: had a waiting tool spoken to the unit while
    // another held it, a command would arrive out of turn and the unit would fail.
    const std::string answers = "send OK 1.0.05\\r\\n\nexpect GSER\nsend OK P1           B1           S1\\r\\n\n";
    Place({"--step-timeout", "20", "--trace", FTrace, "--script",
           WriteFile("turns.script",
                     "expect VER\nawait first-may-go\n" + answers + "expect VER\nexpect VER\n" + answers
                         + "await done\n")});
    const std::string inUse =
        "tolvane-cli: the unit at " + FUnits.SocketPath("quillmark") + " is in use by another process; waiting for it";

    TCliProcess first({});
    ASSERT_TRUE(first.WaitForOutput(">>VER"));
    TCliProcess second({});
    ASSERT_TRUE(second.WaitForStderr(inUse)) << second.Stderr();
    {
        TCliProcess list({"--list"});
        ASSERT_EQ(list.Wait(), 0);
        EXPECT_THAT(Lines(list.Stdout()), ::testing::Contains(::testing::EndsWith("\tin use")));
    }
    Touch(FUnits.Path() + "/first-may-go");
    EXPECT_EQ(first.Wait(), 0) << first.Stderr();
    ASSERT_TRUE(second.WaitForOutput(">>VER")) << second.Stderr();

    TCliProcess third({});
    ASSERT_TRUE(third.WaitForStderr(inUse)) << third.Stderr();
    second.Signal(SIGKILL);
    EXPECT_EQ(third.Wait(), 0) << third.Stderr();
    Touch(Done());
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();

    EXPECT_EQ(Lines(first.Stderr()).back(), "result: ok");
    EXPECT_EQ(Lines(third.Stderr()).back(), "result: ok");
    for (const TCliProcess* cli : {&second, &third})
        EXPECT_EQ(Count(Lines(cli->Stderr()), inUse), 1u);
    const auto sent = TraceReports(FTrace, '>');
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const std::string& hex) { return hex.rfind("00564552", 0) == 0; }),
        3);
}

TEST_F(Cli, SerialWriteThatDoesNotFitTheOutputReportIsNeverSentAndFails)
{
    const std::string longSer = "ser " + std::string(60, '9') + "\r\npcb P\r\nbat B\r\n";
    const struct {
        const char* Behaviour;
        std::vector<std::string> Unit;
        std::string Command;
        std::string Refusal;
    } cases[] = {
        {"output report shorter than the command",
         {"--out-length", "40"},
         "SSER P2301A000417 B2210C000388 QM0000012345",
         "  Error : Command does not fit the output report, not sent. length:43 report:40"},
        {"file values longer than their fields",
         {"--info-file", WriteFile("long.ini", longSer)},
         "SSER P00000000000 B00000000000 " + std::string(60, '9'),
         "  Error : Command does not fit the output report, not sent. length:91 report:65"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        std::vector<std::string> unit = c.Unit;
        unit.insert(unit.end(), {"--trace", FTrace});
        Place(unit);
        EXPECT_EQ(Run({"--read-info", "yes", "--write-serial", "yes"}), 4) << FErr;
        FSim.reset();
        for (const std::string& report : TraceReports(FTrace, '>'))
            EXPECT_NE(Bytes(report).substr(1, 4), "SSER");
        const auto messages = Messages();
        EXPECT_EQ(StateLines(messages).back(), "99");
        const auto events = Events(messages);
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2], ">>" + c.Command);
        EXPECT_EQ(events.back(), c.Refusal);
        const auto err = Lines(FErr);
        EXPECT_EQ(Count(err, "status: Serial write end."), 0u);
        ASSERT_GE(err.size(), 2u);
        EXPECT_EQ(err[err.size() - 2], "status: Serial write failed.");
        EXPECT_EQ(err.back(), "result: failed serial-write-failed");
        std::remove(FTrace.c_str());
    }
}

TEST_F(Cli, EverySessionEndsWithOneResultLineAndAFailedOrWaitingOneExitsWith4)
{
    const std::string refusedUpload = R"(expect VER
send OK 1.0.05\r\n
expect GSER
send OK P\r\n
expect UPLS RGINFO.INI
send UPLS\0\0\0\0\0\0\0\0a.ini
expect UPLR\x01\x10
send UPLD\x01\0\0\0data
expect UPLR\x02\x10\0\0\x01
send UPLI\x04\0\0\0
await done
)";
    const struct {
        const char* Behaviour;
        std::vector<std::string> Unit;
        std::vector<std::string> Cli;
        int Exit;
        std::vector<std::string> Results;
    } cases[] = {
        {"version answered NG",
         {"--script", WriteFile("ng.script", "expect VER\nsend NG\\r\\n\nawait done\n")},
         {},
         4,
         {"result: failed version-ng"}},
        {"refused upload",
         {"--script", WriteFile("refused.script", refusedUpload)},
         {"--read-info", "yes"},
         4,
         {"result: failed upload-refused"}},
        {"serial write asked for, but the firmware type has none",
         {"--firmware", "1.0"},
         {"--read-info", "yes", "--write-serial", "yes"},
         4,
         {"result: failed serial-not-written"}},
        {"serial write answered NG, waiting at the time-out",
         {"--sser-reply", "NG"},
         {"--read-info", "yes", "--write-serial", "yes", "--timeout", "3"},
         4,
         {"result: failed serial-write-refused"}},
        {"unit taken out, then the time-out",
         {"--script", WriteFile("out.script", "expect VER\nunplug\nsleep 3000\n")},
         {"--timeout", "2"},
         4,
         {"result: failed unit-removed"}},
        {"an ok session, then the time-out", {}, {"--sessions", "2", "--timeout", "1"}, 3, {"result: ok"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        Place(c.Unit);
        EXPECT_EQ(Run(c.Cli), c.Exit) << FErr;
        FSim.reset();
        std::vector<std::string> results;
        for (const std::string& line : Lines(FErr))
            if (line.rfind("result: ", 0) == 0)
                results.push_back(line);
        EXPECT_EQ(results, c.Results);
    }
}

TEST_F(Cli, RecordGetsOneLinePerSessionTrueToTheWireAfterItsLastWholeLine)
{
    const std::string record = FUnits.Path() + "/record.jsonl";
    // What a power cut in the middle of a write leaves.
    std::ofstream(record, std::ios::binary) << "{\"earlier\":1}\n{\"schema\":2,\"time\":\"2026-";
    // The file's numbers are not the serial block's: the record must say which went out.
    Place({"--product", "Q\"uill\\mark\x01", "--trace", FTrace, "--info-file",
           WriteFile("other.ini", "ser QM0000099999\r\npcb P9999Z999999\r\nbat B9999Z999999\r\n")});
    ASSERT_EQ(Run({"--read-info", "yes", "--write-serial", "yes", "--record", record}), 0) << FErr;
    FSim.reset();
    const std::string ngTrace = FUnits.Path() + "/ng.trace";
    Place({"--trace", ngTrace, "--script", WriteFile("ng.script", "expect VER\nsend NG\\r\\n\nawait done\n")});
    ASSERT_EQ(Run({"--record", record}), 4) << FErr;

    std::ifstream in(record, std::ios::binary);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "{\"earlier\":1}");
    const auto lines = ReadRecord(record, 1);
    ASSERT_EQ(lines.size(), 2u);
    const auto& ok = lines[0];
    ExpectRecordTrueToTrace(ok, FTrace);
    EXPECT_EQ(ok["written"],
              nlohmann::json::parse(R"({"pcb":"P9999Z999999","bat":"B9999Z999999","ser":"QM0000099999"})"));
    EXPECT_EQ(ok["serialBlock"]["ser"], "QM0000012345");
    EXPECT_EQ(ok["device"]["product"], "Q\"uill\\mark\x01");
    EXPECT_EQ(ok["device"]["path"], FUnits.SocketPath("quillmark"));
    EXPECT_TRUE(ok["slot"].is_null());
    EXPECT_EQ(ok["result"], "ok");
    EXPECT_LE(ok["started"].get<std::string>(), ok["ended"].get<std::string>());

    const auto& ng = lines[1];
    ExpectRecordTrueToTrace(ng, ngTrace);
    for (const char* unread : {"firmware", "serialBlock", "file", "written"})
        EXPECT_TRUE(ng[unread].is_null()) << unread;
    EXPECT_EQ(ng["reason"], "version-ng");
    EXPECT_LE(ok["ended"].get<std::string>(), ng["started"].get<std::string>());
}

TEST_F(Cli, ResultOkNeedsASerialBlockReachingItsSerColumnUnlessTheSerialWasWritten)
{
    const std::string record = FUnits.Path() + "/record.jsonl";
    const struct {
        const char* Behaviour;
        std::string Answer; // to GSER
        bool Write;
        std::vector<std::string> Block; // pcb, bat, ser as recorded
        bool Ok;
    } cases[] = {
        {"the version answer once more", "OK 1.0.05", false, {"1.0.05", "", ""}, false},
        {"26 characters", "OK P2301A000417 B2210C000388 ", false, {"P2301A000417", "B2210C000388", ""}, false},
        {"26 characters once an inner OK and space are removed",
         "OK P2301A000417 B2210C000388OK Q",
         false,
         {"P2301A000417", "B2210C000388", ""},
         false},
        {"27 characters", "OK P2301A000417 B2210C000388 Q", false, {"P2301A000417", "B2210C000388", "Q"}, true},
        {"short, but the serial written", "OK P1", true, {"P1", "", ""}, true},
    };
    WriteFile("info.ini", "ser SERF\r\npcb PCBF\r\nbat BATF\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        std::filesystem::remove(record);
        std::filesystem::remove(FTrace);
        const std::string write = "expect UPLS RGINFO.INI\nupload info.ini\n"
                                  "expect SSER PCBF00000000 BATF00000000 SERF00000000\nsend OK\\r\\n\n";
        Place({"--trace", FTrace, "--script",
               WriteFile("short.script",
                         "expect VER\nsend OK 1.0.05\\r\\n\nexpect GSER\nsend " + c.Answer + "\\r\\n\n"
                             + (c.Write ? write : "") + "await done\n")});
        std::vector<std::string> cli = {"--record", record};
        if (c.Write)
            cli.insert(cli.end(), {"--read-info", "yes", "--write-serial", "yes"});
        EXPECT_EQ(Run(cli), c.Ok ? 0 : 4) << FErr;
        EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
        FSim.reset();
        EXPECT_THAT(Results(), ElementsAre(c.Ok ? "result: ok" : "result: failed identity-incomplete"));
        const auto lines = ReadRecord(record);
        ASSERT_EQ(lines.size(), 1u);
        ExpectRecordTrueToTrace(lines[0], FTrace);
        EXPECT_EQ(lines[0]["serialBlock"],
                  nlohmann::json({{"pcb", c.Block[0]}, {"bat", c.Block[1]}, {"ser", c.Block[2]}}));
        EXPECT_EQ(lines[0]["serialWritten"], c.Write);
    }
}

TEST_F(Cli, RecordThatCannotBeOpenedOrWrittenFailsTheRun)
{
    const struct {
        std::string Record;
        int Exit;
        std::string Said;
    } cases[] = {
        {FUnits.Path() + "/missing/record.jsonl", 2, "tolvane-cli: cannot open the record "},
        {"/dev/full", 4, "tolvane-cli: cannot write the record: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Record);
        Place({});
        EXPECT_EQ(Run({"--record", c.Record}), c.Exit) << FErr;
        FSim.reset();
        EXPECT_NE(FErr.find(c.Said), std::string::npos) << FErr;
    }
}

TEST_F(Cli, UnitTextCannotForgeOrDriveConsoleLines)
{
    Place({"--product", "Quill\rmark\x1b]0;x\x07!", "--script",
           WriteFile("forge.script",
                     "expect VER\nsend OK 1.0\\nstatus: Serial write end.\\x1b[2J\\\\\\x7f\\r\\n\n"
                     "expect GSER\nsend OK P2301A000417 B2210C000388 QM0000012345\\r\\n\nawait done\n")});
    ASSERT_EQ(Run({}), 0) << FErr;
    for (const std::string* stream : {&FOut, &FErr})
        for (const char c : *stream)
            EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) << static_cast<int>(c);
    const auto err = Lines(FErr);
    for (const std::string& line : err) {
        const bool known = line.rfind("status: ", 0) == 0 || line.rfind("identity: ", 0) == 0
            || line.rfind("confirm: ", 0) == 0 || line.rfind("result: ", 0) == 0;
        EXPECT_TRUE(known) << line;
    }
    EXPECT_EQ(Count(err, "status: Serial write end."), 0u);
    for (const char* ser : {"", "QM0000012345"})
        EXPECT_EQ(
            Count(err, R"(identity:  FW : 1.0\x0Astatus: Serial write end.\x1B[2J\\\x7F | SER : )" + std::string(ser)),
            1u);
    EXPECT_EQ(Count(err, "confirm: Get GSER response. Is read RGINFO.INI? -> Cancel"), 1u);
    const auto messages = Messages();
    EXPECT_EQ(messages.at(1), R"(  Connect device : Quill\x0Dmark\x1B]0;x\x07!)");
}

TEST_F(Cli, TimeoutAndSignalsAreHonouredBesideBrokenSocketsAndARealUnitIsServed)
{
    TFakeUnit never(FUnits.Path(), "a-never", TFakeUnit::NeverAccepts);
    TFakeUnit full(FUnits.Path(), "b-full", TFakeUnit::BacklogFull);
    TFakeUnit silent(FUnits.Path(), "c-silent", TFakeUnit::Silent);
    TFakeUnit stale(FUnits.Path(), "d-stale", TFakeUnit::Stale);
    EXPECT_EQ(Run({"--timeout", "0.5"}), 3) << FErr;
    for (int signal : {SIGINT, SIGTERM}) {
        TCliProcess cli({});
        ASSERT_TRUE(cli.WaitForOutput("device change."));
        cli.Signal(signal);
        EXPECT_EQ(cli.Wait(), 130) << signal;
    }
    Place({});
    EXPECT_EQ(Run({"--sessions", "1", "--read-info", "no"}), 0) << FErr;
}

TEST_F(Cli, AUnitDirectoryRemovedAndCreatedAgainIsWatchedAgain)
{
    TCliProcess cli({"--sessions", "1", "--read-info", "no"});
    ASSERT_TRUE(cli.WaitForOutput("device change."));
    std::filesystem::remove_all(FUnits.Path());
    ASSERT_TRUE(cli.WaitForStderr("unit directory " + FUnits.Path() + " is gone"));
    std::filesystem::create_directories(FUnits.Path());
    std::filesystem::permissions(FUnits.Path(), std::filesystem::perms::owner_all);
    Place({});
    EXPECT_EQ(cli.Wait(), 0) << cli.Stderr();
    EXPECT_EQ(Count(Lines(cli.Stderr()),
                    "tolvane-cli: unit directory " + FUnits.Path() + " is gone; waiting for it to come back"),
              1u);
}

} // namespace
