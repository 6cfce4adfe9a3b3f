#include "SessionFixture.h"

#include "rtl/Application.h"
#include "rtl/MainThreadQueue.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

namespace apptest {

std::string Dword(std::uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Reply(std::uint32_t code, std::uint32_t status)
{
    return "UPLR" + Dword(code) + Dword(status);
}

std::string UploadPacket(const char* type, std::uint32_t first, const std::string& rest)
{
    std::string packet = type + Dword(first) + rest;
    packet.resize(std::max<std::size_t>(packet.size(), 1024), '\0');
    return packet;
}

void Touch(const std::string& path)
{
    std::ofstream{path};
}

std::vector<std::string> StripTimeStamps(const std::vector<std::string>& lines)
{
    static const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d \d\d\d,)");
    std::vector<std::string> messages;
    for (const std::string& line : lines) {
        EXPECT_TRUE(line.size() >= 24 && std::regex_match(line.substr(0, 22), stamp)) << line;
        messages.push_back(line.size() >= 22 ? line.substr(22) : line);
    }
    return messages;
}

static bool IsStateLine(const std::string& message)
{
    static const std::regex state(R"(  -?\d+ status)");
    return std::regex_match(message, state);
}

std::vector<std::string> StateLines(const std::vector<std::string>& messages)
{
    std::vector<std::string> states;
    for (const std::string& message : messages)
        if (IsStateLine(message))
            states.push_back(message.substr(2, message.find(' ', 2) - 2));
    return states;
}

std::vector<std::string> WithoutStateLines(const std::vector<std::string>& messages)
{
    std::vector<std::string> rest;
    for (const std::string& message : messages)
        if (!IsStateLine(message))
            rest.push_back(message);
    return rest;
}

std::vector<std::string> TraceReports(const std::string& path, char direction)
{
    std::ifstream in(path);
    std::vector<std::string> reports;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string seconds, dir, hex;
        fields >> seconds >> dir >> hex;
        if (dir.size() == 1 && dir[0] == direction)
            reports.push_back(hex);
    }
    return reports;
}

std::string Bytes(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string ReportHex(const std::string& text, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string report = std::string(1, '\0') + text;
    report.resize(length, '\0');
    std::string hex;
    for (const unsigned char byte : report) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

void SessionTest::SetUp()
{
    rtl::Application->SetMessageBoxHook(
        [this](const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags) {
            FBoxes.push_back({text, caption, flags});
            return FOnBox ? FOnBox(FBoxes.back()) : BoxOk;
        });
    FForm = std::make_unique<app::TForm1>();
    // The controller's first scan, queued by its creation; no unit is placed yet.
    ASSERT_TRUE(PumpMainThreadUntil([&] { return Logged("  device change."); }));
}

void SessionTest::TearDown()
{
    FForm.reset();
    FSim.reset();
    rtl::Application->SetMessageBoxHook(nullptr);
    rtl::TMainThreadQueue::Instance().ProcessPending();
}

void SessionTest::Begin(std::int32_t state)
{
    FForm->TestHoldState(state);
}

void SessionTest::Feed(const std::string& data)
{
    FForm->HidCtrl1DeviceData(nullptr, 0, data.data(), static_cast<std::uint16_t>(data.size()));
}

void SessionTest::Step()
{
    FForm->Timer1Timer(FForm->Timer1.get());
}

void SessionTest::Answer(const std::string& data)
{
    Feed(data);
    Step();
}

void SessionTest::ReadIdentity(const std::string& version, const std::string& serialBlock)
{
    Begin(app::stStartRead);
    Step();
    Answer("OK " + version + "\r\n");
    Answer(serialBlock);
}

void SessionTest::Upload(const std::string& file)
{
    const auto size = static_cast<std::uint32_t>(file.size());
    Answer(UploadPacket("UPLS", size, Dword(0) + "RGINFO.INI"));
    std::size_t at = 0;
    for (; at + 1016 <= file.size(); at += 1016)
        Answer(UploadPacket("UPLD", static_cast<std::uint32_t>(at / 1016), file.substr(at, 1016)));
    Answer(UploadPacket("UPLE", static_cast<std::uint32_t>(file.size() - at), file.substr(at)));
    Answer(UploadPacket("UPLI", size, "t"));
}

std::vector<std::string> SessionTest::Messages() const
{
    return StripTimeStamps(FForm->Memo1->Lines());
}

std::vector<std::string> SessionTest::MessagesSince(std::size_t first) const
{
    const auto all = Messages();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end());
}

std::string SessionTest::Framed(std::size_t length) const
{
    return FForm->TestFramedReport().substr(1, length);
}

TSimProcess& SessionTest::Place(std::vector<std::string> args)
{
    FSim = std::make_unique<TSimProcess>(FUnits.Path(), std::move(args));
    return *FSim;
}

std::string SessionTest::WriteFile(const std::string& name, const std::string& contents)
{
    const std::string path = FUnits.Path() + "/" + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

bool SessionTest::RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        queue.ProcessPending();
        if (FForm->Timer1->Running())
            FForm->Timer1->Tick();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        queue.WaitForWork(std::chrono::milliseconds(1));
    }
}

bool SessionTest::Logged(const std::string& message) const
{
    for (const std::string& line : FForm->Memo1->Lines())
        if (line.size() > 22 && line.compare(22, std::string::npos, message) == 0)
            return true;
    return false;
}

} // namespace apptest
