#include "SimFixture.h"

#include <csignal>
#include <functional>

namespace simtest {
namespace {

using SimScriptRun = SimFixture;

bool HasSocket(const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries)
        if (entry.size() > 5 && entry.compare(entry.size() - 5, 5, ".sock") == 0)
            return true;
    return false;
}

TEST_F(SimScriptRun, PassingScriptRunsToItsEndAndExitsZero)
{
    std::string data(1500, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    WriteFile("data.bin", data);
    const std::string script = WriteFile("script.txt",
                                         "# a tool's first minute\n"
                                         "expect VER\n"
                                         "send OK 1.0.05\\r\\n\n"
                                         "\n"
                                         "expect-any\n"
                                         "send-hex 4f 4b 0d 0a\n"
                                         "sleep 50\n"
                                         "expect GSER\n"
                                         "upload data.bin size=7 stamp=2026/12/08 20:08:31 name=X.INI\n"
                                         "quiet 100\n");
    const std::string path = Place({"--script", script});
    auto client = OpenClient(path);

    client->SendCommand("VER");
    auto report = client->Receive();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->size(), 1025u);
    EXPECT_EQ(TextOf(*report), "OK 1.0.05\r\n");
    client->SendCommand("anything");
    report = client->Receive();
    ASSERT_TRUE(report);
    EXPECT_EQ(TextOf(*report), "OK\r\n");
    client->SendCommand("GSER");

    std::string problem;
    const auto upload = ReceiveUpload(*client, problem);
    ASSERT_TRUE(upload) << problem << "; stderr: " << FSim->Stderr();
    EXPECT_EQ(upload->Name, "X.INI");
    EXPECT_EQ(upload->StartSize, 1500u);
    EXPECT_EQ(upload->DataNumbers, std::vector<std::uint32_t>{0});
    EXPECT_EQ(upload->EndCount, 484u);
    EXPECT_EQ(upload->File, TBytes(data.begin(), data.end()));
    EXPECT_EQ(upload->InfoSize, 7u);
    EXPECT_EQ(upload->Stamp, "2026/12/08 20:08:31");

    EXPECT_TRUE(FSim->WaitForLine("removed quillmark"));
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
    EXPECT_FALSE(HasSocket(DirectoryEntries()));
}

struct TFailureCase {
    const char* Script;
    std::vector<std::string> Args;
    std::string Access;
    std::function<void(TTestClient&)> Act;
    std::vector<std::string> Says;
};

TEST_F(SimScriptRun, FailingStepExitsOneWithLineAndWhatArrived)
{
    WriteFile("ten.bin", "0123456789");
    const TFailureCase cases[] = {
        {"# comment\n\nexpect VER\nexpect GSER\n",
         {},
         "open rw",
         [](TTestClient& c) {
             c.SendCommand("VER");
             c.SendCommand("SSER X\x01");
         },
         {"script.txt:4: an output report starting with \"GSER\" (hex 47534552): \"SSER X\\x01\" and 57 zero bytes"}},
        {"expect VER\n",
         {"--step-timeout", "0.2"},
         "open rw",
         [](TTestClient&) {},
         {"script.txt:1: an output report starting with \"VER\"", ": nothing arrived within 0.2 s"}},
        {"expect VER\nsend X\nquiet 5000\n",
         {},
         "open rw",
         [](TTestClient& c) {
             c.SendCommand("VER");
             c.SendCommand("EARLY");
         },
         {"script.txt:3: no output report for 5000 ms: \"EARLY\""}},
        {"send OK\n",
         {"--step-timeout", "0.2"},
         "open w",
         [](TTestClient&) {},
         {"script.txt:1: a reader for the input report \"OK\" (hex 4f4b): no connection opened for reading within 0.2 "
          "s"}},
        {"upload ten.bin\n",
         {},
         "open rw",
         [](TTestClient& c) {
             c.Receive();
             c.SendReply(0x1001, 0);
             c.Receive();
             c.SendReply(0x1003, 1);
         },
         {"script.txt:1: UPLR code 4099 status 0 after UPLE: UPLR code 4099 status 1 (refused)"}},
        {"await never\n",
         {"--step-timeout", "0.2"},
         "open rw",
         [](TTestClient&) {},
         {"script.txt:1: the file ", "/never: it did not appear within 0.2 s"}},
    };
    for (const TFailureCase& c : cases) {
        const std::string script = WriteFile("script.txt", c.Script);
        std::vector<std::string> args{"--script", script};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const std::string path = Place(args);
        auto client = OpenClient(path, c.Access);
        c.Act(*client);
        // A quiet window fails on the first report, not at its end.
        EXPECT_EQ(FSim->WaitForExit(std::chrono::seconds(3)), 1) << c.Script;
        EXPECT_NE(FSim->Stderr().find("quillmark-sim: " + script + ":"), std::string::npos) << FSim->Stderr();
        for (const std::string& text : c.Says)
            EXPECT_NE(FSim->Stderr().find(text), std::string::npos) << c.Script << "\nstderr: " << FSim->Stderr();
        EXPECT_NE(FSim->Stdout().find("removed quillmark"), std::string::npos);
        EXPECT_FALSE(HasSocket(DirectoryEntries()));
    }
}

TEST_F(SimScriptRun, MalformedScriptExitsTwoBeforePlacing)
{
    const std::pair<const char*, const char*> cases[] = {
        {"expect VER\nbogus step\n", "script.txt:2: malformed script: unknown keyword \"bogus\""},
        {"send \\q\n", "script.txt:1: malformed script: unknown escape \\q"},
        {"quiet soon\n", "script.txt:1: malformed script: bad number"},
        {"expect VER\n\nupload missing.bin\n", "script.txt:3: malformed script: cannot read"},
    };
    for (const auto& [text, says] : cases) {
        const std::string script = WriteFile("script.txt", text);
        Launch({"--script", script});
        EXPECT_EQ(FSim->WaitForExit(), 2) << text;
        EXPECT_NE(FSim->Stderr().find(says), std::string::npos) << FSim->Stderr();
        EXPECT_EQ(FSim->Stdout(), "") << "nothing placed";
        EXPECT_FALSE(HasSocket(DirectoryEntries()));
    }
}

TEST_F(SimScriptRun, UnplugAndPlugPlaceTheUnitAgainWithANewInstance)
{
    const std::string script = WriteFile("script.txt", "expect VER\nunplug\nplug\nexpect VER\nsend again\n");
    const std::string path = Place({"--script", script});
    auto first = OpenClient(path);
    const std::string firstInstance = first->HelloFields()["instance"];
    first->SendCommand("VER");
    ASSERT_TRUE(FSim->WaitForLine("removed quillmark"));
    const auto closed = first->Receive();
    ASSERT_TRUE(closed);
    EXPECT_TRUE(closed->empty()) << "unplugging closes every connection";

    ASSERT_TRUE(FSim->WaitForLine("placed quillmark " + path));
    auto second = OpenClient(path);
    EXPECT_NE(second->HelloFields()["instance"], firstInstance);
    second->SendCommand("VER");
    const auto answer = second->Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(*answer), "again");
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

TEST_F(SimScriptRun, AwaitHoldsTheScriptUntilTheFileExistsWhileReportsQueue)
{
    const std::string script = WriteFile("script.txt", "await go\nexpect VER\nsend after\n");
    const std::string path = Place({"--script", script, "--step-timeout", "60"});
    auto client = OpenClient(path);
    client->SendCommand("VER");
    EXPECT_FALSE(FSim->WaitForExit(std::chrono::milliseconds(200))) << "the script waits for its file";
    WriteFile("go", "");
    const auto answer = client->Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(*answer), "after");
    EXPECT_EQ(FSim->WaitForExit(), 0) << FSim->Stderr();
}

TEST_F(SimScriptRun, SignalInterruptsAScriptWithExitOne)
{
    const std::string script = WriteFile("script.txt", "expect VER\n");
    Place({"--script", script, "--step-timeout", "60"});
    FSim->Signal(SIGTERM);
    EXPECT_TRUE(FSim->WaitForLine("removed quillmark"));
    EXPECT_EQ(FSim->WaitForExit(), 1);
    EXPECT_NE(FSim->Stderr().find("script.txt:1: interrupted by a signal"), std::string::npos) << FSim->Stderr();
    EXPECT_FALSE(HasSocket(DirectoryEntries()));
}

} // namespace
} // namespace simtest
