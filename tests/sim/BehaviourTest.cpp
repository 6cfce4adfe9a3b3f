#include "SimFixture.h"

#include <algorithm>
#include <csignal>
#include <regex>

namespace simtest {
namespace {

using SimBehaviour = SimFixture;

std::string Ask(TTestClient& client, const std::string& command)
{
    if (!client.SendCommand(command))
        return "(send failed)";
    const auto answer = client.Receive();
    return answer ? TextOf(*answer) : "(nothing)";
}

TEST_F(SimBehaviour, AnswersAreWholeZeroFilledInputReports)
{
    const std::string path = Place({"--version", "9.8.76", "--pcb", "P1", "--bat", "B22", "--ser", "S333"});
    auto client = OpenClient(path);
    const std::pair<const char*, std::string> cases[] = {
        {"VER", "OK 9.8.76\r\n"},
        {"GSER", "OK P1           B22          S333        \r\n"},
        {"FROB", "NG\r\n"},
        {"UPLS OTHER.INI", "NG\r\n"},
    };
    for (const auto& [command, text] : cases) {
        ASSERT_TRUE(client->SendCommand(command));
        const auto report = client->Receive();
        ASSERT_TRUE(report) << command;
        ASSERT_EQ(report->size(), 1025u) << command;
        EXPECT_EQ((*report)[0], 0) << "report ID";
        EXPECT_EQ(std::string(report->begin() + 1, report->begin() + 1 + text.size()), text) << command;
        EXPECT_TRUE(std::all_of(report->begin() + 1 + text.size(), report->end(), [](auto b) { return b == 0; }))
            << command;
    }
}

struct TSerialWriteCase {
    const char* Reply; // --sser-reply
    const char* Command;
    const char* Answer; // null: none
    const char* GserAfter;
};

TEST_F(SimBehaviour, SerialWriteAnswersPerOptionAndGserShowsWhatWasStored)
{
    const char* const Original = "OK P2301A000417 B2210C000388 QM0000012345\r\n";
    const TSerialWriteCase cases[] = {
        {"OK", "SSER A1 B2 C3", "OK\r\n", "OK A1           B2           C3          \r\n"},
        {"none", "SSER A1 B2 C3", nullptr, "OK A1           B2           C3          \r\n"},
        {"NG", "SSER A1 B2 C3", "NG\r\n", Original},
        {"OK", "SSER A1 B2", "NG\r\n", Original},
        {"OK", "SSER A1 B2 C3 D4", "NG\r\n", Original},
        {"OK", "SSER 1234567890123 B2 C3", "NG\r\n", Original},
    };
    for (const TSerialWriteCase& c : cases) {
        const std::string path = Place({"--sser-reply", c.Reply});
        auto client = OpenClient(path);
        if (c.Answer) {
            EXPECT_EQ(Ask(*client, c.Command), c.Answer) << c.Command;
        } else {
            ASSERT_TRUE(client->SendCommand(c.Command));
        }
        // Reports keep their order, so an unwanted SSER answer would show up here instead.
        EXPECT_EQ(Ask(*client, "GSER"), c.GserAfter) << c.Reply << " " << c.Command;
    }
}

TEST_F(SimBehaviour, UploadDeliversTheGivenInfoFile)
{
    for (const std::size_t size : {std::size_t{0}, std::size_t{1016}, std::size_t{2500}}) {
        std::string contents(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            contents[i] = static_cast<char>((i * 31 + 7) % 256);
        const std::string file = WriteFile("info.bin", contents);
        const std::string path = Place({"--info-file", file});
        auto client = OpenClient(path);
        ASSERT_TRUE(client->SendCommand("UPLS RGINFO.INI"));
        std::string problem;
        const auto upload = ReceiveUpload(*client, problem);
        ASSERT_TRUE(upload) << problem << "; stderr: " << FSim->Stderr();

        EXPECT_EQ(upload->StartSize, size);
        EXPECT_EQ(upload->Name, "RGINFO.INI");
        EXPECT_NEAR(static_cast<double>(upload->TimeStamp), static_cast<double>(std::time(nullptr)), 120.0);
        std::vector<std::uint32_t> numbers(size / 1016);
        for (std::size_t n = 0; n < numbers.size(); ++n)
            numbers[n] = static_cast<std::uint32_t>(n);
        EXPECT_EQ(upload->DataNumbers, numbers);
        EXPECT_EQ(upload->EndCount, size % 1016);
        EXPECT_EQ(upload->File, TBytes(contents.begin(), contents.end()));
        EXPECT_EQ(upload->InfoSize, size);
        EXPECT_TRUE(std::regex_match(upload->Stamp, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)"))) << upload->Stamp;
        EXPECT_EQ(Ask(*client, "VER"), "OK 1.0.05\r\n") << "the unit answers again after UPLI";
    }
}

TEST_F(SimBehaviour, BuiltInInfoFileCarriesTheStoredNumbers)
{
    const std::string path = Place({});
    auto client = OpenClient(path);
    ASSERT_EQ(Ask(*client, "SSER PCB1 BAT2 SER3"), "OK\r\n");
    ASSERT_TRUE(client->SendCommand("UPLS RGINFO.INI"));
    std::string problem;
    const auto upload = ReceiveUpload(*client, problem);
    ASSERT_TRUE(upload) << problem;
    const std::string text(upload->File.begin(), upload->File.end());
    EXPECT_EQ(upload->InfoSize, text.size());
    EXPECT_NE(text.find("\r\nser SER3\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\npcb PCB1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nbat BAT2\r\n"), std::string::npos) << text;
}

struct TBadReplyCase {
    std::uint32_t Code;
    std::uint32_t Status;
    const char* Says;
};

TEST_F(SimBehaviour, BadReplyEndsTheUploadWithAMessage)
{
    const TBadReplyCase cases[] = {
        {0x1002, 1, "expected UPLR code 4098 status 0 after UPLD 0; instead: UPLR code 4098 status 1 (refused)"},
        {0x1001, 0, "after UPLD 0; instead: UPLR code 4097 status 0"},
    };
    for (const TBadReplyCase& c : cases) {
        const std::string file = WriteFile("info.bin", std::string(2500, 'i'));
        const std::string path = Place({"--info-file", file});
        auto client = OpenClient(path);
        ASSERT_TRUE(client->SendCommand("UPLS RGINFO.INI"));
        const auto start = client->Receive();
        ASSERT_TRUE(start);
        ASSERT_EQ(TextOf(*start).substr(0, 4), "UPLS");
        client->SendReply(0x1001, 0);
        const auto data = client->Receive();
        ASSERT_TRUE(data);
        ASSERT_EQ(TextOf(*data).substr(0, 4), "UPLD");
        client->SendReply(c.Code, c.Status);
        EXPECT_TRUE(FSim->WaitForStderr(c.Says)) << FSim->Stderr();
        EXPECT_EQ(Ask(*client, "VER"), "OK 1.0.05\r\n") << "no further packet after the bad reply";
    }
}

TEST_F(SimBehaviour, OtherReportDuringUploadOrMissingReplyEndsIt)
{
    const std::string path = Place({"--step-timeout", "0.3"});
    auto client = OpenClient(path);
    ASSERT_TRUE(client->SendCommand("UPLS RGINFO.INI"));
    ASSERT_TRUE(client->Receive());
    ASSERT_TRUE(client->SendCommand("GSER"));
    EXPECT_TRUE(FSim->WaitForStderr("expected UPLR code 4097 status 0 after UPLS; instead: \"GSER\""));

    ASSERT_TRUE(client->SendCommand("UPLS RGINFO.INI"));
    ASSERT_TRUE(client->Receive());
    EXPECT_TRUE(FSim->WaitForStderr("after UPLS; instead: nothing arrived within 0.3 s"));
    EXPECT_EQ(Ask(*client, "VER"), "OK 1.0.05\r\n");
}

} // namespace
} // namespace simtest
