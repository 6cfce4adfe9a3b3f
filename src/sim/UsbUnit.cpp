#include "UsbUnit.h"

#include "Console.h"
#include "ReportDescriptor.h"
#include "Sysfs.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace sim {

namespace {

constexpr std::chrono::milliseconds NodeRecheck{10};
constexpr const char* GadgetPrefix = "tolvane-";
constexpr const char* FunctionName = "hid.usb0";
constexpr const char* LabNote =
    " (the lab VM, tests/lab/run-in-vm.sh, loads dummy_hcd, libcomposite and usb_f_hid; or use --transport uhid)";

std::string GadgetRoot()
{
    return std::string(ConfigfsPath) + "/usb_gadget";
}

std::string Hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xffff);
    return text;
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One write, as configfs and sysfs take an attribute; false with errno set.
bool WriteAttribute(const std::string& path, const void* data, std::size_t size)
{
    TFd file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file.IsOpen())
        return false;
    for (;;) {
        const ssize_t written = ::write(file.Get(), data, size);
        if (written >= 0)
            return static_cast<std::size_t>(written) == size || (errno = EIO, false);
        if (errno != EINTR)
            return false;
    }
}

bool WriteAttribute(const std::string& path, const std::string& text)
{
    return WriteAttribute(path, text.data(), text.size());
}

std::string Failure(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Takes a gadget apart in the order configfs allows: unbound, links, configurations,
// functions, strings, itself. The first failure, or empty.
std::string RemoveGadgetTree(const std::string& gadget)
{
    std::string first;
    const auto note = [&first](const std::string& what) {
        if (first.empty())
            first = Failure(what);
    };
    if (!FirstLine(gadget + "/UDC").empty() && !WriteAttribute(gadget + "/UDC", "\n"))
        note("unbinding " + gadget);
    for (const std::string& config : DirectoryEntries(gadget + "/configs")) {
        const std::string path = gadget + "/configs/" + config;
        for (const std::string& entry : DirectoryEntries(path)) {
            struct stat st {};
            if (::lstat((path + "/" + entry).c_str(), &st) == 0 && S_ISLNK(st.st_mode)
                && ::unlink((path + "/" + entry).c_str()) != 0)
                note("unlinking " + path + "/" + entry);
        }
        for (const std::string& language : DirectoryEntries(path + "/strings"))
            if (::rmdir((path + "/strings/" + language).c_str()) != 0)
                note("removing " + path + "/strings/" + language);
        if (::rmdir(path.c_str()) != 0)
            note("removing " + path);
    }
    for (const std::string& group : {std::string("/functions/"), std::string("/strings/")})
        for (const std::string& entry : DirectoryEntries(gadget + group))
            if (IsDirectory(gadget + group + entry) && ::rmdir((gadget + group + entry).c_str()) != 0)
                note("removing " + gadget + group + entry);
    if (::rmdir(gadget.c_str()) != 0)
        note("removing " + gadget);
    return first;
}

// A gadget of ours whose process is gone keeps its controller bound; ours carry the PID last.
void RemoveStaleGadgets()
{
    for (const std::string& name : DirectoryEntries(GadgetRoot())) {
        const std::size_t dash = name.rfind('-');
        if (name.rfind(GadgetPrefix, 0) != 0 || dash == std::string::npos || dash + 1 == name.size()
            || name.find_first_not_of("0123456789", dash + 1) != std::string::npos)
            continue;
        const long pid = std::strtol(name.c_str() + dash + 1, nullptr, 10);
        if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        const std::string problem = RemoveGadgetTree(GadgetRoot() + "/" + name);
        if (problem.empty())
            PrintDiagnostic("removed the gadget %s left by process %ld, which is gone", name.c_str(), pid);
        else
            PrintDiagnostic("cannot remove the gadget %s left by process %ld: %s", name.c_str(), pid, problem.c_str());
    }
}

std::string UdcName(unsigned controller)
{
    return "dummy_udc." + std::to_string(controller);
}

bool HasUdc(unsigned controller)
{
    return ::access((std::string(UdcClassPath) + "/" + UdcName(controller)).c_str(), F_OK) == 0;
}

std::string GadgetHolding(const std::string& udc)
{
    for (const std::string& name : DirectoryEntries(GadgetRoot()))
        if (FirstLine(GadgetRoot() + "/" + name + "/UDC") == udc)
            return name;
    return "";
}

// The device on the first port of the root hub of dummy_hcd's host controller paired with the
// device controller `controller` (same number).
std::optional<std::string> PortDevice(unsigned controller)
{
    const std::string hcd = "/sys/devices/platform/dummy_hcd." + std::to_string(controller);
    for (const std::string& bus : DirectoryEntries(hcd)) {
        if (bus.size() < 4 || bus.rfind("usb", 0) != 0 || bus.find_first_not_of("0123456789", 3) != std::string::npos)
            continue;
        const std::string device = hcd + "/" + bus + "/" + bus.substr(3) + "-1";
        if (IsDirectory(device))
            return device;
    }
    return std::nullopt;
}

} // namespace

TUsbUnit::TUsbUnit(TUnitDescription description, std::chrono::milliseconds placeTimeout, int stopFd, TTrace* trace)
    : TVirtualUnit(std::move(description), stopFd, trace), FPlaceTimeout(placeTimeout),
      FReportLength(std::max(FDescription.InLength, FDescription.OutLength) - 1)
{
    if (FDescription.SerialNumber.empty())
        FDescription.SerialNumber = FDescription.Name;
}

TUsbUnit::~TUsbUnit()
{
    Remove();
    if (FGadget.empty())
        return;
    const std::string problem = RemoveGadgetTree(FGadget);
    if (!problem.empty())
        PrintDiagnostic("%s: the gadget is left in configfs: %s", FDescription.Name.c_str(), problem.c_str());
}

bool TUsbUnit::Place(std::string& error)
{
    if (IsPlaced())
        return true;
    if (FGadget.empty() && !MakeGadget(error))
        return false;
    if (!Bind(error))
        return false;
    const TWaitResult result = ServiceUntil(
        FPlaceTimeout,
        [this] {
            if (!FHidg.IsOpen())
                OpenFunctionNode();
            if (FNode.empty())
                FNode = FindHidrawNode().value_or("");
            return FHidg.IsOpen() && !FNode.empty();
        },
        NodeRecheck);
    if (result == TWaitResult::Ready) {
        PrintEvent("placed " + FDescription.Name + " " + FNode);
        return true;
    }
    if (result == TWaitResult::Stopped)
        error = "stopped by a signal while the host enumerated the gadget";
    else if (!FHidg.IsOpen())
        error = "the gadget's /dev/hidgN did not come within " + SecondsText(FPlaceTimeout);
    else
        error = "the host gave the gadget on " + UdcName(*FController) + " no hidraw node within "
            + SecondsText(FPlaceTimeout) + " (is usbhid loaded? see the kernel log)";
    FHidg.Close();
    FNode.clear();
    Unbind();
    return false;
}

void TUsbUnit::Remove()
{
    if (!IsPlaced())
        return;
    FHidg.Close();
    FPending.clear();
    Unbind();
    // Placing again at once must not find the node of the device the host is still dropping.
    if (ServiceUntil(
            FPlaceTimeout, [this] { return !FindUsbDevice(); }, NodeRecheck)
        == TWaitResult::TimedOut)
        PrintDiagnostic("%s: the host still shows the unbound gadget after %s", FDescription.Name.c_str(),
                        SecondsText(FPlaceTimeout).c_str());
    FNode.clear();
    PrintEvent("removed " + FDescription.Name);
}

bool TUsbUnit::CheckKernel(std::string& error) const
{
    const std::string udcs = UdcClassPath;
    if (!HasUdc(0)) {
        error =
            "no dummy_hcd controller (no dummy_udc.0 in " + udcs + "): this kernel offers no virtual USB bus" + LabNote;
        return false;
    }
    if (IsDirectory(GadgetRoot()))
        return true;
    if (!IsDirectory(ConfigfsPath)) {
        error = std::string("configfs is missing (no ") + ConfigfsPath + ")" + LabNote;
        return false;
    }
    if (::mount("configfs", ConfigfsPath, "configfs", 0, nullptr) != 0 && errno != EBUSY) {
        error = Failure(std::string("cannot mount configfs on ") + ConfigfsPath);
        return false;
    }
    if (!IsDirectory(GadgetRoot())) {
        error = "libcomposite is missing: configfs has no usb_gadget" + std::string(LabNote);
        return false;
    }
    return true;
}

bool TUsbUnit::MakeGadget(std::string& error)
{
    if (!CheckKernel(error))
        return false;
    RemoveStaleGadgets();
    const std::string gadget = GadgetRoot() + "/" + GadgetPrefix + FDescription.Name + "-" + std::to_string(::getpid());
    if (::mkdir(gadget.c_str(), 0755) != 0) {
        error = errno == EACCES || errno == EPERM
            ? Failure("cannot make " + gadget) + " (making a USB gadget needs root)"
            : Failure("cannot make " + gadget);
        return false;
    }
    FGadget = gadget;
    const std::string function = gadget + "/functions/" + FunctionName;
    const TBytes descriptor = BuildReportDescriptor(FDescription.InLength, FDescription.OutLength);
    const auto write = [&error](const std::string& path, const std::string& text) {
        return WriteAttribute(path, text) || (error = Failure("cannot write " + path), false);
    };
    const auto make = [&error](const std::string& path) {
        return ::mkdir(path.c_str(), 0755) == 0 || (error = Failure("cannot make " + path), false);
    };
    const bool made = write(gadget + "/idVendor", Hex4(FDescription.VendorId))
        && write(gadget + "/idProduct", Hex4(FDescription.ProductId))
        && write(gadget + "/bcdDevice", Hex4(FDescription.Release))
        && write(gadget + "/bcdUSB", "0x0200")
        // No manufacturer string: the host names the device by its product alone, as with uhid.
        && make(gadget + "/strings/0x409") && write(gadget + "/strings/0x409/product", FDescription.Product)
        && write(gadget + "/strings/0x409/serialnumber", FDescription.SerialNumber) && make(gadget + "/configs/c.1")
        && (::mkdir(function.c_str(), 0755) == 0
            || (error = errno == ENOENT
                    ? "usb_f_hid is missing: configfs cannot make a HID function" + std::string(LabNote)
                    : Failure("cannot make " + function),
                false))
        && write(function + "/protocol", "0") && write(function + "/subclass", "0")
        && write(function + "/report_length", std::to_string(FReportLength))
        && (WriteAttribute(function + "/report_desc", descriptor.data(), descriptor.size())
            || (error = Failure("the kernel refused the report descriptor"), false))
        && (::symlink(function.c_str(), (gadget + "/configs/c.1/" + FunctionName).c_str()) == 0
            || (error = Failure("cannot link the HID function into the configuration"), false));
    if (made)
        return true;
    RemoveGadgetTree(gadget);
    FGadget.clear();
    return false;
}

bool TUsbUnit::Bind(std::string& error)
{
    if (FController)
        return BindTo(*FController, error);
    unsigned controller = 0;
    for (; HasUdc(controller); ++controller) {
        // Another process may take a free one first: it answers EBUSY, and the next is tried.
        if (!GadgetHolding(UdcName(controller)).empty())
            continue;
        if (BindTo(controller, error)) {
            FController = controller;
            return true;
        }
        if (errno != EBUSY)
            return false;
    }
    error = "every dummy_hcd controller is taken (" + std::to_string(controller)
        + "): load dummy_hcd with num=N for N units";
    return false;
}

bool TUsbUnit::BindTo(unsigned controller, std::string& error)
{
    const std::string udc = UdcName(controller);
    const auto earlier = PortDevice(controller);
    FEarlierDevnum = earlier ? FirstLine(*earlier + "/devnum") : "";
    if (!WriteAttribute(FGadget + "/UDC", udc)) {
        const int failure = errno;
        const std::string holder = failure == EBUSY ? GadgetHolding(udc) : "";
        error = "cannot bind the gadget to " + udc + ": "
            + (holder.empty() ? std::string(std::strerror(failure)) : "the gadget " + holder + " holds it");
        errno = failure;
        return false;
    }
    FBound = true;
    FNode.clear();
    return true;
}

void TUsbUnit::Unbind()
{
    if (!FBound)
        return;
    if (!WriteAttribute(FGadget + "/UDC", "\n"))
        PrintDiagnostic("%s: cannot unbind the gadget from %s: %s", FDescription.Name.c_str(),
                        UdcName(*FController).c_str(), std::strerror(errno));
    FBound = false;
}

// The function's character device is the one whose numbers its configfs "dev" gives.
bool TUsbUnit::OpenFunctionNode()
{
    unsigned major = 0, minor = 0;
    const std::string numbers = FirstLine(FGadget + "/functions/" + FunctionName + "/dev");
    if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2)
        return false;
    const std::string uevent = "/sys/dev/char/" + numbers + "/uevent";
    std::ifstream file(uevent);
    std::string line, node;
    while (std::getline(file, line))
        if (line.rfind("DEVNAME=", 0) == 0)
            node = "/dev/" + line.substr(8);
    if (node.empty())
        return false;
    TFd hidg(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!hidg.IsOpen() || ::fstat(hidg.Get(), &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != makedev(major, minor))
        return false;
    FHidg = std::move(hidg);
    return true;
}

void TUsbUnit::CollectPollFds(std::vector<pollfd>& fds) const
{
    if (FHidg.IsOpen())
        fds.push_back({FHidg.Get(), static_cast<short>(POLLIN | (FPending.empty() ? 0 : POLLOUT)), 0});
}

void TUsbUnit::Service(const pollfd* fds, std::size_t count)
{
    if (count == 0)
        return;
    if (fds[0].revents & (POLLERR | POLLNVAL)) {
        Lose("/dev/hidgN reported an error");
        return;
    }
    if (fds[0].revents & POLLIN)
        ReceiveOutput();
    if (fds[0].revents & POLLOUT)
        WritePending();
}

void TUsbUnit::ReceiveOutput()
{
    // The descriptor has no report IDs: the data alone arrives, and a host counted ID 0 first.
    TBytes report(FReportLength + 1);
    const ssize_t received = ::read(FHidg.Get(), report.data() + 1, FReportLength);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            Lose(std::string("reading /dev/hidgN failed: ") + std::strerror(errno));
        return;
    }
    report.resize(static_cast<std::size_t>(received) + 1);
    ReceiveOutputReport(report, false);
}

void TUsbUnit::DeliverInputReport(const TBytes& report)
{
    FPending.emplace_back(report.begin() + 1, report.end());
    WritePending();
}

// The function holds one input report until the host reads it; the rest wait here for POLLOUT.
void TUsbUnit::WritePending()
{
    while (!FPending.empty() && FHidg.IsOpen()) {
        const ssize_t written = ::write(FHidg.Get(), FPending.front().data(), FPending.front().size());
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (written < 0)
            PrintDiagnostic("%s: input report lost: %s", FDescription.Name.c_str(), std::strerror(errno));
        else if (static_cast<std::size_t>(written) != FPending.front().size())
            PrintDiagnostic("%s: input report cut to %zd of %zu bytes by the function", FDescription.Name.c_str(),
                            written, FPending.front().size());
        FPending.pop_front();
    }
}

void TUsbUnit::Lose(const std::string& why)
{
    PrintDiagnostic("%s: the gadget's function is gone: %s", FDescription.Name.c_str(), why.c_str());
    FHidg.Close();
    FPending.clear();
}

// Ours carries our serial number and was enumerated after we bound: the host may still show
// the device of the gadget bound there before, of the same serial number perhaps.
std::optional<std::string> TUsbUnit::FindUsbDevice() const
{
    const auto device = FController ? PortDevice(*FController) : std::nullopt;
    if (device && FirstLine(*device + "/serial") == FDescription.SerialNumber
        && FirstLine(*device + "/devnum") != FEarlierDevnum)
        return device;
    return std::nullopt;
}

std::optional<std::string> TUsbUnit::FindHidrawNode() const
{
    const auto device = FindUsbDevice();
    if (!device)
        return std::nullopt;
    const std::string interface = *device + "/" + device->substr(device->rfind('/') + 1) + ":1.0";
    for (const std::string& hid : DirectoryEntries(interface))
        if (std::count(hid.begin(), hid.end(), ':') == 2)
            if (auto node = HidrawNode(interface + "/" + hid))
                return node;
    return std::nullopt;
}

} // namespace sim
