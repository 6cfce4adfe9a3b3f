#include "DeviceList.h"

#include "ConsoleLoop.h"
#include "ConsoleText.h"

#include "hid/Hid.h"
#include "hid/HidControllerClass.h"
#include "rtl/AnsiString.h"
#include "rtl/Unicode.h"

#include <chrono>

namespace console {

namespace {

// Receives the controller's events during the first scan.
class TDeviceLister {
public:
    void DeviceArrived(hid::THidDevice* HidDev)
    {
        // Only while the arrival is being announced may a free device be opened; both are
        // cached for the list.
        HidDev->GetProductText();
        HIDP_CAPS caps;
        HidDev->ReadCapabilities(caps);
    }
    void DeviceChanged(rtl::TObject*) { FScanned = true; }

    bool FScanned = false;
};

} // namespace

using rtl::Hex4;

int ListDevices(std::ostream& out, std::ostream& err)
{
    TConsoleLoop loop;
    TDeviceLister lister;
    hid::THidDeviceController controller(nullptr);
    if (!hid::HidBound()) {
        err << "tolvane-cli: the HID libraries (HID.dll, SetupApi.dll) cannot be loaded\n";
        return 1;
    }
    controller.BeginLoading();
    controller.SetOnArrival(hid::THidPlugEvent::Of<&TDeviceLister::DeviceArrived>(&lister));
    controller.SetOnDeviceChange(rtl::TNotifyEvent::Of<&TDeviceLister::DeviceChanged>(&lister));
    controller.EndLoading();

    // The first scan always reports a change, even when it finds nothing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!lister.FScanned && std::chrono::steady_clock::now() < deadline)
        loop.WaitAndDispatch(std::chrono::milliseconds(100));
    if (!lister.FScanned) {
        err << "tolvane-cli: the device scan did not run\n";
        return 1;
    }
    for (std::size_t i = 0; i < controller.Count(); ++i) {
        hid::THidDevice* device = controller.Devices(i);
        HIDP_CAPS caps;
        device->ReadCapabilities(caps);
        out << Hex4(device->HidAttributes().VendorID) << ':' << Hex4(device->HidAttributes().ProductID) << '\t'
            << EscapeControls(rtl::Utf8FromUtf16(device->GetProductText())) << '\t'
            << EscapeControls(device->DeviceInfo().FInterfacePath) << '\t' << Hex4(caps.UsagePage) << ':'
            << Hex4(caps.Usage) << ' ' << caps.InputReportByteLength << '/' << caps.OutputReportByteLength << '/'
            << caps.FeatureReportByteLength << (controller.InUseElsewhere(device) ? "\tin use" : "") << '\n';
    }
    return 0;
}

} // namespace console
