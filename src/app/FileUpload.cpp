// Receiving RGINFO.INI packet by packet, answering each, verifying and parsing it.

#include "Main.h"

#include <algorithm>

namespace app {

namespace {

constexpr const char* IgnoredLogText = "\x8E\xF3\x90\x4D\x83\x66\x81\x5B\x83\x5E\x96\xB3\x8E\x8B"; // 受信データ無視
constexpr const char* FileDataLogText =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x83\x66\x81\x5B\x83\x5E\x8E\xE6\x93\xBE"; // ファイルデータ取得
constexpr std::size_t DataBytesPerPacket = 1016;
constexpr std::size_t DataOffset = 8;
constexpr std::size_t ParsedBytes = 1025;
// Far above any real RGINFO.INI; a unit that streams on is refused rather than followed.
constexpr std::size_t MaxUploadBytes = 1024 * 1024;
constexpr std::int32_t StartReply = 4097;
constexpr std::int32_t DataReply = 4098;
constexpr std::int32_t EndReply = 4099;

// The text from offset, ending before the first zero byte, at the end of the packet, or
// after offset 63.
AnsiString PacketText(const AnsiString& packet, std::size_t offset)
{
    if (offset >= packet.size())
        return {};
    const AnsiString field = packet.substr(offset, 64 - offset);
    return field.substr(0, field.find('\0'));
}

// The file bytes of a packet that are actually there; a short packet gives fewer, never
// padding, so that the size check catches it.
AnsiString PacketBytes(const AnsiString& packet, std::size_t count)
{
    if (DataOffset >= packet.size())
        return {};
    return packet.substr(DataOffset, count);
}

std::vector<AnsiString> SplitLines(const AnsiString& text)
{
    std::vector<AnsiString> lines;
    AnsiString line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

bool IsLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

AnsiString Reply(std::int32_t code, bool refused)
{
    return "UPLR" + TForm1::PackDword(code) + TForm1::PackDword(refused ? 1 : 0);
}

} // namespace

void TForm1::HandleUploadResponse()
{
    if (!TakeResponse())
        return;
    const AnsiString packet = FResponse;
    const AnsiString type = packet.substr(0, 4);
    if (type == "UPLS")
        StartUpload(packet);
    else if (type == "UPLD")
        TakeUploadData(packet);
    else if (type == "UPLE")
        EndUpload(packet);
    else if (type == "UPLI")
        VerifyUpload(packet);
}

void TForm1::StartUpload(const AnsiString& packet)
{
    FUploadActive = 1;
    FPacketNo = 0;
    FUploadEnded = 0;
    FUploadStream->clear();
    FUploadStarted = true;
    FOutcome.UploadRefused = false;
    FUploadSize = ResponseDword(packet, 4);
    FUploadTimeStamp = ResponseDword(packet, 8);
    FOutcome.UploadStarted = true;
    FOutcome.FileName = PacketText(packet, 12);
    FOutcome.FileSize = FUploadSize;
    FOutcome.FileTimeStamp.reset();
    FOutcome.FileParsed = false;
    AddLog(rtl::Format("Upload : Started. fileName:%s", FOutcome.FileName.c_str()), mkIncoming);
    SendCommand(Reply(StartReply, false));
}

void TForm1::TakeUploadData(const AnsiString& packet)
{
    bool refused = false;
    if (FUploadActive != 1) {
        AddLog("Error : Invalid status.", mkIncoming);
        FPacketNo = 0;
        refused = true;
    }
    if (ResponseDword(packet, 4) != FPacketNo) {
        AddLog("Error : Invalid packet number.", mkIncoming);
        FUploadActive = 0;
        refused = true;
    }
    const AnsiString bytes = PacketBytes(packet, DataBytesPerPacket);
    if (!refused && !FitsUpload(bytes.size()))
        refused = true;
    FOutcome.UploadRefused = FOutcome.UploadRefused || refused;
    SendCommand(Reply(DataReply, refused));
    if (!refused) {
        *FUploadStream += bytes;
        ++FPacketNo;
    }
}

void TForm1::EndUpload(const AnsiString& packet)
{
    if (FUploadEnded == 1) {
        Log(IgnoredLogText);
        return;
    }
    FUploadEnded = 1;
    bool refused = false;
    if (FUploadActive != 1) {
        AddLog("Error : Failed to upload file.", mkIncoming);
        FPacketNo = 0;
        refused = true;
    }
    const std::int32_t count = ResponseDword(packet, 4);
    const AnsiString bytes = count >= 1 ? PacketBytes(packet, static_cast<std::size_t>(count)) : AnsiString();
    if (!refused && !FitsUpload(bytes.size()))
        refused = true;
    FOutcome.UploadRefused = FOutcome.UploadRefused || refused;
    SendCommand(Reply(EndReply, refused));
    if (!refused)
        *FUploadStream += bytes;
    Log(FileDataLogText);
}

void TForm1::VerifyUpload(const AnsiString& packet)
{
    const std::int32_t size = ResponseDword(packet, 4);
    const AnsiString stamp = PacketText(packet, 8);
    FOutcome.FileTimeStamp = stamp;
    // Sizes alone can agree on a file the tool dropped part of, or whose end never came.
    const bool whole = FUploadStarted && !FOutcome.UploadRefused && FUploadEnded == 1;
    if (!whole || static_cast<std::int64_t>(FUploadStream->size()) != static_cast<std::int64_t>(size)) {
        Log(rtl::Format("Error : Verify NG. fileSize:%d timeStamp:%s", size, stamp.c_str()));
        FOutcome.Failure = FOutcome.UploadRefused ? "upload-refused" : "verify-ng";
        FState = stFinished;
        return;
    }
    Log(rtl::Format("Verify : OK. fileSize:%d timeStamp:%s", size, stamp.c_str()));
    FOutcome.FileVerified = true;
    AddLog("Upload : Done", mkIncoming);
    ParseUploadedFile();
}

bool TForm1::FitsUpload(std::size_t count)
{
    if (FUploadStream->size() + count <= MaxUploadBytes)
        return true;
    AddLog(rtl::Format("Error : Upload too large, refused. size:%zu", FUploadStream->size() + count), mkIncoming);
    FUploadActive = 0;
    return false;
}

void TForm1::ParseUploadedFile()
{
    const AnsiString& file = *FUploadStream;
    const AnsiString head = file.substr(0, ParsedBytes);
    const std::size_t zero = head.find('\0');
    const AnsiString text = head.substr(0, zero);
    // A last line that runs on past the limit has lost the end of its value.
    const bool lastLineCut = zero == AnsiString::npos && file.size() > ParsedBytes && !IsLineBreak(text.back())
        && !IsLineBreak(file[ParsedBytes]) && file[ParsedBytes] != '\0';
    const std::vector<AnsiString> lines = SplitLines(text);
    FSerialNo.clear();
    FPcbNo.clear();
    FBatteryNo.clear();
    FOutcome.FileParsed = true;
    FOutcome.FilePcb.reset();
    FOutcome.FileBat.reset();
    FOutcome.FileSer.reset();
    int hits = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const AnsiString& line = lines[i];
        if (lastLineCut && i + 1 == lines.size()) {
            if (rtl::Contains(line, "ser") || rtl::Contains(line, "pcb") || rtl::Contains(line, "bat"))
                Log("Error : Item line cut at byte 1025, ignored.");
            break;
        }
        if (rtl::Contains(line, "ser")) {
            FSerialNo = rtl::StringReplaceAll(line, "ser ", "");
            FOutcome.FileSer = FSerialNo;
            ++hits;
        } else if (rtl::Contains(line, "pcb")) {
            FPcbNo = rtl::StringReplaceAll(line, "pcb ", "");
            FOutcome.FilePcb = FPcbNo;
            ++hits;
        } else if (rtl::Contains(line, "bat")) {
            FBatteryNo = rtl::StringReplaceAll(line, "bat ", "");
            FOutcome.FileBat = FBatteryNo;
            ++hits;
        }
        if (hits >= 3)
            break;
    }
    ShowIdentity();
    if (hits < 3) {
        FState = stStartRead;
        Log("Read retry. Item");
        return;
    }
    Label1->SetCaption("Read end.");
    StartSerialWrite();
}

} // namespace app
