#include "FormHarness.h"

#include "ConsoleText.h"

#include "rtl/Application.h"
#include "rtl/CodePage.h"
#include "rtl/MainThreadQueue.h"

#include <cstdio>
#include <cstdlib>
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

TFormHarness::TFormHarness(std::uint8_t answers) : FAnswers(answers)
{
    PrepareProcess();
    rtl::Application->SetMessageBoxHook([this](const rtl::AnsiString&, const rtl::AnsiString&, unsigned) {
        const bool ok = (FAnswers >> (FBoxes++ % 8)) & 1;
        return ok ? rtl::IdOk : rtl::IdCancel;
    });
    FForm = std::make_unique<app::TForm1>();
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

TFormHarness::~TFormHarness()
{
    FForm.reset();
    rtl::Application->SetMessageBoxHook(nullptr);
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

void TFormHarness::Begin(std::int32_t state)
{
    FForm->TestHoldState(state);
}

void TFormHarness::Report(const std::string& bytes)
{
    const std::size_t size = std::min<std::size_t>(bytes.size(), 0xFFFF);
    const std::unique_ptr<std::uint8_t[]> report(new std::uint8_t[size]);
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size), report.get());
    FForm->HidCtrl1DeviceData(nullptr, 0, report.get(), static_cast<std::uint16_t>(size));
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
    FForm->Timer1Timer(FForm->Timer1.get());
    CheckNewLogLines();
}

void TFormHarness::DeviceChange()
{
    FForm->HidCtrl1DeviceChange(nullptr);
    rtl::TMainThreadQueue::Instance().ProcessPending();
    CheckNewLogLines();
}

void TFormHarness::CheckNewLogLines()
{
    const auto& lines = FForm->Memo1->Lines();
    if (FCheckedLines > lines.size())
        FCheckedLines = 0; // the log was cleared
    CheckConsoleLine(FForm->Label1->Caption());
    for (const std::string& line : FForm->Memo2->Lines())
        CheckConsoleLine(line);
    for (; FCheckedLines < lines.size(); ++FCheckedLines) {
        const std::string& line = lines[FCheckedLines];
        CheckConsoleLine(line);
        const std::string message = line.size() > 22 ? line.substr(22) : std::string();
        if (message.compare(0, 7, ">>SSER ") == 0)
            CheckSerialCommand(message.substr(2));
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
