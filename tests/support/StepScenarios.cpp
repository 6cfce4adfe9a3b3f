#include "StepScenarios.h"

#include "hid/HidDevice.h"
#include "rtl/MainThreadQueue.h"

#include <gtest/gtest.h>

namespace testsupport {

namespace {

constexpr std::size_t InputReportBytes = 1024;
constexpr std::size_t TimeStampLength = 22;

// As the unit sends it: the text, zero bytes up to the input report's length.
std::string Report(std::string text)
{
    text.resize(InputReportBytes, '\0');
    return text;
}

std::string Answer(const std::string& text)
{
    return Report(text + "\r\n");
}

std::string Dword(std::uint32_t value)
{
    return app::TForm1::PackDword(static_cast<std::int32_t>(value));
}

const std::string File = "pcb PCB0001\r\nbat BAT0002\r\nser SER0003\r\n";
const std::string Stamp = "2026/12/09 10:00:00";
const std::string Block = "OK PCB000000001 BAT000000002 SER000000003";
const std::string OtherBlock = "OK PCB000000009 BAT000000008 SER000000007";
const std::string UploadStart = Report("UPLS" + Dword(File.size()) + Dword(0x5A0C1E00) + "RGINFO.INI");
const std::string UploadEnd = Report("UPLE" + Dword(File.size()) + File);
const std::string UploadInfo = Report("UPLI" + Dword(File.size()) + Stamp);

const std::string Version = "  \x83\x6F\x81\x5B\x83\x57\x83\x87\x83\x93"
                            "1.0.05"; // バージョン
const std::string FirmwareType = "  \x46\x57\x83\x5E\x83\x43\x83\x76"
                                 "2"; // FWタイプ
const std::string FileData = "  \x83\x74\x83\x40\x83\x43\x83\x8B\x83\x66\x81\x5B\x83\x5E\x8E\xE6\x93\xBE";
const std::string VerifyNg = "  Error : Verify NG. fileSize:" + std::to_string(File.size()) + " timeStamp:" + Stamp;

// The log up to the request for the serial block, with the version read.
std::vector<std::string> UpToGser()
{
    return {"  Connect device : Quillmark",
            "  2 status",
            ">>VER",
            "<< OK 1.0.05",
            "  3 status",
            Version,
            FirmwareType,
            ">>GSER"};
}

template <class T> std::vector<T> Then(std::vector<T> head, const std::vector<T>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const std::vector<TCue> ReadUpToGser = {{">>VER", {Answer("OK 1.0.05")}}, {">>GSER", {Answer(Block)}}};

// An expected message matches the same text; "<< TEXT" an incoming report whose printable form
// begins with TEXT; "TEXT*" any message that begins with TEXT.
bool Matches(const std::string& expected, const std::string& message)
{
    if (expected.rfind("<< ", 0) == 0) {
        const std::size_t dash = message.find('-');
        return message.rfind("<<", 0) == 0 && dash != std::string::npos
            && message.compare(dash + 1, expected.size() - 3, expected, 3) == 0;
    }
    if (!expected.empty() && expected.back() == '*')
        return message.compare(0, expected.size() - 1, expected, 0, expected.size() - 1) == 0;
    return message == expected;
}

} // namespace

std::string Message(const std::string& line)
{
    return line.size() > TimeStampLength ? line.substr(TimeStampLength) : std::string();
}

const std::vector<TStepScenario>& StepScenarios()
{
    static const std::vector<TStepScenario> scenarios = {
        {"TwoAnswersToVerTheSecondTaken",
         {{">>VER", {Answer("OK 1.0.05"), Answer("NG")}}},
         {},
         {},
         {"  Connect device : Quillmark", "  2 status", ">>VER", "<< OK 1.0.05", "<< NG", "  3 status", "  99 status"}},
        {"TwoAnswersToGserTheSecondTaken",
         {{">>VER", {Answer("OK 1.0.05")}}, {">>GSER", {Answer(Block), Answer(OtherBlock)}}},
         {false},
         {},
         Then(UpToGser(), {"<< " + Block, "<< " + OtherBlock, "  5 status", "  99 status"})},
        {"TwoAnswersToSserTheSecondTaken",
         Then(ReadUpToGser,
              {{">>UPLS RGINFO.INI", {UploadStart}},
               {">>UPLR", {UploadEnd}},
               {">>UPLR", {UploadInfo}},
               {">>SSER", {Answer("NG"), Answer("OK")}}}),
         {true, true},
         {},
         Then(UpToGser(),
              {"<< " + Block, "  5 status", ">>UPLS RGINFO.INI", "<< UPLS", "  4 status",
               "<<Upload : Started. fileName:RGINFO.INI", ">>UPLR*", "<< UPLE", ">>UPLR*", FileData, "<< UPLI",
               "  Verify : OK. fileSize:*", "<<Upload : Done", ">>SSER *", "<< NG", "<< OK", "  6 status",
               "  99 status"})},
        {"TwoUploadPacketsTheSecondTaken",
         Then(ReadUpToGser, {{">>UPLS RGINFO.INI", {UploadStart, UploadEnd}}, {">>UPLR", {UploadInfo}}}),
         {true},
         {},
         Then(UpToGser(),
              {"<< " + Block, "  5 status", ">>UPLS RGINFO.INI", "<< UPLS", "<< UPLE", "  4 status",
               "<<Error : Failed to upload file.", ">>UPLR*", FileData, "<< UPLI", VerifyNg, "  99 status"})},
        {"ARemovalQueuedBehindAnAnswerComesBeforeTheStep",
         {{">>VER", {Answer("OK 1.0.05"), Removal}}},
         {},
         {},
         {"  Connect device : Quillmark", "  2 status", ">>VER", "<< OK 1.0.05", "  device change.",
          "  Disconnect device."}},
        {"AReportWhileABoxIsOpenIsHandledUnderIt",
         Then(ReadUpToGser, {{">>UPLS RGINFO.INI", {UploadInfo}}}),
         {true},
         {{"box", {Answer("OK 9.9.99")}}},
         Then(UpToGser(),
              {"<< " + Block, "  5 status", "<< OK 9.9.99", ">>UPLS RGINFO.INI", "<< UPLI", "  4 status", VerifyNg,
               "  99 status"})},
    };
    return scenarios;
}

void ExpectLog(const TStepScenario& scenario, const std::vector<std::string>& messages)
{
    std::string shown;
    for (const auto& message : messages)
        shown += "\n  " + message.substr(0, 100);
    EXPECT_EQ(messages.size(), scenario.Expected.size()) << shown;
    for (std::size_t i = 0; i < std::min(messages.size(), scenario.Expected.size()); ++i)
        EXPECT_TRUE(Matches(scenario.Expected[i], messages[i]))
            << "line " << i << ": " << messages[i].substr(0, 100) << " instead of " << scenario.Expected[i] << shown;
}

TScenarioPlayer::TScenarioPlayer(const TStepScenario& scenario, app::TForm1& form, std::function<void()> removeUnit)
    : FScenario(scenario), FForm(form), FRemoveUnit(std::move(removeUnit))
{
}

void TScenarioPlayer::LineAdded(const std::string& line)
{
    if (FNextCue >= FScenario.Cues.size())
        return;
    const TCue& cue = FScenario.Cues[FNextCue];
    if (Message(line).rfind(cue.When, 0) != 0)
        return;
    ++FNextCue;
    Play(cue.Arrivals);
}

bool TScenarioPlayer::BoxOpened()
{
    const std::size_t box = FNextBox++;
    if (box < FScenario.BoxCues.size())
        Play(FScenario.BoxCues[box].Arrivals);
    return box < FScenario.Answers.size() && FScenario.Answers[box];
}

void TScenarioPlayer::Play(const std::vector<std::string>& arrivals)
{
    FPending += static_cast<int>(arrivals.size());
    // The first comes as a reader's hand-over would.
    if (!arrivals.empty())
        rtl::TMainThreadQueue::Instance().Post([this, &arrivals] { Arrive(arrivals, 0); });
}

void TScenarioPlayer::Arrive(const std::vector<std::string>& arrivals, std::size_t index)
{
    // The next one waits in the queue before this one is handled.
    if (index + 1 < arrivals.size())
        rtl::TMainThreadQueue::Instance().PostNextTurn([this, &arrivals, index] { Arrive(arrivals, index + 1); });
    if (arrivals[index] == Removal) {
        FRemoveUnit();
        FRemoved = true;
    } else {
        Deliver(arrivals[index]);
    }
    --FPending;
}

void TScenarioPlayer::Deliver(const std::string& report)
{
    // What the unit's reader hands over, to the handler it hands it to.
    auto* device = const_cast<hid::THidDevice*>(FForm.Unit());
    if (device && device->OnReportData())
        device->OnReportData()(device, 0, report.data(), static_cast<std::uint16_t>(report.size()));
}

bool TScenarioPlayer::Done() const
{
    if (FRemoved || (FForm.State() == app::stFinished && !FForm.HoldsUnit()))
        return true;
    const std::vector<std::string> messages = Messages();
    if (messages.size() > FScenario.Expected.size())
        return true;
    for (std::size_t i = 0; i < messages.size(); ++i)
        if (!Matches(FScenario.Expected[i], messages[i]))
            return true;
    return false;
}

std::vector<std::string> TScenarioPlayer::Messages() const
{
    std::vector<std::string> messages;
    for (const auto& line : FForm.Memo1->Lines())
        messages.push_back(Message(line));
    return messages;
}

} // namespace testsupport
