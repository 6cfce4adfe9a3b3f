#include "SimFixture.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fstream>
#include <regex>
#include <sys/stat.h>

namespace simtest {
namespace {

using SimUnitSocket = SimFixture;

struct THelloCase {
    std::vector<std::string> Args;
    std::vector<std::string> Lines; // every line but instance, in order
};

TEST_F(SimUnitSocket, HelloDescribesTheUnitInOrder)
{
    const THelloCase cases[] = {
        {{}, {"vid=0x1209", "pid=0x0043", "version=0x0100", "in=1025", "out=65", "access=rw", "product=Quillmark"}},
        {{"--vid", "4617", "--pid", "0x7800", "--in-length", "64", "--out-length", "33", "--access", "query-only",
          "--product", "Quillmark \xc3\x9c=x"},
         {"vid=0x1209", "pid=0x7800", "version=0x0100", "in=64", "out=33", "access=query",
          "product=Quillmark \xc3\x9c=x"}},
    };
    for (const THelloCase& c : cases) {
        const std::string path = Place(c.Args);
        ASSERT_EQ(path, FDir + "/quillmark.sock");
        TTestClient first;
        TTestClient second;
        ASSERT_TRUE(first.Connect(path));
        ASSERT_TRUE(second.Connect(path));

        const std::string& hello = first.Hello();
        EXPECT_NE(hello.back(), '\n') << "product runs to the end of the message";
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (int field = 0; field < 7; ++field) {
            const std::size_t end = hello.find('\n', start);
            ASSERT_NE(end, std::string::npos) << hello;
            lines.push_back(hello.substr(start, end - start));
            start = end + 1;
        }
        lines.push_back(hello.substr(start));
        const std::string instance = lines[6];
        lines.erase(lines.begin() + 6);
        EXPECT_EQ(lines, c.Lines) << hello;
        EXPECT_TRUE(std::regex_match(instance, std::regex("instance=[1-9][0-9]{0,9}"))) << instance;
        EXPECT_LE(std::stoull(instance.substr(9)), 0xffffffffull);
        EXPECT_EQ(second.Hello(), hello) << "one placement, one instance number";

        FSim->Signal(SIGTERM);
        EXPECT_EQ(FSim->WaitForExit(), 0);
    }
}

TEST_F(SimUnitSocket, QueryOnlyUnitRefusesReadAndWriteOpens)
{
    const std::string path = Place({"--access", "query-only"});
    auto query = OpenClient(path, "open q");
    auto reader = OpenClient(path, "open r");
    const auto closed = reader->Receive();
    ASSERT_TRUE(closed);
    EXPECT_TRUE(closed->empty()) << "the unit closes a refused connection";
    EXPECT_TRUE(FSim->WaitForStderr("query-only unit refuses \"open r\""));
    EXPECT_FALSE(query->Receive(std::chrono::milliseconds(0)));
}

TEST_F(SimUnitSocket, BadMessagesAreReportedAndIgnored)
{
    const std::string path = Place({});
    TTestClient enumerator;
    ASSERT_TRUE(enumerator.Connect(path));
    enumerator.Close();
    auto garbage = OpenClient(path, "hello there");
    auto writer = OpenClient(path, "open w");
    auto reader = OpenClient(path, "open r");

    EXPECT_TRUE(FSim->WaitForStderr("sent \"hello there\""));
    reader->SendCommand("VER");
    EXPECT_TRUE(FSim->WaitForStderr("connection opened without write access"));
    writer->SendCommand("VER", 64);
    EXPECT_TRUE(FSim->WaitForStderr("output report of 64 bytes, expected exactly 65"));
    writer->SendCommand("VER", 66);
    EXPECT_TRUE(FSim->WaitForStderr("output report of more than 65 bytes"));
    writer->SendRaw(TBytes(100000, 'x'));

    writer->SendCommand("GSER");
    const auto answer = reader->Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(*answer).substr(0, 5), "OK P2") << "only the well-formed GSER was answered";
    EXPECT_FALSE(writer->Receive(std::chrono::milliseconds(0))) << "a write-only connection gets no input reports";
    FSim->Signal(SIGTERM);
    ASSERT_EQ(FSim->WaitForExit(), 0);
    const std::string& errors = FSim->Stderr();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 5)
        << "one line per bad message, none for the enumeration:\n"
        << errors;
}

TEST_F(SimUnitSocket, AnswerWaitsForAReaderAndGoesToEveryReader)
{
    const std::string path = Place({});
    auto writer = OpenClient(path, "open w");
    writer->SendCommand("VER");
    // The unit holds the answer until a reader opens.
    auto first = OpenClient(path, "open r");
    const auto version = first->Receive();
    ASSERT_TRUE(version);
    EXPECT_EQ(TextOf(*version), "OK 1.0.05\r\n");

    // Its own open is handled before its command, so the answer finds both readers.
    auto second = OpenClient(path, "open rw");
    second->SendCommand("GSER");
    const auto one = first->Receive();
    const auto two = second->Receive();
    ASSERT_TRUE(one);
    ASSERT_TRUE(two);
    EXPECT_EQ(TextOf(*one).substr(0, 3), "OK ");
    EXPECT_EQ(*one, *two);
    EXPECT_FALSE(writer->Receive(std::chrono::milliseconds(0)));
}

TEST_F(SimUnitSocket, AnswerIsDroppedWhenNoReaderComes)
{
    const std::string path = Place({"--step-timeout", "0.2"});
    auto writer = OpenClient(path, "open w");
    writer->SendCommand("VER");
    EXPECT_TRUE(FSim->WaitForStderr("no connection opened for reading within 0.2 s; answer to \"VER\""));
    auto reader = OpenClient(path, "open rw");
    reader->SendCommand("GSER");
    const auto answer = reader->Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(*answer).substr(0, 3), "OK ") << "the dropped VER answer never arrives";
    EXPECT_NE(TextOf(*answer), "OK 1.0.05\r\n");
}

TEST_F(SimUnitSocket, SignalTakesEveryUnitOutAndExitsZero)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        Launch({"--count", "2", "--name", "cradle"});
        const auto first = FSim->WaitForLine("placed ");
        const auto second = FSim->WaitForLine("placed ");
        ASSERT_TRUE(first && second) << FSim->Stderr();
        EXPECT_EQ(*first, "placed cradle-1 " + FDir + "/cradle-1.sock");
        EXPECT_EQ(*second, "placed cradle-2 " + FDir + "/cradle-2.sock");
        auto client = OpenClient(FDir + "/cradle-2.sock");

        FSim->Signal(signal);
        EXPECT_TRUE(FSim->WaitForLine("removed cradle-1"));
        EXPECT_TRUE(FSim->WaitForLine("removed cradle-2"));
        EXPECT_EQ(FSim->WaitForExit(), 0);
        const auto closed = client->Receive();
        ASSERT_TRUE(closed);
        EXPECT_TRUE(closed->empty());
        EXPECT_TRUE(DirectoryEntries().empty()) << "sockets unlinked, no hidden leftovers";
    }
}

TEST_F(SimUnitSocket, PlacingOverALiveUnitFailsButALeftoverIsReplaced)
{
    const std::string path = Place({});
    TSimProcess rival({"--dir", FDir});
    EXPECT_EQ(rival.WaitForExit(), 2);
    EXPECT_NE(rival.Stderr().find("already placed by another process"), std::string::npos) << rival.Stderr();
    FSim->Signal(SIGKILL);
    FSim->WaitForExit();
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"quillmark.sock"});

    EXPECT_EQ(Place({}), path);
    auto client = OpenClient(path);
    client->SendCommand("VER");
    EXPECT_TRUE(client->Receive());
}

TEST_F(SimUnitSocket, TraceRecordsEveryReportInBothDirections)
{
    const std::string trace = FDir + "/trace.txt";
    const std::string path = Place({"--trace", trace, "--out-length", "8", "--in-length", "8"});
    auto client = OpenClient(path);
    client->SendCommand("VER", 8);
    ASSERT_TRUE(client->Receive());
    FSim->Signal(SIGTERM);
    ASSERT_EQ(FSim->WaitForExit(), 0);

    std::ifstream file(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    const std::regex format(R"(([0-9]{10,})\.[0-9]{6} ([<>]) ([0-9a-f]+))");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, format)) << lines[0];
    EXPECT_EQ(match[2], ">");
    EXPECT_EQ(match[3], "0056455200000000");
    EXPECT_NEAR(std::stoll(match[1]), static_cast<long long>(std::time(nullptr)), 60);
    ASSERT_TRUE(std::regex_match(lines[1], match, format)) << lines[1];
    EXPECT_EQ(match[2], "<");
    EXPECT_EQ(match[3], "004f4b20312e302e") << "cut to in-length with a warning";
    EXPECT_NE(FSim->Stderr().find("cut to 7"), std::string::npos) << FSim->Stderr();
}

struct TUsageCase {
    std::vector<std::string> Args;
    const char* Says;
};

TEST_F(SimUnitSocket, UsageErrorsExitTwoWithoutPlacing)
{
    const TUsageCase cases[] = {
        {{"--frob"}, "unknown option --frob"},
        {{"--vid", "0xZZ"}, "quillmark-sim: --vid: bad value \"0xZZ\"\nRun with --help for more.\n"},
        {{"--frob", "--firmware", "1"}, "quillmark-sim: unknown option --frob\nRun with --help for more.\n"},
        {{"--step-timeout"}, "--step-timeout"},
        {{"--script", "x", "--count", "2"}, "--count 2"},
        {{"--info-file", "/nonexistent/info"}, "/nonexistent/info"},
        {{"--script", "/nonexistent/script"}, "/nonexistent/script"},
    };
    for (const TUsageCase& c : cases) {
        Launch(c.Args);
        EXPECT_EQ(FSim->WaitForExit(), 2) << c.Says;
        EXPECT_NE(FSim->Stderr().find(c.Says), std::string::npos) << FSim->Stderr();
        EXPECT_EQ(FSim->Stdout(), "");
    }
    EXPECT_TRUE(DirectoryEntries().empty());

    Launch({"--help"});
    EXPECT_EQ(FSim->WaitForExit(), 0);
    EXPECT_NE(FSim->Stdout().find("--step-timeout"), std::string::npos);
    Launch({"-V"});
    EXPECT_EQ(FSim->WaitForExit(), 0);
    EXPECT_EQ(FSim->Stdout().rfind("quillmark-sim ", 0), 0u) << FSim->Stdout();
}

TEST_F(SimUnitSocket, UnusableUnitDirectoryExitsTwo)
{
    ASSERT_EQ(::chmod(FDir.c_str(), 0777), 0);
    Launch({});
    EXPECT_EQ(FSim->WaitForExit(), 2);
    EXPECT_NE(FSim->Stderr().find("writable by group or others"), std::string::npos) << FSim->Stderr();
    EXPECT_TRUE(DirectoryEntries().empty());
}

} // namespace
} // namespace simtest
