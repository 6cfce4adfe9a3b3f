#include "DeviceList.h"

#include "ConsoleLoop.h"
#include "ConsoleText.h"
#include "SessionReport.h"

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

int ListDevices(std::ostream& out, std::ostream& err, bool json, const std::vector<std::string>& devices)
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
        if (!DeviceChosen(devices, *device))
            continue;
        HIDP_CAPS caps;
        device->ReadCapabilities(caps);
        const auto& id = device->HidAttributes();
        const std::string product = rtl::Utf8FromUtf16(device->GetProductText());
        const std::string& path = device->DeviceInfo().FInterfacePath;
        const std::string& location = device->DeviceInfo().FLocation;
        const bool inUse = controller.InUseElsewhere(device);
        if (json) {
            out << "{\"vendorId\":\"" << Hex4(id.VendorID) << "\",\"productId\":\"" << Hex4(id.ProductID)
                << "\",\"product\":" << JsonString(product) << ",\"path\":" << JsonString(path) << ",\"usagePage\":\""
                << Hex4(caps.UsagePage) << "\",\"usage\":\"" << Hex4(caps.Usage)
                << "\",\"inputLength\":" << caps.InputReportByteLength
                << ",\"outputLength\":" << caps.OutputReportByteLength
                << ",\"featureLength\":" << caps.FeatureReportByteLength
                << ",\"location\":" << (location.empty() ? "null" : JsonString(location))
                << ",\"inUse\":" << (inUse ? "true" : "false") << "}\n";
            continue;
        }
        out << Hex4(id.VendorID) << ':' << Hex4(id.ProductID) << '\t' << EscapeControls(product) << '\t'
            << EscapePath(path) << '\t' << Hex4(caps.UsagePage) << ':' << Hex4(caps.Usage) << ' '
            << caps.InputReportByteLength << '/' << caps.OutputReportByteLength << '/' << caps.FeatureReportByteLength
            << (inUse ? "\tin use" : "") << '\n';
    }
    return 0;
}

} // namespace console
