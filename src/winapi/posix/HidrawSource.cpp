#include "HidrawSource.h"

#include "ReportDescriptor.h"

#include "rtl/AnsiString.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace winapi::posix {

namespace {

constexpr const char* HidrawPrefix = "/dev/hidraw";
constexpr const char* CollectionMark = "&col";
// Kernel-assigned HID device numbers are kept below this, so that each collection of a
// device gets an instance of its own and none meets a virtual unit's (below 2^31).
constexpr DWORD InstanceBase = 0x80000000u;
constexpr unsigned MaxCollections = 256;

struct TUdevDeleter {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
};
using TUdev = std::unique_ptr<udev, TUdevDeleter>;
using TUdevDevice = std::unique_ptr<udev_device, TUdevDeleter>;
using TUdevEnumerate = std::unique_ptr<udev_enumerate, TUdevDeleter>;

std::string Text(const char* text)
{
    return text ? text : "";
}

// The hid device behind a hidraw node: "BUS:VENDOR:PRODUCT.NUMBER", NUMBER new for every
// device the kernel makes, so a re-plugged unit gets a new one.
struct THidParent {
    unsigned Vendor = 0, Product = 0;
    unsigned long Number = 0;
    std::string Name, Driver, SysPath;
};

bool ReadHidParent(udev_device* hidraw, THidParent& parent)
{
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    if (!hid)
        return false;
    unsigned bus = 0;
    if (std::sscanf(Text(udev_device_get_property_value(hid, "HID_ID")).c_str(), "%x:%x:%x", &bus, &parent.Vendor,
                    &parent.Product)
        != 3)
        return false;
    const std::string sysname = Text(udev_device_get_sysname(hid));
    const std::size_t dot = sysname.rfind('.');
    parent.Number = dot == std::string::npos ? 0 : std::strtoul(sysname.c_str() + dot + 1, nullptr, 16);
    parent.Name = Text(udev_device_get_property_value(hid, "HID_NAME"));
    parent.Driver = Text(udev_device_get_driver(hid));
    parent.SysPath = Text(udev_device_get_syspath(hid));
    return true;
}

std::vector<std::uint8_t> ReadSysfsDescriptor(udev_device* hidraw)
{
    std::vector<std::uint8_t> bytes;
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    if (!hid)
        return bytes;
    const std::string path = Text(udev_device_get_syspath(hid)) + "/report_descriptor";
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        std::uint8_t block[HID_MAX_DESCRIPTOR_SIZE];
        const std::size_t got = std::fread(block, 1, sizeof block, file);
        bytes.assign(block, block + got);
        std::fclose(file);
    }
    return bytes;
}

// As Windows lists them for a HID collection, most specific first, hexadecimal digits in
// upper case.
std::vector<std::string> HardwareIdsOf(const TDeviceIdentity& id, const std::string& collectionId)
{
    const std::string vidPid = rtl::Format("VID_%04X&PID_%04X", id.VendorId, id.ProductId);
    const std::string page = rtl::Format("UP:%04X", id.UsagePage);
    const std::string usage = page + rtl::Format("_U:%04X", id.Usage);
    return {"HID\\" + vidPid + rtl::Format("&REV_%04X", id.VersionNumber) + collectionId,
            "HID\\" + vidPid + collectionId,
            rtl::Format("HID\\VID_%04X&", id.VendorId) + usage,
            "HID_DEVICE_" + usage,
            "HID_DEVICE_" + page,
            "HID_DEVICE"};
}

// The records of one hidraw node, one per top-level collection.
std::vector<TDeviceRecord> RecordsOf(udev_device* hidraw)
{
    std::vector<TDeviceRecord> records;
    const char* node = udev_device_get_devnode(hidraw);
    THidParent parent;
    if (!node || !ReadHidParent(hidraw, parent))
        return records;

    TDeviceIdentity identity;
    identity.VendorId = static_cast<USHORT>(parent.Vendor);
    identity.ProductId = static_cast<USHORT>(parent.Product);
    // The unit's place: its USB device's sysfs path, named by the ports it hangs from, so the
    // same for any unit in the same cradle. A device with no USB parent (uhid) has its own.
    std::string location = parent.SysPath;
    // Windows reports the USB device's release number and product string where there is one.
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device")) {
        location = Text(udev_device_get_syspath(usb));
        identity.VersionNumber = static_cast<USHORT>(
            std::strtoul(Text(udev_device_get_sysattr_value(usb, "bcdDevice")).c_str(), nullptr, 16));
        identity.Product = Text(udev_device_get_sysattr_value(usb, "product"));
    } else {
        identity.Product = parent.Name;
    }

    const std::vector<std::uint8_t> descriptor = ReadSysfsDescriptor(hidraw);
    TReportDescriptorCaps caps = ParseReportDescriptor(descriptor.data(), descriptor.size());
    if (!caps.Error.empty()) {
        DiagnoseOnce(std::string(node) + ": report descriptor cannot be parsed (" + caps.Error
                     + "); listed without reports");
        caps.Collections.assign(1, THidCollectionCaps{});
    }
    const std::size_t count = std::min<std::size_t>(caps.Collections.size(), MaxCollections);
    for (std::size_t index = 0; index < count; ++index) {
        const THidCollectionCaps& collection = caps.Collections[index];
        TDeviceRecord record;
        record.Path = node;
        std::string collectionId;
        if (count > 1) {
            const std::string number = (index < 9 ? "0" : "") + std::to_string(index + 1);
            record.Path += CollectionMark + number;
            collectionId = "&Col" + number;
        }
        record.Identity = identity;
        record.Identity.UsagePage = collection.UsagePage;
        record.Identity.Usage = collection.Usage;
        record.Identity.InputLength = collection.InputLength;
        record.Identity.OutputLength = collection.OutputLength;
        record.Identity.FeatureLength = collection.FeatureLength;
        record.Identity.Instance = InstanceBase | static_cast<DWORD>((parent.Number & 0x7FFFFF) << 8) | index;
        record.HardwareIds = HardwareIdsOf(record.Identity, collectionId);
        record.Service = parent.Driver;
        record.Location = location;
        records.push_back(std::move(record));
    }
    return records;
}

std::string NodeOf(const std::string& path)
{
    const std::size_t mark = path.find(CollectionMark);
    return mark == std::string::npos ? path : path.substr(0, mark);
}

unsigned long NodeNumber(const std::string& path)
{
    return std::strtoul(path.c_str() + std::strlen(HidrawPrefix), nullptr, 10);
}

bool IsDisconnect(int err)
{
    // A removed hidraw node answers reads with EIO and writes with ENODEV.
    return err == EIO || err == ENODEV || err == ENXIO || err == ESHUTDOWN;
}

class THidrawFile final : public TDeviceFile {
public:
    THidrawFile(std::string path, TDeviceIdentity identity, DWORD access, bool overlapped, TFd fd, bool numbered,
                std::bitset<256> inputIds, bool shared)
        : TDeviceFile(std::move(path), std::move(identity), access, overlapped), FFd(std::move(fd)),
          FNumbered(numbered), FInputIds(inputIds), FShared(shared),
          FScratch(static_cast<std::size_t>(Identity().InputLength) + 1)
    {
    }

    int PollFd() const override { return FFd.Get(); }

    TReadOutcome ReadReport(BYTE* buffer) override
    {
        TReadOutcome outcome;
        if (IsGone()) {
            outcome.Error = ERROR_DEVICE_NOT_CONNECTED;
            return outcome;
        }
        const std::size_t length = Identity().InputLength;
        // Without report IDs hidraw gives the data alone; Windows puts a 0 byte before it.
        BYTE* target = FNumbered ? FScratch.data() : FScratch.data() + 1;
        const std::size_t room = FNumbered ? length + 1 : length;
        const ssize_t got = read(FFd.Get(), target, room);
        if (got <= 0) {
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                outcome.WouldBlock = true;
            } else if (got == 0 || IsDisconnect(errno)) {
                MarkGone();
                outcome.Error = ERROR_DEVICE_NOT_CONNECTED;
            } else {
                outcome.Error = ErrorFromErrno(errno);
            }
            return outcome;
        }
        FScratch[0] = FNumbered ? FScratch[0] : 0;
        std::size_t size = static_cast<std::size_t>(got) + (FNumbered ? 0 : 1);
        // Every collection of a node reads the node: keep only this collection's reports.
        if (FNumbered && FShared && !FInputIds.test(FScratch[0])) {
            outcome.WouldBlock = true;
            return outcome;
        }
        if (size > length) {
            DiagnoseOnce("device " + Path() + " sent a long input report (more than " + std::to_string(length)
                         + " bytes); cut");
            size = length;
        } else if (size < length && !FNumbered) {
            DiagnoseOnce("device " + Path() + " sent a short input report (" + std::to_string(size) + " of "
                         + std::to_string(length) + " bytes); zero-filled");
        }
        // Numbered reports shorter than the longest are zero-filled without a word, as
        // Windows hands out every report at the full input report length.
        std::memset(FScratch.data() + size, 0, FScratch.size() - size);
        std::memcpy(buffer, FScratch.data(), length);
        outcome.Bytes = static_cast<DWORD>(length);
        return outcome;
    }

    DWORD WriteReport(const BYTE* data, DWORD count, DWORD waitMs) override
    {
        if (IsGone())
            return ERROR_DEVICE_NOT_CONNECTED;
        // hidraw takes the report ID first, 0 for a device without IDs: Windows' layout.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const ssize_t sent = write(FFd.Get(), data, count);
            if (sent >= 0)
                return static_cast<DWORD>(sent) == count ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
            if (errno == EINTR)
                continue;
            if (IsDisconnect(errno)) {
                MarkGone();
                return ERROR_DEVICE_NOT_CONNECTED;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return FailWith(errno);
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return ERROR_SEM_TIMEOUT;
            pollfd room{FFd.Get(), POLLOUT, 0};
            if (poll(&room, 1, static_cast<int>(left)) < 0 && errno != EINTR)
                return FailWith(errno);
        }
    }

private:
    TFd FFd;
    bool FNumbered;
    std::bitset<256> FInputIds;
    bool FShared;
    std::vector<BYTE> FScratch;
};

int OpenFlags(DWORD access)
{
    const bool read = access & GENERIC_READ;
    const bool write = access & GENERIC_WRITE;
    return (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
}

void DiagnoseNoPermission(const std::string& node, const TDeviceIdentity& identity)
{
    DiagnoseOnce(node + " (" + rtl::Hex4(identity.VendorId) + ":" + rtl::Hex4(identity.ProductId)
                 + "): no permission to open it, so it is listed but cannot be used. For a Quillmark unit, "
                   "install the udev rule 70-tolvane.rules (the tolvane package does; see the README), "
                   "run 'udevadm control --reload && udevadm trigger' as root and place the unit again");
}

} // namespace

bool IsHidrawPath(const std::string& path)
{
    return path.rfind(HidrawPrefix, 0) == 0;
}

std::vector<TDeviceRecord> EnumerateHidrawDevices()
{
    std::vector<TDeviceRecord> records;
    TUdev context(udev_new());
    if (!context)
        return records;
    TUdevEnumerate enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw") < 0
        || udev_enumerate_scan_devices(enumeration.get()) < 0)
        return records;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get()))
    {
        TUdevDevice device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device)
            for (auto& record : RecordsOf(device.get()))
                records.push_back(std::move(record));
    }
    // hidraw2 before hidraw10; a node's collections stay in descriptor order.
    std::stable_sort(records.begin(), records.end(), [](const TDeviceRecord& a, const TDeviceRecord& b) {
        return NodeNumber(a.Path) < NodeNumber(b.Path);
    });
    return records;
}

std::shared_ptr<TDeviceFile> OpenHidrawDevice(const std::string& path, DWORD access, bool overlapped, DWORD& error)
{
    const std::string node = NodeOf(path);
    TUdev context(udev_new());
    TUdevDevice device(context ? udev_device_new_from_subsystem_sysname(context.get(), "hidraw",
                                                                        node.substr(std::strlen("/dev/")).c_str())
                               : nullptr);
    if (!device) {
        DiagnoseOnce(node + ": no such hidraw device in sysfs");
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    const std::vector<TDeviceRecord> records = RecordsOf(device.get());
    const auto record =
        std::find_if(records.begin(), records.end(), [&](const TDeviceRecord& r) { return r.Path == path; });
    if (record == records.end()) {
        DiagnoseOnce(path + ": the hidraw device in sysfs does not describe this interface");
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    TDeviceIdentity identity = record->Identity;
    TFd fd;
    if (access & (GENERIC_READ | GENERIC_WRITE)) {
        fd = TFd(open(node.c_str(), OpenFlags(access)));
        if (!fd.IsOpen()) {
            const int failure = errno;
            error = ErrorFromErrno(failure);
            if (failure == EACCES || failure == EPERM)
                DiagnoseNoPermission(node, identity);
            else
                DiagnoseOnce(node + ": cannot open it: " + std::strerror(failure));
            return nullptr;
        }
        hidraw_devinfo info{};
        if (ioctl(fd.Get(), HIDIOCGRAWINFO, &info) == 0) {
            identity.VendorId = static_cast<USHORT>(info.vendor);
            identity.ProductId = static_cast<USHORT>(info.product);
        }
    }
    const std::vector<std::uint8_t> descriptor = ReadSysfsDescriptor(device.get());
    const TReportDescriptorCaps caps = ParseReportDescriptor(descriptor.data(), descriptor.size());
    std::bitset<256> inputIds;
    const std::size_t index = records.size() > 1 ? static_cast<std::size_t>(record - records.begin()) : 0;
    if (index < caps.Collections.size())
        inputIds = caps.Collections[index].InputReportIds;
    error = ERROR_SUCCESS;
    return std::make_shared<THidrawFile>(path, identity, access, overlapped, std::move(fd), caps.HasReportIds, inputIds,
                                         records.size() > 1);
}

} // namespace winapi::posix
