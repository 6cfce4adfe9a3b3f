#include "UhidUnit.h"

#include "Console.h"
#include "ReportDescriptor.h"
#include "Sysfs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/uhid.h>
#include <memory>

namespace sim {

namespace {

const std::string HidDevices = "/sys/bus/hid/devices";
constexpr std::chrono::milliseconds NodeRecheck{10};

std::atomic<unsigned> PlacementCount{0};

std::string OpenFailure(int error)
{
    const std::string path = UhidDevicePath;
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return path
            + " is missing: this kernel offers no uhid device (load the uhid module, or use "
              "--transport socket)";
    case EACCES:
    case EPERM:
    case EROFS:
        return path + " is not writable (" + std::strerror(error)
            + "): making a kernel HID device needs write access to it, usually root";
    default: return "cannot open " + path + ": " + std::strerror(error);
    }
}

template <std::size_t N> void CopyText(std::uint8_t (&field)[N], const std::string& text)
{
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

bool HasLine(const std::string& path, const std::string& line)
{
    std::ifstream file(path);
    std::string read;
    while (std::getline(file, read))
        if (read == line)
            return true;
    return false;
}

} // namespace

TUhidUnit::TUhidUnit(TUnitDescription description, TBytes reportDescriptor, std::chrono::milliseconds placeTimeout,
                     int stopFd, TTrace* trace)
    : TVirtualUnit(std::move(description), stopFd, trace), FReportDescriptor(std::move(reportDescriptor)),
      FAnswers(FReportDescriptor.empty()), FPlaceTimeout(placeTimeout)
{
    if (FAnswers)
        FReportDescriptor = BuildReportDescriptor(FDescription.InLength, FDescription.OutLength);
}

TUhidUnit::~TUhidUnit()
{
    Remove();
}

bool TUhidUnit::Place(std::string& error)
{
    if (IsPlaced())
        return true;
    if (!Create(error))
        return false;
    const TWaitResult result = ServiceUntil(
        FPlaceTimeout,
        [this] {
            if (!IsPlaced())
                return true;
            if (const auto node = FindHidrawNode())
                FNode = *node;
            return !FNode.empty();
        },
        NodeRecheck);
    if (result == TWaitResult::Ready && IsPlaced()) {
        PrintEvent("placed " + FDescription.Name + " " + FNode);
        return true;
    }
    if (result == TWaitResult::Stopped)
        error = "stopped by a signal while the kernel made the device";
    else if (result == TWaitResult::TimedOut)
        error = "the kernel gave the device no hidraw node within " + SecondsText(FPlaceTimeout)
            + " (a report descriptor it refuses? see the kernel log)";
    else
        error = "the kernel dropped the device while making it";
    Destroy();
    return false;
}

void TUhidUnit::Remove()
{
    if (!IsPlaced())
        return;
    Destroy();
    PrintEvent("removed " + FDescription.Name);
}

bool TUhidUnit::Create(std::string& error)
{
    TFd uhid(::open(UhidDevicePath, O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (!uhid.IsOpen()) {
        error = OpenFailure(errno);
        return false;
    }
    FPhys = "quillmark-sim/" + std::to_string(::getpid()) + "/" + std::to_string(++PlacementCount);
    auto event = std::make_unique<uhid_event>();
    event->type = UHID_CREATE2;
    uhid_create2_req& create = event->u.create2;
    CopyText(create.name, FDescription.Product);
    CopyText(create.phys, FPhys);
    create.rd_size = static_cast<std::uint16_t>(FReportDescriptor.size());
    create.bus = BUS_USB;
    create.vendor = FDescription.VendorId;
    create.product = FDescription.ProductId;
    create.version = FDescription.Release;
    std::copy(FReportDescriptor.begin(), FReportDescriptor.end(), create.rd_data);
    FUhid = std::move(uhid);
    if (!WriteEvent(*event, error)) {
        error = "the kernel refused the new HID device: " + error;
        FUhid.Close();
        return false;
    }
    FOpened = false;
    FNode.clear();
    return true;
}

void TUhidUnit::Destroy()
{
    if (!FUhid.IsOpen())
        return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    std::string error;
    if (!WriteEvent(event, error))
        PrintDiagnostic("%s: UHID_DESTROY failed (%s); closing /dev/uhid destroys the device",
                        FDescription.Name.c_str(), error.c_str());
    // Events still queued belong to the destroyed device; closing drops them.
    FUhid.Close();
    FOpened = false;
    FNode.clear();
}

void TUhidUnit::CollectPollFds(std::vector<pollfd>& fds) const
{
    if (FUhid.IsOpen())
        fds.push_back({FUhid.Get(), POLLIN, 0});
}

void TUhidUnit::Service(const pollfd* fds, std::size_t count)
{
    if (count == 0)
        return;
    if (fds[0].revents & POLLIN)
        ReceiveEvent();
    else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
        Lose("/dev/uhid reported an error");
}

void TUhidUnit::ReceiveEvent()
{
    // The kernel may write short events; the rest reads as zero.
    auto event = std::make_unique<uhid_event>();
    const ssize_t received = ::read(FUhid.Get(), event.get(), sizeof *event);
    if (received < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            Lose(std::string("reading /dev/uhid failed: ") + std::strerror(errno));
        return;
    }
    if (received == 0) {
        Lose("/dev/uhid closed");
        return;
    }
    switch (event->type) {
    case UHID_OPEN: FOpened = true; break;
    case UHID_CLOSE:
    case UHID_STOP: FOpened = false; break;
    case UHID_OUTPUT: {
        const uhid_output_req& output = event->u.output;
        const TBytes report(output.data, output.data + std::min<std::size_t>(output.size, UHID_DATA_MAX));
        if (!FAnswers)
            Trace('>', report);
        else if (output.rtype != UHID_OUTPUT_REPORT)
            PrintDiagnostic("%s: report of type %u in an output event; ignored", FDescription.Name.c_str(),
                            static_cast<unsigned>(output.rtype));
        else
            ReceiveOutputReport(report, false);
        break;
    }
    case UHID_GET_REPORT:
    case UHID_SET_REPORT: RefuseRequest(*event); break;
    default: break;
    }
}

// A request unanswered holds the asking host (or the kernel's own driver) for seconds.
void TUhidUnit::RefuseRequest(const uhid_event& request)
{
    auto reply = std::make_unique<uhid_event>();
    const bool get = request.type == UHID_GET_REPORT;
    if (get) {
        reply->type = UHID_GET_REPORT_REPLY;
        reply->u.get_report_reply.id = request.u.get_report.id;
        reply->u.get_report_reply.err = EIO;
    } else {
        reply->type = UHID_SET_REPORT_REPLY;
        reply->u.set_report_reply.id = request.u.set_report.id;
        reply->u.set_report_reply.err = EIO;
    }
    if (FAnswers) {
        static const char* const Kinds[] = {"feature", "output", "input"};
        const unsigned kind = get ? request.u.get_report.rtype : request.u.set_report.rtype;
        PrintDiagnostic("%s: %s of %s report %u refused: the unit exchanges reports only by interrupt transfers",
                        FDescription.Name.c_str(), get ? "GET_REPORT" : "SET_REPORT",
                        kind < 3 ? Kinds[kind] : "unknown",
                        static_cast<unsigned>(get ? request.u.get_report.rnum : request.u.set_report.rnum));
    }
    std::string error;
    if (!WriteEvent(*reply, error))
        PrintDiagnostic("%s: cannot refuse a report request: %s", FDescription.Name.c_str(), error.c_str());
}

void TUhidUnit::DeliverInputReport(const TBytes& report)
{
    // The descriptor has no report IDs, so the kernel takes the data alone.
    auto event = std::make_unique<uhid_event>();
    event->type = UHID_INPUT2;
    const std::size_t size = std::min<std::size_t>(report.size() - 1, UHID_DATA_MAX);
    event->u.input2.size = static_cast<std::uint16_t>(size);
    std::copy_n(report.begin() + 1, size, event->u.input2.data);
    std::string error;
    if (!WriteEvent(*event, error))
        PrintDiagnostic("%s: input report lost: %s", FDescription.Name.c_str(), error.c_str());
}

bool TUhidUnit::WriteEvent(const uhid_event& event, std::string& error)
{
    if (!FUhid.IsOpen()) {
        error = "the device is gone";
        return false;
    }
    for (;;) {
        if (::write(FUhid.Get(), &event, sizeof event) >= 0)
            return true;
        if (errno != EINTR) {
            error = std::strerror(errno);
            return false;
        }
    }
}

void TUhidUnit::Lose(const std::string& why)
{
    PrintDiagnostic("%s: the kernel device is gone: %s", FDescription.Name.c_str(), why.c_str());
    FUhid.Close();
    FOpened = false;
    FNode.clear();
}

std::optional<std::string> TUhidUnit::FindHidrawNode() const
{
    for (const std::string& name : DirectoryEntries(HidDevices))
        if (HasLine(HidDevices + "/" + name + "/uevent", "HID_PHYS=" + FPhys))
            return HidrawNode(HidDevices + "/" + name);
    return std::nullopt;
}

} // namespace sim
