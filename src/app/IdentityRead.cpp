// The start and the end of an exchange: firmware version, serial block, and the serial write.

#include "Main.h"

#include "rtl/Application.h"

#include <utility>

namespace app {

namespace {

constexpr const char* VersionLogText = "\x83\x6F\x81\x5B\x83\x57\x83\x87\x83\x93"; // バージョン
constexpr const char* FirmwareTypeLogText = "\x46\x57\x83\x5E\x83\x43\x83\x76";    // FWタイプ
constexpr unsigned ConfirmFlags = rtl::MbOkCancel | rtl::MbIconQuestion;

// A GSER column, 1-based characters first to last, trimmed; what lies beyond the text is
// simply not there.
AnsiString Column(const AnsiString& text, std::size_t first, std::size_t last)
{
    if (first - 1 >= text.size())
        return {};
    return rtl::Trim(text.substr(first - 1, last - first + 1));
}

} // namespace

AnsiString PadSerialField(const AnsiString& text)
{
    AnsiString padded = text;
    while (padded.size() < 12)
        padded += '0';
    return padded;
}

void TForm1::ShowIdentity()
{
    Memo2->BeginUpdate();
    Memo2->Clear();
    Memo2->Add(" FW : " + FFirmwareVersion);
    Memo2->Add("SER : " + FSerialNo);
    Memo2->EndUpdate();
}

void TForm1::StartRead()
{
    Label1->SetCaption("Reading data.");
    FFirmwareVersion.clear();
    FSerialNo.clear();
    FPcbNo.clear();
    FBatteryNo.clear();
    FUploadStarted = false;
    TSessionOutcome fresh;
    fresh.Product = FOutcome.Product;
    FOutcome = fresh;
    ShowIdentity();
    SendCommand("VER");
    FState = stVersionWait;
}

void TForm1::HandleVersionResponse()
{
    if (!TakeAnswer())
        return;
    if (!rtl::Contains(FResponse, "OK")) {
        FOutcome.Failure = "version-ng";
        FState = stFinished;
        return;
    }
    FFirmwareVersion = rtl::StringReplaceAll(FResponse, "OK ", "");
    FOutcome.VersionRead = true;
    Log(VersionLogText + FFirmwareVersion);
    ShowIdentity();
    FFirmwareType = FFirmwareVersion.size() == 3 ? 1 : FFirmwareVersion.size() == 6 ? 2 : 0;
    FOutcome.Firmware = FFirmwareVersion;
    FOutcome.FirmwareType = FFirmwareType;
    Log(FirmwareTypeLogText + rtl::Format("%d", FFirmwareType));
    SendCommand("GSER");
    FState = stSerialInfoWait;
}

void TForm1::HandleSerialInfoResponse()
{
    if (!TakeAnswer())
        return;
    if (FResponse.compare(0, 2, "OK") != 0)
        return;
    const AnsiString columns = rtl::StringReplaceAll(FResponse, "OK ", "");
    FPcbNo = Column(columns, 1, 12);
    FBatteryNo = Column(columns, 14, 25);
    FSerialNo = Column(columns, 27, 38);
    FOutcome.IdentityRead = true;
    FOutcome.SerialBlock = columns;
    FOutcome.Pcb = FPcbNo;
    FOutcome.Bat = FBatteryNo;
    FOutcome.Ser = FSerialNo;
    ShowIdentity();
    Label1->SetCaption("Read end.");
    if (rtl::Application->MessageBox("Get GSER response.\r\nIs read RGINFO.INI?", ConfirmationCaption, ConfirmFlags)
        == rtl::IdOk) {
        SendCommand("UPLS RGINFO.INI");
        FState = stUploadWait;
    } else {
        FState = stFinished;
    }
}

void TForm1::StartSerialWrite()
{
    if (FFirmwareType == 1) {
        FState = stFinished;
        return;
    }
    if (rtl::Application->MessageBox("Is a Serial write in?", ConfirmationCaption, ConfirmFlags) != rtl::IdOk) {
        FState = stFinished;
        return;
    }
    // A file can count three item lines and still lack an item (two ser lines and a pcb), or
    // hold one with no value ("bat " alone): either number would be written as zeros.
    for (const auto& [item, value] : {std::pair{"pcb", &FPcbNo}, {"bat", &FBatteryNo}, {"ser", &FSerialNo}}) {
        if (value->empty()) {
            Log(rtl::Format("Error : Item missing or empty, serial not written. item:%s", item));
            Label1->SetCaption("Serial write failed.");
            FOutcome.Failure = "serial-write-failed";
            FState = stFinished;
            return;
        }
    }
    FPcbNo = PadSerialField(FPcbNo);
    FBatteryNo = PadSerialField(FBatteryNo);
    FSerialNo = PadSerialField(FSerialNo);
    // Waiting for the answer to a command the unit never got would never end.
    if (!SendCommand("SSER " + FPcbNo + " " + FBatteryNo + " " + FSerialNo)) {
        Label1->SetCaption("Serial write failed.");
        FOutcome.Failure = "serial-write-failed";
        FState = stFinished;
        return;
    }
    FOutcome.SerialSent = true;
    FOutcome.SentPcb = FPcbNo;
    FOutcome.SentBat = FBatteryNo;
    FOutcome.SentSer = FSerialNo;
    FState = stSerialWriteWait;
}

void TForm1::HandleSerialWriteResponse()
{
    if (!TakeAnswer())
        return;
    if (rtl::Contains(FResponse, "OK")) {
        FOutcome.SerialWritten = true;
        Label1->SetCaption("Serial write end.");
        FState = stFinished;
    } else if (rtl::Contains(FResponse, "NG")) {
        FOutcome.SerialWriteRefused = true;
        Log("retry. serialres");
    }
}

} // namespace app
