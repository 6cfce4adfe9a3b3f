#include "sim/Script.h"

#include <gtest/gtest.h>

namespace {

using sim::TBytes;
using sim::TScript;
using sim::TScriptError;
using sim::TStepKind;

TBytes Bytes(const std::string& text)
{
    return TBytes(text.begin(), text.end());
}

struct TEscapeCase {
    const char* Text;
    TBytes Expected;
};

TEST(SimEscapes, ResolveEveryKnownEscapeAndKeepTheRestLiteral)
{
    const TEscapeCase cases[] = {
        {"plain text", Bytes("plain text")},
        {"OK\\r\\n", Bytes("OK\r\n")},
        {"a\\tb", Bytes("a\tb")},
        {"\\0\\0", TBytes{0, 0}},
        {"\\x4F\\x4b\\xff", TBytes{'O', 'K', 0xff}},
        {"back\\\\slash", Bytes("back\\slash")},
        {"\\\\x41", Bytes("\\x41")},
        {"  spaces kept  ", Bytes("  spaces kept  ")},
        {"", TBytes{}},
    };
    for (const TEscapeCase& c : cases) {
        std::string error;
        const auto bytes = sim::ParseEscapes(c.Text, error);
        ASSERT_TRUE(bytes) << c.Text << ": " << error;
        EXPECT_EQ(*bytes, c.Expected) << c.Text;
    }
}

TEST(SimEscapes, RejectUnknownOrIncompleteEscapes)
{
    for (const char* text : {"\\q", "abc\\", "\\x4", "\\xg1", "\\x", "\\R"}) {
        std::string error;
        EXPECT_FALSE(sim::ParseEscapes(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(SimScriptParse, ReadsStepsWithTheirLineNumbers)
{
    const std::string text = "# a comment\r\n"
                             "\n"
                             "expect VER\r\n"
                             "send OK 1.0.05\\r\\n\n"
                             "expect-any\n"
                             "send-hex 4f 4B 0d\t0a\n"
                             "quiet 250\n"
                             "sleep 0\n"
                             "unplug\n"
                             "plug\n"
                             "expect  two spaces\n"
                             "upload info.bin size=0x10 stamp=2026/12/08 20:08:31 name=OTHER\\x20.INI\n"
                             "upload /abs/file\n"
                             "await go on";
    TScript script;
    TScriptError error;
    ASSERT_TRUE(script.Parse(text, error)) << error.Line << ": " << error.Message;
    const auto& steps = script.Steps();
    ASSERT_EQ(steps.size(), 12u);

    const std::pair<TStepKind, int> kinds[] = {
        {TStepKind::Expect, 3},  {TStepKind::Send, 4},    {TStepKind::ExpectAny, 5}, {TStepKind::Send, 6},
        {TStepKind::Quiet, 7},   {TStepKind::Sleep, 8},   {TStepKind::Unplug, 9},    {TStepKind::Plug, 10},
        {TStepKind::Expect, 11}, {TStepKind::Upload, 12}, {TStepKind::Upload, 13},   {TStepKind::Await, 14}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].Kind, kinds[i].first) << "step " << i;
        EXPECT_EQ(steps[i].Line, kinds[i].second) << "step " << i;
    }
    EXPECT_EQ(steps[0].Bytes, Bytes("VER")) << "a CR of a CRLF line end is not part of the text";
    EXPECT_EQ(steps[1].Bytes, Bytes("OK 1.0.05\r\n"));
    EXPECT_EQ(steps[3].Bytes, (TBytes{0x4f, 0x4b, 0x0d, 0x0a}));
    EXPECT_EQ(steps[4].Milliseconds, 250u);
    EXPECT_EQ(steps[8].Bytes, Bytes(" two spaces"));

    const auto& upload = steps[9];
    EXPECT_EQ(upload.File, "info.bin");
    ASSERT_TRUE(upload.Size);
    EXPECT_EQ(*upload.Size, 16u);
    ASSERT_TRUE(upload.Stamp);
    EXPECT_EQ(*upload.Stamp, "2026/12/08 20:08:31");
    EXPECT_EQ(upload.Name, "OTHER .INI");
    EXPECT_EQ(steps[10].File, "/abs/file");
    EXPECT_FALSE(steps[10].Size);
    EXPECT_FALSE(steps[10].Stamp);
    EXPECT_EQ(steps[10].Name, "RGINFO.INI");
    EXPECT_EQ(steps[11].File, "go on");
}

struct TMalformedCase {
    const char* Script;
    int Line;
    const char* Says;
};

TEST(SimScriptParse, MalformedLinesAreReportedWithTheirLineNumber)
{
    const TMalformedCase cases[] = {
        {"expect VER\nfrobnicate x\n", 2, "unknown keyword"},
        {"Expect VER\n", 1, "unknown keyword"},
        {"expect\tVER\n", 1, "unknown keyword"},
        {"\n\nsend OK\\q\n", 3, "unknown escape"},
        {"expect\n", 1, "expect needs a text"},
        {"expect-any now\n", 1, "no argument"},
        {"quiet\n", 1, "milliseconds"},
        {"quiet 1.5\n", 1, "milliseconds"},
        {"sleep -3\n", 1, "milliseconds"},
        {"sleep 99999999999\n", 1, "milliseconds"},
        {"send-hex 4f 4\n", 1, "bad hex byte"},
        {"send-hex 4fx\n", 1, "bad hex byte"},
        {"send-hex \n", 1, "at least one byte"},
        {"upload\n", 1, "needs a file"},
        {"await\n", 1, "needs a file"},
        {"await \\q\n", 1, "unknown escape"},
        {"upload f size=12x\n", 1, "bad size"},
        {"upload f size=-1\n", 1, "bad size"},
        {"upload f size=4294967296\n", 1, "bad size"},
        {"upload f name=A name=B\n", 1, "twice"},
        {"upload f stamp=\\z\n", 1, "unknown escape"},
        {"plug\n", 1, "already placed"},
        {"unplug\nexpect VER\nunplug\n", 3, "already out"},
    };
    for (const TMalformedCase& c : cases) {
        TScript script;
        TScriptError error;
        EXPECT_FALSE(script.Parse(c.Script, error)) << c.Script;
        EXPECT_EQ(error.Line, c.Line) << c.Script;
        EXPECT_NE(error.Message.find(c.Says), std::string::npos) << c.Script << " -> " << error.Message;
    }
}

TEST(SimScriptParse, UploadedAndAwaitedFilesAreRelativeToTheScript)
{
    char pattern[] = "/tmp/quillmark-script-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string contents("a\0b", 3);
    FILE* file = std::fopen((dir + "/data.bin").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);

    TScript found;
    TScriptError error;
    ASSERT_TRUE(found.Parse("upload data.bin\n", error));
    EXPECT_TRUE(found.LoadFiles(dir, error)) << error.Message;
    EXPECT_EQ(found.Steps()[0].FileContents, Bytes(contents));

    TScript awaited;
    ASSERT_TRUE(awaited.Parse("await go\nawait /abs/go\n", error));
    EXPECT_TRUE(awaited.LoadFiles(dir, error)) << error.Message;
    EXPECT_EQ(awaited.Steps()[0].File, dir + "/go");
    EXPECT_EQ(awaited.Steps()[1].File, "/abs/go");

    TScript missing;
    ASSERT_TRUE(missing.Parse("expect VER\nupload missing.bin\n", error));
    EXPECT_FALSE(missing.LoadFiles(dir, error));
    EXPECT_EQ(error.Line, 2);
    EXPECT_NE(error.Message.find("missing.bin"), std::string::npos);

    ::unlink((dir + "/data.bin").c_str());
    ::rmdir(dir.c_str());
}

} // namespace
