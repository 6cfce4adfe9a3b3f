#pragma once

#include "hid/HidControllerClass.h"
#include "rtl/AnsiString.h"
#include "rtl/Controls.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

using rtl::AnsiString;

// Session states; the numbers appear in the activity log.
enum : std::int32_t {
    stInit = 0,
    stIdle = 1,
    stStartRead = 2,
    stVersionWait = 3,
    stUploadWait = 4,
    stSerialInfoWait = 5,
    stSerialWriteWait = 6,
    stFinished = 99,
};

// Log markers.
enum : int { mkIncoming = 0, mkOutgoing = 1, mkNeutral = -1 };

// The unit identification table: the pairs are tried in this order.
inline constexpr std::int32_t VendorIdA = 0x1209;
inline constexpr std::int32_t VendorIdB = 0x1D50;
struct TUnitId {
    std::int32_t VendorId;
    std::int32_t ProductId;
};
inline constexpr TUnitId UnitIds[] = {{VendorIdA, 0x0043}, {VendorIdB, 0x7800}, {VendorIdB, 0x7802}};

// The window description: what the front ends lay out. Texts are code page 932.
namespace layout {
inline constexpr const char* Caption = "TOLVANE";
inline constexpr int ClientWidth = 242;
inline constexpr int ClientHeight = 92;
inline constexpr const char* FontName = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E"; // ＭＳ ゴシック
inline constexpr int FontHeight = -12;
inline constexpr int FontCharset = 128; // SHIFTJIS_CHARSET
inline constexpr rtl::TBounds SpeedButton1{736, 552, 85, 22};
inline constexpr rtl::TBounds Label1{24, 8, 198, 12};
inline constexpr rtl::TBounds Memo1{20, 140, 829, 393};
inline constexpr rtl::TBounds Memo2{20, 32, 205, 49};
} // namespace layout

// The activity log keeps its newest lines: a unit that loops must not fill the memory.
inline constexpr std::size_t MaxLogLines = 10000;

inline constexpr const char* CradleText = "Please set Quillmark to a cradle.";
inline constexpr const char* ConfirmationCaption = "Confirmation";

// The native side of the form's models, as a front end provides it.
class TFormPeer : public rtl::TLabelPeer, public rtl::TMemoPeer, public rtl::TTimerPeer, public rtl::TMenuItemPeer {
public:
    void EnabledChanged(rtl::TMenuItem&) override {}
};

// The tool's one window and the session with a unit. It knows no front end: it works on its
// component models, the application's message-box hook and the main-thread queue.
class TForm1 : public rtl::TComponent {
public:
    TForm1();
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Components, in creation order: the window's models, which the front ends show.
    std::unique_ptr<rtl::TSpeedButton> SpeedButton1;
    std::unique_ptr<rtl::TLabel> Label1;
    std::unique_ptr<rtl::TMemo> Memo1;
    std::unique_ptr<rtl::TMemo> Memo2;
    std::unique_ptr<rtl::TMainMenu> MainMenu1;
    rtl::TMenuItem* File1 = nullptr;
    rtl::TMenuItem* Exit1 = nullptr;
    rtl::TMenuItem* Info1 = nullptr;
    rtl::TMenuItem* Version1 = nullptr;
    rtl::TMenuItem* Log1 = nullptr;
    rtl::TMenuItem* ActivityLog1 = nullptr;
    std::unique_ptr<rtl::TTimer> Timer1;

    // Event handlers bound by the window description.
    void FormCreate(rtl::TObject* Sender);
    void FormDestroy(rtl::TObject* Sender);
    void SpeedButton1Click(rtl::TObject* Sender);
    void Exit1Click(rtl::TObject* Sender);
    void Version1Click(rtl::TObject* Sender);
    void HidCtrl1DeviceChange(rtl::TObject* Sender);
    void HidCtrl1DeviceData(hid::THidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size);
    void Timer1Timer(rtl::TObject* Sender);

    // Session controller.
    void RunStep();
    void UpdateMenus();
    void FindDevice();
    void ReleaseDevice();

    // Command channel. SendCommand is true when the command was written whole.
    bool SendCommand(const AnsiString& text);
    bool WriteCommandReport(const AnsiString& text);
    static AnsiString PackDword(std::int32_t value);
    static std::int32_t ResponseDword(const AnsiString& text, std::size_t offset);

    // Activity log.
    void AddLog(const AnsiString& text, int marker);
    void Log(const AnsiString& text);

    // Identity read and serial write.
    void StartRead();
    void HandleVersionResponse();
    void HandleSerialInfoResponse();
    void StartSerialWrite();
    void HandleSerialWriteResponse();

    // File upload receiver.
    void HandleUploadResponse();

    // Attaches the front end's peer to Label1, Memo1, Memo2, Timer1 and the File and Info
    // menus; none detaches it.
    void SetPeer(TFormPeer* peer);

    // Raised when a session takes its unit, after its connect line.
    rtl::TNotifyEvent OnSessionStart;
    // Raised when a session gives its unit back: in state 99 when it finished, in the state
    // it had reached when the unit was taken out. Front ends count and report sessions by it.
    rtl::TNotifyEvent OnSessionEnd;

    // Raised when a device change finds the unit only held by another controller, in this
    // process or another: the session waits and takes it once it is let go.
    rtl::TNotifyEvent OnUnitInUse;
    // The interface paths of the units passed over for that.
    std::vector<std::string> UnitsInUse() const;

    // What the current session has achieved, for a front end that reports its result.
    struct TSessionOutcome {
        AnsiString Product; // as in the connect line
        bool VersionRead = false;
        AnsiString Firmware; // as shown, once the version is read
        std::int32_t FirmwareType = 0;
        bool IdentityRead = false; // the serial block was taken
        AnsiString Pcb, Bat, Ser;  // as the serial block gave them
        AnsiString SerialBlock;    // the answer taken as the serial block, every "OK " removed
        bool FileVerified = false;
        bool UploadRefused = false;      // a packet of the last transfer was refused
        bool SerialWritten = false;      // the unit accepted the serial write
        bool SerialWriteRefused = false; // the unit answered the serial write NG
        const char* Failure = nullptr;   // why the read ended without its work done, if it did
        // The serial write command, once it went out whole: its three fields as sent.
        bool SerialSent = false;
        AnsiString SentPcb, SentBat, SentSer;
        // The file, once a start packet was taken: its name and size as announced there, the
        // verify packet's time stamp once one came, and the items the verified file held.
        bool UploadStarted = false;
        AnsiString FileName;
        std::int32_t FileSize = 0;
        std::optional<AnsiString> FileTimeStamp;
        bool FileParsed = false;
        std::optional<AnsiString> FilePcb, FileBat, FileSer;
    };
    const TSessionOutcome& Outcome() const { return FOutcome; }
    std::int32_t State() const { return FState; }
    // A unit is lent to the session.
    bool HoldsUnit() const { return FHidDevice != nullptr; }
    // The unit lent to the session, if any.
    const hid::THidDevice* Unit() const { return FHidDevice; }
    // Ties the session to the units this accepts; the others are passed over.
    void SetUnitFilter(hid::THidDeviceController::TAcquireFilter accept);

    // True while a step could change something: a session to walk, a state line to write or
    // menus to update. Otherwise the platform timer rests until a report or device change.
    bool StepCanHaveEffect() const;

    // Seams for the tests and fuzzers that drive a session in their own process without a
    // unit, feeding its reports to HidCtrl1DeviceData by hand. TestHoldState: the session as
    // if a unit were held, in this state. TestFramedReport: the last command as framed for
    // the output report, report ID first (without a unit it is framed, not written).
    // TestUploadedFile: the bytes received of the file so far. TestTakeWrites: from now on a
    // command is taken as written without a unit, as a unit would take it.
    void TestHoldState(std::int32_t state);
    void TestTakeWrites() { FTestWritesTaken = true; }
    AnsiString TestFramedReport() const;
    const AnsiString& TestUploadedFile() const { return *FUploadStream; }

private:
    TSessionOutcome FOutcome;

    // Session fields, in their declared order.
    hid::THidDevice* FHidDevice = nullptr; // lent by HidCtrl1, never owned
    bool FResponseReady = false;
    std::array<std::uint8_t, 2049> FReportBuf{};
    std::int32_t FState = stInit;
    bool FDeviceReady = false;
    AnsiString FResponse;
    AnsiString FResponseHex;
    std::int32_t FFirmwareType = 0;
    std::int32_t FUploadActive = 0;
    std::int32_t FPacketNo = 0;
    std::int32_t FUploadSize = 0;
    std::int32_t FUploadTimeStamp = 0;
    std::unique_ptr<AnsiString> FUploadStream;
    std::int32_t FUploadEnded = 0;
    AnsiString FFirmwareVersion;
    AnsiString FSerialNo;
    AnsiString FPcbNo;
    AnsiString FBatteryNo;
    // A start packet was taken since this session's read began: without one the buffer holds
    // nothing of this unit's file, or an earlier session's.
    bool FUploadStarted = false;
    bool FTestWritesTaken = false;

    // Declared last, so destroyed first: the controller stops the unit's reader while
    // everything a report could reach still stands.
    std::unique_ptr<hid::THidDeviceController> HidCtrl1;

    // Keeps Timer1's platform timer armed only while a step can have an effect, and asks for
    // a step at its next tick; never while Timer1 is disabled.
    void ScheduleStep();
    // True, and the response marked as taken, when one is waiting.
    bool TakeResponse();
    // As TakeResponse, but an upload packet is taken as no answer at all: one that comes late
    // may hold "OK" among its file bytes.
    bool TakeAnswer();
    void ShowIdentity();
    // True when count more bytes keep the upload under its cap; otherwise logs the refusal
    // and refuses the rest of the transfer.
    void StartUpload(const AnsiString& packet);
    void TakeUploadData(const AnsiString& packet);
    void EndUpload(const AnsiString& packet);
    void VerifyUpload(const AnsiString& packet);
    bool FitsUpload(std::size_t count);
    void ParseUploadedFile();
};

// The number filled on the right with "0" to 12 characters; longer ones unchanged.
AnsiString PadSerialField(const AnsiString& text);

} // namespace app
