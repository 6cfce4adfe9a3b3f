// tolvane-cli --station against several quillmark-sim units at once: each unit its own
// session, slot, log and record; units coming and going; --device and --list --json.

#include "CliProcess.h"
#include "RecordCheck.h"
#include "SessionFixture.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

using namespace apptest;
using ::testing::UnorderedElementsAre;

namespace {

class Station : public ::testing::Test {
protected:
    // A unit of its own process, named, tracing to Trace(name) unless args say otherwise.
    void Place(const std::string& name, std::vector<std::string> args = {})
    {
        args.insert(args.begin(), {"--name", name, "--trace", Trace(name)});
        FSims[name].reset();
        FSims[name] = std::make_unique<TSimProcess>(FUnits.Path(), args);
    }
    // Takes the unit out, as an operator lifts it from its cradle.
    void TakeOut(const std::string& name) { FSims.at(name)->Stop(); }
    std::string Trace(const std::string& name) const { return FUnits.Path() + "/" + name + ".trace"; }
    std::string Path(const std::string& name) const { return FUnits.Path() + "/" + name; }
    std::string WriteFile(const std::string& name, const std::string& contents) const
    {
        std::ofstream(Path(name), std::ios::binary) << contents;
        return Path(name);
    }
    // A scripted unit that answers its version once `gate` exists, then does what rest says,
    // and stays in its cradle until the test is done.
    void PlaceScripted(const std::string& name, const std::string& gate, const std::string& rest)
    {
        Place(name,
              {"--step-timeout", "60", "--script",
               WriteFile(name + ".script",
                         "expect VER\nawait " + gate + "\nsend OK 1.0.05\\r\\n\n" + rest + "await done\n")});
    }
    // The stderr lines that are a session's: "[SLOT] WHAT", by slot.
    std::map<std::string, std::vector<std::string>> SessionLines(const std::string& err, const std::string& what) const
    {
        std::map<std::string, std::vector<std::string>> lines;
        const std::regex line(R"(^\[([^\]]+)\] (.*)$)");
        for (const std::string& text : Lines(err)) {
            std::smatch match;
            if (std::regex_match(text, match, line) && match[2].str().rfind(what, 0) == 0)
                lines[match[1]].push_back(match[2]);
        }
        return lines;
    }

    TScratchUnitDirectory FUnits;
    std::map<std::string, std::unique_ptr<TSimProcess>> FSims;
    std::string FRecord = FUnits.Path() + "/record.jsonl";
};

TEST_F(Station, UnitsAreServedAtOnceEachWithItsOwnSlotLogAndRecordTrueToItsWire)
{
    const std::string logs = Path("logs");
    for (const std::string n : {"1", "2", "3"}) {
        WriteFile("info" + n + ".ini", "ser QM000009999" + n + "\r\npcb P9999Z99999" + n + "\r\nbat B9999Z999999\r\n");
        // None answers its version before all three were asked: one session at a time never ends.
        PlaceScripted("u" + n, "go",
                      "expect GSER\nsend OK P2301A000417 B2210C000388 QM000001234" + n
                          + "\\r\\n\nexpect UPLS RGINFO.INI\nupload info" + n + ".ini\nexpect SSER P9999Z99999" + n
                          + " B9999Z999999 QM000009999" + n + "\nsend OK\\r\\n\n");
    }
    TCliProcess cli({"--station", "--read-info", "yes", "--write-serial", "yes", "--sessions", "3", "--record", FRecord,
                     "--log-dir", logs});
    ASSERT_TRUE(cli.WaitForStderr("] status: Reading data.", 10s, 3)) << cli.Stderr();
    Touch(Path("go"));
    ASSERT_EQ(cli.Wait(), 0) << cli.Stderr();
    Touch(Path("done"));
    EXPECT_EQ(cli.Stdout(), "");
    EXPECT_THAT(SessionLines(cli.Stderr(), "result: "),
                UnorderedElementsAre(std::pair{std::string("u1"), std::vector<std::string>{"result: ok"}},
                                     std::pair{std::string("u2"), std::vector<std::string>{"result: ok"}},
                                     std::pair{std::string("u3"), std::vector<std::string>{"result: ok"}}));

    const auto records = ReadRecord(FRecord);
    ASSERT_EQ(records.size(), 3u);
    std::set<std::string> slots;
    for (const auto& record : records) {
        const std::string slot = record["slot"];
        slots.insert(slot);
        ExpectRecordTrueToTrace(record, Trace(slot));
        EXPECT_EQ(record["device"]["location"], slot);
        EXPECT_EQ(record["device"]["path"], FUnits.SocketPath(slot));
        EXPECT_EQ(record["written"]["ser"], "QM000009999" + slot.substr(1));
    }
    EXPECT_EQ(slots, (std::set<std::string>{"u1", "u2", "u3"}));

    // One log a session, named by its start, slot and the serial it left the unit with, holding
    // that unit's exchange and no other's.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(logs)) {
        const std::string name = entry.path().filename().string();
        names.insert(std::regex_replace(name, std::regex(R"(^\d{8}T\d{6}\.\d{3}Z_)"), "START_"));
        const std::string n = name.substr(name.size() - 5, 1);
        std::ifstream in(entry.path());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        const auto messages = StripTimeStamps(lines);
        EXPECT_EQ(StateLines(messages).back(), "99") << name;
        EXPECT_EQ(std::count(messages.begin(), messages.end(), "  Connect device : Quillmark"), 1) << name;
        EXPECT_EQ(
            std::count(messages.begin(), messages.end(), ">>SSER P9999Z99999" + n + " B9999Z999999 QM000009999" + n), 1)
            << name;
    }
    EXPECT_EQ(
        names,
        (std::set<std::string>{"START_u1_QM0000099991.log", "START_u2_QM0000099992.log", "START_u3_QM0000099993.log"}));
}

TEST_F(Station, ACradleKeepsItsSlotAndAServedUnitIsServedAgainOnlyOnceSetInAgain)
{
    TCliProcess cli({"--station", "--sessions", "3", "--record", FRecord});
    Place("q");
    ASSERT_TRUE(cli.WaitForStderr("[q] result: ok")) << cli.Stderr();
    // Another unit's arrival is a device change; the finished unit still in its cradle stays done.
    Place("r");
    ASSERT_TRUE(cli.WaitForStderr("[r] result: ok")) << cli.Stderr();
    EXPECT_EQ(TraceReports(Trace("q"), '>').size(), 2u);
    TakeOut("q");
    Place("q", {"--trace", Trace("q-again")});
    ASSERT_EQ(cli.Wait(), 0) << cli.Stderr();

    for (const std::string& line : Lines(cli.Stdout()))
        EXPECT_TRUE(line.rfind("[q] ", 0) == 0 || line.rfind("[r] ", 0) == 0) << line;
    EXPECT_EQ(SessionLines(cli.Stderr(), "result: ok")["q"].size(), 2u);
    std::vector<std::string> slots;
    for (const auto& record : ReadRecord(FRecord))
        slots.push_back(record["slot"]);
    EXPECT_EQ(slots, (std::vector<std::string>{"q", "r", "q"}));
    EXPECT_EQ(TraceReports(Trace("q-again"), '>').size(), 2u);
}

TEST_F(Station, ARemovedUnitEndsOnlyItsOwnSession)
{
    PlaceScripted("a", "go", "expect GSER\nsend OK P2301A000417 B2210C000388 QM0000012345\\r\\n\n");
    PlaceScripted("b", "go", "expect GSER\nsend OK P2301A000417 B2210C000388 QM0000012346\\r\\n\n");
    PlaceScripted("c", "never", "");
    TCliProcess cli({"--station", "--sessions", "2", "--record", FRecord});
    ASSERT_TRUE(cli.WaitForStderr("] status: Reading data.", 10s, 3)) << cli.Stderr();
    TakeOut("c");
    ASSERT_TRUE(cli.WaitForStderr("[c] result: failed unit-removed")) << cli.Stderr();
    Touch(Path("go"));
    EXPECT_EQ(cli.Wait(), 4) << cli.Stderr();
    Touch(Path("done"));
    for (const std::string unit : {"a", "b"})
        EXPECT_EQ(SessionLines(cli.Stderr(), "result: ")[unit], std::vector<std::string>{"result: ok"}) << unit;
    for (const auto& record : ReadRecord(FRecord))
        ExpectRecordTrueToTrace(record, Trace(record["slot"]));
}

TEST_F(Station, TimeoutAndInterruptionEndEverySessionWithItsOwnResultAndRecord)
{
    const struct {
        const char* Ending;
        std::vector<std::string> Options;
        int Signal;
        int Exit;
    } cases[] = {
        {"interrupted", {}, SIGINT, 130},
        {"timeout", {"--timeout", "8"}, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ending);
        std::filesystem::remove(FRecord);
        PlaceScripted("a", "never", "");
        PlaceScripted("b", "never", "");
        std::vector<std::string> options = {"--station", "--record", FRecord};
        options.insert(options.end(), c.Options.begin(), c.Options.end());
        TCliProcess cli(options);
        ASSERT_TRUE(cli.WaitForStderr("] status: Reading data.", 10s, 2)) << cli.Stderr();
        if (c.Signal)
            cli.Signal(c.Signal);
        EXPECT_EQ(cli.Wait(), c.Exit) << cli.Stderr();
        const std::vector<std::string> result = {"result: failed " + std::string(c.Ending)};
        for (const std::string unit : {"a", "b"})
            EXPECT_EQ(SessionLines(cli.Stderr(), "result: ")[unit], result) << unit;
        const auto records = ReadRecord(FRecord);
        ASSERT_EQ(records.size(), 2u);
        for (const auto& record : records)
            EXPECT_EQ(record["reason"], c.Ending);
    }
}

TEST_F(Station, DeviceTiesARunToTheUnitsItNamesAndListJsonTellsWhereEachIs)
{
    Place("a");
    Place("b");
    TCliProcess list({"--list", "--json"});
    ASSERT_EQ(list.Wait(), 0) << list.Stderr();
    const auto lines = Lines(list.Stdout());
    ASSERT_EQ(lines.size(), 2u) << list.Stdout();
    for (const std::string name : {"a", "b"}) {
        const auto device = nlohmann::json::parse(lines[name == "a" ? 0 : 1]);
        EXPECT_EQ(device,
                  nlohmann::json({{"vendorId", "1209"},
                                  {"productId", "0043"},
                                  {"product", "Quillmark"},
                                  {"path", FUnits.SocketPath(name)},
                                  {"usagePage", "ff00"},
                                  {"usage", "0001"},
                                  {"inputLength", 1025},
                                  {"outputLength", 65},
                                  {"featureLength", 0},
                                  {"location", name},
                                  {"inUse", false}}));
    }
    TCliProcess one({"--list", "--json", "--device", FUnits.SocketPath("b")});
    ASSERT_EQ(one.Wait(), 0);
    EXPECT_EQ(Lines(one.Stdout()).size(), 1u) << one.Stdout();

    TCliProcess single({"--device", "b"});
    EXPECT_EQ(single.Wait(), 0) << single.Stderr();
    TCliProcess station({"--station", "--device", FUnits.SocketPath("a"), "--sessions", "1"});
    EXPECT_EQ(station.Wait(), 0) << station.Stderr();
    EXPECT_EQ(TraceReports(Trace("a"), '>').size(), 2u);
    EXPECT_EQ(TraceReports(Trace("b"), '>').size(), 2u);
}

} // namespace
