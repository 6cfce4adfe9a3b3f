#include "FormHarness.h"

#include "ConsoleText.h"
#include "SessionReport.h"

#include "rtl/Application.h"
#include "rtl/CodePage.h"
#include "rtl/MainThreadQueue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace fuzzing {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "invariant broken: %s: [%s]\n", what, detail.c_str());
    std::abort();
}

// Every run sees the same empty unit directory, so no real unit can join in. One form stays
// for the whole process: the device-change monitor lives while any controller window does,
// and starting its thread for every run would cost more than the run.
void PrepareProcess()
{
    static char path[] = "/tmp/tolvane-fuzz-XXXXXX";
    static const std::unique_ptr<app::TForm1> keeper = [] {
        if (!mkdtemp(path))
            Fail("mkdtemp", path);
        setenv("TOLVANE_UNIT_DIR", path, 1);
        std::atexit([] { rmdir(path); });
        return std::make_unique<app::TForm1>();
    }();
}

std::vector<std::string> FileLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    lines.push_back(line); // runs to the end of the file: whole as well
    return lines;
}

std::string ReplaceAll(std::string text, const std::string& from)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.erase(at, from.size());
    return text;
}

std::string Padded(std::string value)
{
    while (value.size() < 12)
        value += '0';
    return value;
}

// The field values a whole line of the file can give for one key.
std::vector<std::string> WholeValues(const std::vector<std::string>& lines, const std::string& key)
{
    std::vector<std::string> values;
    for (const std::string& line : lines)
        if (line.find(key) != std::string::npos)
            values.push_back(Padded(ReplaceAll(line, key + " ")));
    return values;
}

// As tolvane-cli prints a text: one terminal line, no control character of any kind.
void CheckConsoleLine(const std::string& cp932)
{
    const std::string shown = console::EscapeControls(rtl::Utf8FromCp932(cp932));
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto byte = static_cast<unsigned char>(shown[i]);
        const bool c1 = byte == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) >= 0x80
            && static_cast<unsigned char>(shown[i + 1]) <= 0x9F;
        if (byte < 0x20 || byte == 0x7F || c1)
            Fail("a console line with a control character", shown);
    }
}

// The response the command channel keeps of a report: cut after the first terminator of the
// class of the first keyword found, then shorter by the terminator's length.
std::string KeptResponse(const std::string& report)
{
    static const std::pair<const char*, const char*> classes[] = {
        {"OK", "\r\n"}, {"NG", "\r\n"}, {"filecmd", "\n"}, {"act_finfo", "\n"}, {"--boot", "\n"}};
    for (const auto& [keyword, terminator] : classes) {
        if (report.find(keyword) == std::string::npos)
            continue;
        const std::size_t length = std::strlen(terminator);
        const std::size_t at = report.find(terminator);
        std::string kept = at == std::string::npos ? report : report.substr(0, at + length);
        kept.resize(kept.size() - std::min(kept.size(), length));
        return kept;
    }
    return report;
}

bool IsUploadPacket(const std::string& response)
{
    const std::string type = response.substr(0, 4);
    return type == "UPLS" || type == "UPLD" || type == "UPLE" || type == "UPLI";
}

// A 32-bit field, least significant byte first; bytes beyond the text count as 0.
std::uint32_t Field(const std::string& text, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && offset + i < text.size(); ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[offset + i])) << (8 * i);
    return value;
}

// The file bytes a packet holds after its 8-byte head, at most `count`.
std::int64_t FileBytes(const std::string& packet, std::int64_t count)
{
    return std::min(count, static_cast<std::int64_t>(packet.size() > 8 ? packet.size() - 8 : 0));
}

// Whether a command starting with `prefix` can be logged as `logged` once trimmed.
bool CouldStartWith(const std::string& logged, const std::string& prefix)
{
    const std::size_t length = std::min(prefix.size(), logged.size());
    return logged.compare(0, length, prefix, 0, length) == 0;
}

} // namespace

std::string TInput::Bytes(std::size_t count)
{
    const std::size_t take = std::min(count, FSize - std::min(FPos, FSize));
    std::string bytes(reinterpret_cast<const char*>(FData) + FPos, take);
    FPos += take;
    return bytes;
}

std::int32_t StateFromByte(std::uint8_t byte)
{
    static constexpr std::int32_t states[] = {
        app::stInit,       app::stIdle,           app::stStartRead,       app::stVersionWait,
        app::stUploadWait, app::stSerialInfoWait, app::stSerialWriteWait, app::stFinished};
    return states[byte % std::size(states)];
}

TFormHarness::TFormHarness(std::uint8_t answers, bool writesTaken) : FAnswers(answers)
{
    PrepareProcess();
    rtl::Application->SetMessageBoxHook([this](const rtl::AnsiString& text, const rtl::AnsiString&, unsigned) {
        // Asked when the session has taken the serial block: the response the step took.
        if (rtl::Contains(text, "Get GSER response."))
            FSession.SerialBlock = FResponse;
        const bool ok = (FAnswers >> (FBoxes++ % 8)) & 1;
        return ok ? rtl::IdOk : rtl::IdCancel;
    });
    FForm = std::make_unique<app::TForm1>();
    FForm->Memo1->SetPeer(this);
    if (writesTaken)
        FForm->TestTakeWrites();
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

TFormHarness::~TFormHarness()
{
    FForm->Memo1->SetPeer(nullptr);
    FForm.reset();
    rtl::Application->SetMessageBoxHook(nullptr);
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

void TFormHarness::Begin(std::int32_t state)
{
    FForm->TestHoldState(state);
    // Put to wait for the serial write's answer: a response still untaken counts as arriving now.
    if (state == app::stSerialWriteWait)
        FSession.AnswerFrom = std::max<std::size_t>(FFed, 1);
}

void TFormHarness::Report(const std::string& bytes)
{
    const std::size_t size = std::min<std::size_t>(bytes.size(), 0xFFFF);
    const std::unique_ptr<std::uint8_t[]> report(new std::uint8_t[size]);
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size), report.get());
    FForm->HidCtrl1DeviceData(nullptr, 0, report.get(), static_cast<std::uint16_t>(size));
    ++FFed;
    FResponse = KeptResponse(bytes.substr(0, size));
    // The report itself is logged as hex and printable characters only.
    const std::string& line = FForm->Memo1->Lines().back();
    for (std::size_t i = 22; i < line.size(); ++i)
        if (static_cast<unsigned char>(line[i]) < 0x20 || static_cast<unsigned char>(line[i]) > 0x7E)
            Fail("an input report logged with a control character", line);
    CheckNewLogLines();
    Step();
}

void TFormHarness::Step()
{
    const bool wasVerified = FForm->Outcome().FileVerified;
    const bool wasWritten = FForm->Outcome().SerialWritten;
    FCommandsThisStep = 0;
    FVerifiedLogged = false;
    FForm->Timer1Timer(FForm->Timer1.get());
    CheckNewLogLines();
    CheckVerdicts(wasVerified, wasWritten);
}

void TFormHarness::DeviceChange()
{
    FForm->HidCtrl1DeviceChange(nullptr);
    rtl::TMainThreadQueue::Instance().ProcessPending();
    CheckNewLogLines();
}

void TFormHarness::LineAdded(rtl::TMemo&, const rtl::AnsiString& line)
{
    FNewLines.push_back(line);
}

void TFormHarness::CheckNewLogLines()
{
    CheckConsoleLine(FForm->Label1->Caption());
    for (const std::string& line : FForm->Memo2->Lines())
        CheckConsoleLine(line);
    for (const std::string& line : FNewLines) {
        CheckConsoleLine(line);
        const std::string message = line.size() > 22 ? line.substr(22) : std::string();
        if (message.compare(0, 7, ">>SSER ") == 0)
            CheckSerialCommand(message.substr(2));
        if (message.compare(0, 2, ">>") == 0)
            FollowCommand(message.substr(2));
        if (message.compare(0, 14, "  Verify : OK.") == 0)
            FVerifiedLogged = true;
    }
    FNewLines.clear();
}

void TFormHarness::FollowCommand(const std::string& message)
{
    // The framed report is the last command's: a reply is read there, where its zero bytes
    // are not trimmed away.
    if (++FCommandsThisStep > 1)
        Fail("two commands in one step", message);
    if (message == "VER") {
        FSession = {};
        return;
    }
    if (message.compare(0, 5, "SSER ") == 0) {
        FSession.AnswerFrom = FFed + 1;
        return;
    }
    if (message.compare(0, 4, "UPLR") != 0)
        return;
    const std::string reply = FForm->TestFramedReport().substr(1, 12);
    const std::uint32_t code = Field(reply, 4);
    const bool accepted = Field(reply, 8) == 0;
    const std::string& packet = FResponse;
    static const std::pair<std::uint32_t, const char*> answers[] = {{4097, "UPLS"}, {4098, "UPLD"}, {4099, "UPLE"}};
    for (const auto& [answerCode, type] : answers)
        if (code == answerCode && packet.compare(0, 4, type) != 0)
            Fail("a reply that does not answer the packet taken", packet.substr(0, 4));
    if (code == 4097) {
        FSession.Started = true;
        FSession.Refused = FSession.Ended = false;
        FSession.Received = 0;
    } else if (!accepted) {
        FSession.Refused = true;
    } else if (code == 4098) {
        FSession.Received += FileBytes(packet, 1016);
    } else if (code == 4099) {
        FSession.Ended = true;
        const auto count = static_cast<std::int32_t>(Field(packet, 4));
        FSession.Received += count >= 1 ? FileBytes(packet, count) : 0;
    }
}

void TFormHarness::CheckVerdicts(bool wasVerified, bool wasWritten)
{
    const auto& outcome = FForm->Outcome();
    const TSessionModel& model = FSession;
    const std::string& response = FResponse;
    if (FVerifiedLogged || (outcome.FileVerified && !wasVerified)) {
        const bool whole = response.compare(0, 4, "UPLI") == 0 && model.Started && !model.Refused && model.Ended
            && model.Received == static_cast<std::int32_t>(Field(response, 4));
        if (!whole)
            Fail("file verified without a whole transfer", response.substr(0, 4));
    }
    if (outcome.SerialWritten && !wasWritten) {
        const bool answered = model.AnswerFrom != 0 && FFed >= model.AnswerFrom
            && response.find("OK") != std::string::npos && !IsUploadPacket(response);
        if (!answered)
            Fail("serial written without an OK answer to SSER", response);
    }
    if (FForm->State() != app::stFinished || outcome.SerialWritten)
        return;
    // The CLI's verdict: ok only for a serial block that reaches its ser column, character 27.
    const bool identity = model.SerialBlock && ReplaceAll(*model.SerialBlock, "OK ").size() >= 27;
    for (const bool readInfo : {false, true})
        for (const bool writeSerial : {false, true}) {
            console::TSessionOptions options;
            options.ReadInfo = readInfo;
            options.WriteSerial = writeSerial;
            if (console::JudgeSession(*FForm, console::TSessionEnding::Finished, options).Ok && !identity)
                Fail("result ok without a whole serial block", model.SerialBlock.value_or("(none)"));
        }
}

// The three numbers are whole values of the received file, never cut, never absent. The log
// shows the command without its trailing blanks.
void TFormHarness::CheckSerialCommand(const rtl::AnsiString& logged) const
{
    const std::string stream = FForm->TestUploadedFile();
    const std::vector<std::string> lines = FileLines(stream.substr(0, stream.find('\0')));
    for (const std::string& pcb : WholeValues(lines, "pcb")) {
        const std::string head = "SSER " + pcb + " ";
        if (!CouldStartWith(logged, head))
            continue;
        for (const std::string& bat : WholeValues(lines, "bat")) {
            const std::string middle = head + bat + " ";
            if (!CouldStartWith(logged, middle))
                continue;
            for (const std::string& ser : WholeValues(lines, "ser"))
                if (rtl::TrimRight(middle + ser) == logged)
                    return;
        }
    }
    Fail("SSER built from a cut or absent value", logged);
}

} // namespace fuzzing
