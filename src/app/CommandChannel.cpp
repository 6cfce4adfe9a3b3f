// Commands out as output reports, responses in from input reports, and the activity log.

#include "Main.h"

#include "rtl/TimeStamp.h"

#include <algorithm>
#include <cstring>

namespace app {

namespace {

constexpr std::size_t MaxCommandLength = 2048; // FReportBuf less its report-ID byte

struct TResponseClass {
    const char* Keyword;
    const char* Terminator;
};

// Searched in this order anywhere in the report; the first keyword found decides.
constexpr TResponseClass ResponseClasses[] = {
    {"OK", "\r\n"}, {"NG", "\r\n"}, {"filecmd", "\n"}, {"act_finfo", "\n"}, {"--boot", "\n"},
};

} // namespace

bool TForm1::SendCommand(const AnsiString& text)
{
    AnsiString word = text.substr(0, 8);
    for (char& c : word)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (word != "FILEINFO")
        return WriteCommandReport(text);
    const AnsiString name = text.size() > 8 ? text.substr(8, 46) : AnsiString();
    if (name.empty()) {
        AddLog("Error : Filename is not specified.", mkOutgoing);
        return false;
    }
    return WriteCommandReport("FINS" + name);
}

bool TForm1::WriteCommandReport(const AnsiString& text)
{
    AddLog(text, mkOutgoing);
    // A cut command could write wrong numbers into a unit; it is not sent at all.
    if (text.size() > MaxCommandLength) {
        Log(rtl::Format("Error : Command too long, not sent. length:%zu", text.size()));
        return false;
    }
    FReportBuf.fill(0);
    std::copy(text.begin(), text.end(), FReportBuf.begin() + 1);
    if (!FHidDevice && !FTestWritesTaken)
        return false;
    FResponseReady = false;
    if (!FHidDevice)
        return true;
    const std::uint16_t length = FHidDevice->OutputReportLength();
    if (length > FReportBuf.size()) {
        Log(rtl::Format("Error : Output report too long, not sent. length:%u", static_cast<unsigned>(length)));
        return false;
    }
    // Nor one that the unit's output report would cut.
    if (text.size() + 1 > length) {
        Log(rtl::Format("Error : Command does not fit the output report, not sent. length:%zu report:%u", text.size(),
                        static_cast<unsigned>(length)));
        return false;
    }
    FHidDevice->OpenDeviceHandle();
    const hid::THidWriteResult result = FHidDevice->WriteReport(FReportBuf.data(), length);
    if (result.Ok) {
        FHidDevice->CloseDeviceHandle();
        return true;
    }
    Log("WRITE1_ERROR," + rtl::Format("%s (%X)", result.ErrorText.c_str(), static_cast<unsigned>(result.Error)));
    return false;
}

void TForm1::HidCtrl1DeviceData(hid::THidDevice*, std::uint8_t, const void* Data, std::uint16_t Size)
{
    const AnsiString raw = Size ? AnsiString(static_cast<const char*>(Data), Size) : AnsiString();
    int responseClass = 0;
    std::size_t kept = raw.size();
    std::size_t terminatorLength = 0;
    for (const auto& candidate : ResponseClasses) {
        if (!rtl::Contains(raw, candidate.Keyword))
            continue;
        responseClass = candidate.Terminator[1] ? 1 : 2;
        terminatorLength = std::strlen(candidate.Terminator);
        if (const std::size_t at = raw.find(candidate.Terminator); at != AnsiString::npos)
            kept = at + terminatorLength;
        break;
    }
    FResponse = raw.substr(0, kept);
    // By table rather than a formatted print per byte: a data packet has a thousand bytes.
    static constexpr char Digits[] = "0123456789ABCDEF";
    FResponseHex.assign(FResponse.empty() ? 0 : 3 * FResponse.size() - 1, ',');
    for (std::size_t i = 0; i < FResponse.size(); ++i) {
        const auto byte = static_cast<unsigned char>(FResponse[i]);
        FResponseHex[3 * i] = Digits[byte >> 4];
        FResponseHex[3 * i + 1] = Digits[byte & 15];
    }
    if (responseClass != 0)
        FResponse.resize(FResponse.size() - std::min(FResponse.size(), terminatorLength));
    FResponseReady = true;

    AnsiString printable = FResponse;
    for (char& c : printable)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            c = '_';
    AddLog(FResponseHex + "-" + printable, mkIncoming);
    ScheduleStep();
}

AnsiString TForm1::TestFramedReport() const
{
    return AnsiString(FReportBuf.begin(), FReportBuf.end());
}

bool TForm1::TakeResponse()
{
    if (!FResponseReady)
        return false;
    FResponseReady = false;
    return true;
}

bool TForm1::TakeAnswer()
{
    if (!TakeResponse())
        return false;
    const AnsiString type = FResponse.substr(0, 4);
    return type != "UPLS" && type != "UPLD" && type != "UPLE" && type != "UPLI";
}

AnsiString TForm1::PackDword(std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    AnsiString packed(4, '\0');
    for (std::size_t i = 0; i < 4; ++i)
        packed[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return packed;
}

std::int32_t TForm1::ResponseDword(const AnsiString& text, std::size_t offset)
{
    // Bytes beyond the text count as 0: nothing outside it is read.
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        if (offset + i < text.size())
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[offset + i])) << (8 * i);
    return static_cast<std::int32_t>(value);
}

void TForm1::AddLog(const AnsiString& text, int marker)
{
    const char* direction = marker == mkIncoming ? "<<" : marker == mkOutgoing ? ">>" : "  ";
    Memo1->Add(rtl::FormatTimeStamp() + direction + rtl::TrimRight(text));
}

void TForm1::Log(const AnsiString& text)
{
    AddLog(text, mkNeutral);
}

} // namespace app
