// The window description and the session controller: taking a unit at a device change,
// stepping the session on the 1 ms timer, at its next tick after each report or device change,
// giving the unit back.

#include "Main.h"

#include "rtl/Application.h"
#include "rtl/CodePage.h"

#include "TolvaneVersion.h"

#include <utility>

namespace app {

using rtl::TNotifyEvent;

TForm1::TForm1() : rtl::TComponent(nullptr)
{
    // The stored description, component by component, with its handlers bound.
    SpeedButton1 = std::make_unique<rtl::TSpeedButton>(this);
    SpeedButton1->SetCaption("Close");
    SpeedButton1->SetOnClick(TNotifyEvent::Of<&TForm1::SpeedButton1Click>(this));

    Label1 = std::make_unique<rtl::TLabel>(this);
    Label1->SetCaption(CradleText);

    Memo1 = std::make_unique<rtl::TMemo>(this);
    Memo1->SetMaxLines(MaxLogLines);

    Memo2 = std::make_unique<rtl::TMemo>(this);
    Memo2->Add(" FW :");
    Memo2->Add("SER :");

    MainMenu1 = std::make_unique<rtl::TMainMenu>(this);
    File1 = MainMenu1->Add(std::make_unique<rtl::TMenuItem>(this, "File"));
    Exit1 = File1->Add(std::make_unique<rtl::TMenuItem>(this, "Close"));
    Exit1->SetOnClick(TNotifyEvent::Of<&TForm1::Exit1Click>(this));
    Info1 = MainMenu1->Add(std::make_unique<rtl::TMenuItem>(this, "Info"));
    Version1 = Info1->Add(std::make_unique<rtl::TMenuItem>(this, "Version"));
    Version1->SetOnClick(TNotifyEvent::Of<&TForm1::Version1Click>(this));
    // Beyond the description: the window's user could otherwise never see the log. A front
    // end binds the item to its log window; the session never changes it.
    Log1 = MainMenu1->Add(std::make_unique<rtl::TMenuItem>(this, "Log"));
    ActivityLog1 = Log1->Add(std::make_unique<rtl::TMenuItem>(this, "Activity log..."));

    HidCtrl1 = std::make_unique<hid::THidDeviceController>(this);
    HidCtrl1->BeginLoading();
    HidCtrl1->SetOnDeviceChange(TNotifyEvent::Of<&TForm1::HidCtrl1DeviceChange>(this));
    HidCtrl1->SetOnDeviceData(hid::THidDataEvent::Of<&TForm1::HidCtrl1DeviceData>(this));
    HidCtrl1->EndLoading();

    Timer1 = std::make_unique<rtl::TTimer>(this);
    Timer1->SetEnabled(false);
    Timer1->SetInterval(1);
    Timer1->SetOnTimer(TNotifyEvent::Of<&TForm1::Timer1Timer>(this));

    FormCreate(this);
}

TForm1::~TForm1()
{
    FormDestroy(this);
}

void TForm1::TestHoldState(std::int32_t state)
{
    FDeviceReady = true;
    FState = state;
}

void TForm1::SetPeer(TFormPeer* peer)
{
    Label1->SetPeer(peer);
    Memo1->SetPeer(peer);
    Memo2->SetPeer(peer);
    Timer1->SetPeer(peer);
    File1->SetPeer(peer);
    Info1->SetPeer(peer);
}

void TForm1::FormCreate(rtl::TObject*)
{
    // Double-buffered painting is the front end's business.
    FState = stInit;
    FUploadStream = std::make_unique<AnsiString>();
    Label1->SetCaption(CradleText);
}

void TForm1::FormDestroy(rtl::TObject*)
{
    FUploadStream.reset();
}

void TForm1::SpeedButton1Click(rtl::TObject*)
{
    rtl::Application->Terminate();
}

void TForm1::Exit1Click(rtl::TObject*)
{
    rtl::Application->Terminate();
}

void TForm1::Version1Click(rtl::TObject*)
{
    rtl::Application->MessageBox("TOLVANE\r\nVersion " TOLVANE_VERSION, "Version", rtl::MbOk | rtl::MbIconInformation);
}

void TForm1::HidCtrl1DeviceChange(rtl::TObject*)
{
    Log("device change.");
    // Another device came or went while the unit is held: its session goes on. Looking for a
    // unit now would only clear FDeviceReady and leave the session standing still for good.
    if (FHidDevice && FHidDevice->Attached()) {
        ScheduleStep();
        return;
    }
    const bool disconnected = FHidDevice && !FHidDevice->Attached();
    if (disconnected) {
        HidCtrl1->ReturnDevice(FHidDevice);
        Timer1->SetEnabled(false);
        Log("Disconnect device.");
        if (OnSessionEnd)
            OnSessionEnd(this);
    }
    // A unit set in the cradle within the same change as the removal gets no change of its
    // own, so it is looked for now or it would wait for an unrelated one.
    FindDevice();
    if (!FDeviceReady && OnUnitInUse && !UnitsInUse().empty())
        OnUnitInUse(this);
    if (disconnected && !FDeviceReady)
        return;
    if (FDeviceReady) {
        Memo1->Clear();
        FOutcome = {};
        FOutcome.Product = rtl::Cp932FromUtf16(FHidDevice->GetProductText());
        Log("Connect device : " + FOutcome.Product);
        FState = stStartRead;
        Timer1->SetEnabled(true);
        if (OnSessionStart)
            OnSessionStart(this);
    } else if (FState == stFinished) {
        Label1->SetCaption(CradleText);
        FState = stIdle;
    }
    ScheduleStep();
}

bool TForm1::StepCanHaveEffect() const
{
    const bool session =
        FDeviceReady && ((FState >= stStartRead && FState <= stSerialWriteWait) || FState == stFinished);
    const bool idle = FState == stIdle;
    return session || FState != Timer1->Tag() || File1->Enabled() != idle || Info1->Enabled() != idle;
}

void TForm1::ScheduleStep()
{
    Timer1->SetIdle(!StepCanHaveEffect());
    Timer1->Trigger();
}

void TForm1::FindDevice()
{
    FDeviceReady = false;
    if (FHidDevice)
        return;
    for (const TUnitId& id : UnitIds) {
        if (HidCtrl1->AcquireById(FHidDevice, id.VendorId, id.ProductId)) {
            FDeviceReady = true;
            return;
        }
    }
}

void TForm1::SetUnitFilter(hid::THidDeviceController::TAcquireFilter accept)
{
    HidCtrl1->SetAcquireFilter(std::move(accept));
}

std::vector<std::string> TForm1::UnitsInUse() const
{
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < HidCtrl1->Count(); ++i)
        if (const hid::THidDevice* device = HidCtrl1->Devices(i); device->ClaimedElsewhere())
            paths.push_back(device->DeviceInfo().FInterfacePath);
    return paths;
}

void TForm1::ReleaseDevice()
{
    const bool held = FHidDevice != nullptr;
    HidCtrl1->ReturnDevice(FHidDevice);
    FDeviceReady = false;
    if (held && OnSessionEnd)
        OnSessionEnd(this);
}

void TForm1::Timer1Timer(rtl::TObject*)
{
    // No tick may start while this step runs, also not while it shows a modal box.
    Timer1->SetOnTimer({});
    struct TReattach {
        TForm1* Form;
        ~TReattach()
        {
            Form->Timer1->SetIdle(!Form->StepCanHaveEffect());
            Form->Timer1->SetOnTimer(TNotifyEvent::Of<&TForm1::Timer1Timer>(Form));
        }
    } reattach{this};

    if (FState != Timer1->Tag()) {
        Log(rtl::Format("%d status", FState));
        Timer1->SetTag(FState);
    }
    if (FDeviceReady)
        RunStep();
    UpdateMenus();
}

void TForm1::RunStep()
{
    switch (FState) {
    case stStartRead: StartRead(); break;
    case stVersionWait: HandleVersionResponse(); break;
    case stUploadWait: HandleUploadResponse(); break;
    case stSerialInfoWait: HandleSerialInfoResponse(); break;
    case stSerialWriteWait: HandleSerialWriteResponse(); break;
    case stFinished: ReleaseDevice(); break;
    default: break;
    }
}

void TForm1::UpdateMenus()
{
    const bool idle = FState == stIdle;
    File1->SetEnabled(idle);
    Info1->SetEnabled(idle);
}

} // namespace app
