#include "sim/BehaviourModel.h"
#include "sim/Options.h"

#include <gtest/gtest.h>

namespace {

using sim::TBehaviourModel;
using Kind = TBehaviourModel::TAnswerKind;

struct TCommandCase {
    const char* Command;
    Kind Expected;
    const char* Text;
};

TEST(SimBehaviourModel, AnswersEachCommandAsTheUnitDoes)
{
    sim::TModelSettings settings;
    settings.Version = "2.1.07";
    settings.Pcb = "P1";
    settings.Bat = "B2210C000388";
    settings.Ser = "S3";
    const TCommandCase cases[] = {
        {"VER", Kind::Report, "OK 2.1.07\r\n"}, {"GSER", Kind::Report, "OK P1           B2210C000388 S3          \r\n"},
        {"UPLS RGINFO.INI", Kind::Upload, ""},  {"UPLS OTHER.INI", Kind::Report, "NG\r\n"},
        {"UPLS", Kind::Report, "NG\r\n"},       {"ver", Kind::Report, "NG\r\n"},
        {"VER ", Kind::Report, "NG\r\n"},       {"", Kind::Report, "NG\r\n"},
        {"UPLR\x01\x10", Kind::StrayReply, ""},
    };
    for (const TCommandCase& c : cases) {
        TBehaviourModel model(settings);
        const auto answer = model.AnswerCommand(c.Command);
        EXPECT_EQ(answer.Kind, c.Expected) << c.Command;
        EXPECT_EQ(answer.Text, c.Text) << c.Command;
    }
}

struct TSerialCase {
    const char* Command;
    sim::TSserReply Reply;
    Kind ExpectedKind;
    const char* ExpectedText;
    bool Stored;
};

TEST(SimBehaviourModel, SerialWriteStoresOnlyWellFormedNumbersAndAnswersPerOption)
{
    using sim::TSserReply;
    const TSerialCase cases[] = {
        {"SSER 111111111111 222222222222 333333333333", TSserReply::Ok, Kind::Report, "OK\r\n", true},
        {"SSER 1 2 3", TSserReply::Ok, Kind::Report, "OK\r\n", true},
        {"SSER 1 2 3", TSserReply::None, Kind::Silent, "", true},
        {"SSER 1 2 3", TSserReply::Ng, Kind::Report, "NG\r\n", false},
        {"SSER 1 2", TSserReply::Ok, Kind::Report, "NG\r\n", false},
        {"SSER 1 2 3 4", TSserReply::Ok, Kind::Report, "NG\r\n", false},
        {"SSER 1  2 3", TSserReply::Ok, Kind::Report, "NG\r\n", false},
        {"SSER 1 2 3 ", TSserReply::Ok, Kind::Report, "NG\r\n", false},
        {"SSER 1234567890123 2 3", TSserReply::Ok, Kind::Report, "NG\r\n", false},
        {"SSER ", TSserReply::Ok, Kind::Report, "NG\r\n", false},
        {"SSER", TSserReply::Ok, Kind::Report, "NG\r\n", false},
    };
    for (const TSerialCase& c : cases) {
        sim::TModelSettings settings;
        settings.SserReply = c.Reply;
        TBehaviourModel model(settings);
        const auto answer = model.AnswerCommand(c.Command);
        EXPECT_EQ(answer.Kind, c.ExpectedKind) << c.Command;
        EXPECT_EQ(answer.Text, c.ExpectedText) << c.Command;
        const std::string gser = model.AnswerCommand("GSER").Text;
        const bool stored = gser != TBehaviourModel(settings).AnswerCommand("GSER").Text;
        EXPECT_EQ(stored, c.Stored) << c.Command << " -> " << gser;
    }
}

std::vector<std::string> Lines(const sim::TBytes& file)
{
    std::vector<std::string> lines;
    std::string text(file.begin(), file.end());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST(SimBehaviourModel, BuiltInInfoFileHoldsExactlyTheThreeCurrentItemLines)
{
    TBehaviourModel model(sim::TModelSettings{});
    ASSERT_EQ(model.AnswerCommand("SSER PCB9 BAT8 SER7").Text, "OK\r\n");
    std::vector<std::string> items;
    for (const std::string& line : Lines(model.InfoFile())) {
        if (line.find("ser") != std::string::npos || line.find("pcb") != std::string::npos
            || line.find("bat") != std::string::npos)
            items.push_back(line);
    }
    EXPECT_EQ(items, (std::vector<std::string>{"ser SER7", "pcb PCB9", "bat BAT8"}));
}

TEST(SimBehaviourModel, GivenInfoFileIsSentUnchanged)
{
    sim::TModelSettings settings;
    settings.InfoFile = sim::TBytes{'x', 0, 'y'};
    TBehaviourModel model(settings);
    model.AnswerCommand("SSER 1 2 3");
    EXPECT_EQ(model.InfoFile(), (sim::TBytes{'x', 0, 'y'}));
}

sim::TParseOutcome Parse(std::vector<const char*> args, sim::TSimOptions& options, std::string& error)
{
    args.insert(args.begin(), "quillmark-sim");
    return sim::ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(SimOptions, NumbersTakeCNotationAndBothOptionForms)
{
    sim::TSimOptions options;
    std::string error;
    ASSERT_EQ(Parse({"--vid", "4617", "--pid=0x7800", "--step-timeout", "0.25", "--in-length", "0x41",
                     "--access=query-only", "--sser-reply", "none", "--count", "3", "--name", "q"},
                    options, error),
              sim::TParseOutcome::Run)
        << error;
    EXPECT_EQ(options.Unit.VendorId, 0x1209);
    EXPECT_EQ(options.Unit.ProductId, 0x7800);
    EXPECT_EQ(options.StepTimeout.count(), 250);
    EXPECT_EQ(options.Unit.InLength, 65u);
    EXPECT_TRUE(options.Unit.QueryOnly);
    EXPECT_EQ(options.Model.SserReply, sim::TSserReply::None);
    EXPECT_EQ(options.Count, 3u);
    EXPECT_EQ(options.Unit.Name, "q");
}

TEST(SimOptions, FirmwareAndVersionTextAreOneOptionAndDashVIsTheProgramsVersion)
{
    const struct {
        std::vector<const char*> Args;
        sim::TParseOutcome Outcome;
        std::string Firmware;
    } cases[] = {
        {{"--firmware", "2.0.01"}, sim::TParseOutcome::Run, "2.0.01"},
        {{"--version=2.0.02"}, sim::TParseOutcome::Run, "2.0.02"},
        {{"--version", "1.0", "--firmware", "2.0.03"}, sim::TParseOutcome::Run, "2.0.03"},
        {{"-V"}, sim::TParseOutcome::Version, "1.0.05"},
    };
    for (const auto& c : cases) {
        sim::TSimOptions options;
        std::string error;
        EXPECT_EQ(Parse(c.Args, options, error), c.Outcome) << c.Args.front() << ": " << error;
        EXPECT_EQ(options.Model.Version, c.Firmware);
    }
}

TEST(SimOptions, BadOptionsAndValuesAreRefused)
{
    const std::vector<std::vector<const char*>> cases = {
        {"--frob"},
        {"--vid"},
        {"--vid", "0x10000"},
        {"--vid", "12ab"},
        {"--pid", "-1"},
        {"--count", "0"},
        {"--in-length", "0"},
        {"--out-length", "70000"},
        {"--access", "ro"},
        {"--sser-reply", "ok"},
        {"--step-timeout", "0"},
        {"--step-timeout", "soon"},
        {"--step-timeout", "nan"},
        {"--name", ".hidden"},
        {"--name", "a/b"},
        {"--name", ""},
        {"--script", "s.txt", "--count", "2"},
        {"--version"},
    };
    for (const auto& args : cases) {
        sim::TSimOptions options;
        std::string error;
        EXPECT_EQ(Parse(args, options, error), sim::TParseOutcome::Error) << args.front();
        EXPECT_FALSE(error.empty()) << args.front();
    }
}

TEST(SimOptions, HelpDocumentsEveryOption)
{
    const std::string help = sim::HelpText();
    for (const char* option :
         {"--dir",    "--name",         "--count",    "--vid",  "--pid", "--product",   "--in-length", "--out-length",
          "--access", "--version",      "--firmware", "--pcb",  "--bat", "--ser",       "--info-file", "--sser-reply",
          "--script", "--step-timeout", "--trace",    "--help", "-V",    "--usb-serial"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

} // namespace
