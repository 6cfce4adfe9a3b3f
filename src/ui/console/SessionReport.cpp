#include "SessionReport.h"

#include "ConsoleText.h"

#include "rtl/CodePage.h"

#include "TolvaneVersion.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace console {

std::string Utc(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(millis));
    return text;
}

namespace {

std::string Text(const rtl::AnsiString& cp932)
{
    return JsonString(rtl::Utf8FromCp932(cp932));
}

std::string Text(bool present, const rtl::AnsiString& cp932)
{
    return present ? Text(cp932) : "null";
}

std::string Text(const std::optional<rtl::AnsiString>& cp932)
{
    return cp932 ? Text(*cp932) : "null";
}

const char* Bool(bool value)
{
    return value ? "true" : "false";
}

std::string Triple(const rtl::AnsiString& pcb, const rtl::AnsiString& bat, const rtl::AnsiString& ser)
{
    return "{\"pcb\":" + Text(pcb) + ",\"bat\":" + Text(bat) + ",\"ser\":" + Text(ser) + "}";
}

std::string HostName()
{
    char name[256] = {};
#ifdef _WIN32
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size))
        return {};
#else
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
#endif
    return name;
}

std::string FileRecord(const app::TForm1::TSessionOutcome& outcome)
{
    if (!outcome.UploadStarted)
        return "null";
    const std::string items = outcome.FileParsed ? "{\"pcb\":" + Text(outcome.FilePcb)
            + ",\"bat\":" + Text(outcome.FileBat) + ",\"ser\":" + Text(outcome.FileSer) + "}"
                                                 : "null";
    return "{\"name\":" + Text(outcome.FileName) + ",\"size\":" + std::to_string(outcome.FileSize) + ",\"timeStamp\":"
        + Text(outcome.FileTimeStamp) + ",\"verified\":" + Bool(outcome.FileVerified) + ",\"items\":" + items + "}";
}

// Character 27, where the ser column starts.
constexpr std::size_t SerColumnStart = 27;

} // namespace

TUnitDescription DescribeUnit(const hid::THidDevice& device)
{
    TUnitDescription unit;
    unit.VendorId = device.HidAttributes().VendorID;
    unit.ProductId = device.HidAttributes().ProductID;
    unit.Path = device.DeviceInfo().FInterfacePath;
    unit.Location = device.DeviceInfo().FLocation;
    return unit;
}

std::string SlotOf(const hid::THidDevice& device)
{
    const std::string& location = device.DeviceInfo().FLocation;
    return location.empty() ? device.DeviceInfo().FInterfacePath : location;
}

bool DeviceChosen(const std::vector<std::string>& devices, const hid::THidDevice& device)
{
    const auto& info = device.DeviceInfo();
    return devices.empty() || std::any_of(devices.begin(), devices.end(), [&](const std::string& wanted) {
               return wanted == info.FInterfacePath || (!info.FLocation.empty() && wanted == info.FLocation);
           });
}

TSessionResult JudgeSession(const app::TForm1& form, TSessionEnding ending, const TSessionOptions& options)
{
    const auto& outcome = form.Outcome();
    // Still waiting after an NG to the serial write: the unit refused it, whatever ended the wait.
    const char* refused = outcome.SerialWriteRefused ? "serial-write-refused" : nullptr;
    switch (ending) {
    case TSessionEnding::UnitRemoved: return {false, "unit-removed"};
    case TSessionEnding::TimedOut: return {false, refused ? refused : "timeout"};
    case TSessionEnding::Interrupted: return {false, refused ? refused : "interrupted"};
    case TSessionEnding::Finished: break;
    }
    if (outcome.Failure)
        return {false, outcome.Failure};
    if (!outcome.IdentityRead)
        return {false, "identity-not-read"};
    // The session takes any answer beginning with OK as the serial block, a late copy of the VER
    // answer too; one that stops short of the ser column is no identity. A written serial is
    // judged on the write.
    if (outcome.SerialBlock.size() < SerColumnStart && !outcome.SerialWritten)
        return {false, "identity-incomplete"};
    if (options.ReadInfo && !outcome.FileVerified)
        return {false, "file-not-verified"};
    if (options.WriteSerial && !outcome.SerialWritten)
        return {false, "serial-not-written"};
    return {true, {}};
}

std::string SessionRecord(const app::TForm1::TSessionOutcome& outcome, const TSessionResult& result,
                          const TRecordContext& context)
{
    static const std::string host = JsonString(HostName());
    const TUnitDescription& unit = context.Unit;
    const std::string device = "{\"vendorId\":\"" + rtl::Hex4(unit.VendorId) + "\",\"productId\":\""
        + rtl::Hex4(unit.ProductId) + "\",\"product\":" + Text(outcome.Product) + ",\"path\":" + JsonString(unit.Path)
        + ",\"location\":" + (unit.Location.empty() ? "null" : JsonString(unit.Location)) + "}";
    return "{\"schema\":2,\"tool\":{\"name\":\"tolvane-cli\",\"version\":\"" TOLVANE_VERSION "\"},\"host\":" + host
        + ",\"slot\":" + (context.Slot ? JsonString(*context.Slot) : "null") + ",\"device\":" + device
        + ",\"started\":\"" + Utc(context.Started) + "\",\"ended\":\"" + Utc(context.Ended)
        + "\",\"durationMs\":" + std::to_string(std::max<std::int64_t>(0, context.Duration.count()))
        + ",\"firmware\":" + Text(outcome.VersionRead, outcome.Firmware)
        + ",\"firmwareType\":" + (outcome.VersionRead ? std::to_string(outcome.FirmwareType) : "null")
        + ",\"serialBlock\":" + (outcome.IdentityRead ? Triple(outcome.Pcb, outcome.Bat, outcome.Ser) : "null")
        + ",\"file\":" + FileRecord(outcome)
        + ",\"written\":" + (outcome.SerialSent ? Triple(outcome.SentPcb, outcome.SentBat, outcome.SentSer) : "null")
        + ",\"serialWritten\":" + Bool(outcome.SerialWritten) + ",\"result\":\"" + (result.Ok ? "ok" : "failed")
        + "\",\"reason\":" + (result.Ok ? "null" : JsonString(result.Reason)) + "}";
}

#ifdef _WIN32
namespace {

std::string LastErrorText()
{
    return "Windows error " + std::to_string(GetLastError());
}

} // namespace

TRecordFile::~TRecordFile()
{
    if (FHandle)
        CloseHandle(FHandle);
}

bool TRecordFile::Open(const std::string& path, std::string& error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return false;
    }
    FHandle = file;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        error = LastErrorText();
        return false;
    }
    // Back to the end of the last whole line.
    LONGLONG keep = size.QuadPart;
    char buffer[4096];
    while (keep > 0) {
        const LONGLONG from =
            keep > static_cast<LONGLONG>(sizeof buffer) ? keep - static_cast<LONGLONG>(sizeof buffer) : 0;
        LARGE_INTEGER at{};
        at.QuadPart = from;
        DWORD got = 0;
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)
            || !ReadFile(file, buffer, static_cast<DWORD>(keep - from), &got, nullptr)
            || static_cast<LONGLONG>(got) != keep - from) {
            error = LastErrorText();
            return false;
        }
        const void* newline = nullptr;
        for (DWORD i = got; i > 0 && !newline; --i)
            if (buffer[i - 1] == '\n')
                newline = &buffer[i - 1];
        if (newline) {
            keep = from + (static_cast<const char*>(newline) - buffer) + 1;
            break;
        }
        keep = from;
    }
    if (keep < size.QuadPart) {
        LARGE_INTEGER at{};
        at.QuadPart = keep;
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
            error = LastErrorText();
            return false;
        }
    }
    return true;
}

bool TRecordFile::Append(const std::string& line, std::string& error)
{
    const std::string data = line + '\n';
    LARGE_INTEGER end{};
    DWORD written = 0;
    if (!SetFilePointerEx(FHandle, LARGE_INTEGER{}, &end, FILE_END)
        || !WriteFile(FHandle, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)
        || written != data.size()) {
        error = LastErrorText();
        // No partial line may stay for the next record to run into.
        if (SetFilePointerEx(FHandle, end, nullptr, FILE_BEGIN))
            SetEndOfFile(FHandle);
        return false;
    }
    if (!FlushFileBuffers(FHandle)) {
        error = LastErrorText();
        return false;
    }
    return true;
}
#else
TRecordFile::~TRecordFile()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TRecordFile::Open(const std::string& path, std::string& error)
{
    FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    struct stat status {};
    if (FFd < 0 || ::fstat(FFd, &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    FRegular = S_ISREG(status.st_mode);
    if (!FRegular)
        return true;
    // Back to the end of the last whole line.
    off_t keep = status.st_size;
    char buffer[4096];
    while (keep > 0) {
        const off_t from = keep > static_cast<off_t>(sizeof buffer) ? keep - static_cast<off_t>(sizeof buffer) : 0;
        const auto wanted = static_cast<std::size_t>(keep - from);
        if (::pread(FFd, buffer, wanted, from) != static_cast<ssize_t>(wanted)) {
            error = "cannot read its end";
            return false;
        }
        if (const void* newline = memrchr(buffer, '\n', wanted)) {
            keep = from + (static_cast<const char*>(newline) - buffer) + 1;
            break;
        }
        keep = from;
    }
    if (keep < status.st_size && ::ftruncate(FFd, keep) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool TRecordFile::Append(const std::string& line, std::string& error)
{
    const std::string data = line + '\n';
    const off_t end = FRegular ? ::lseek(FFd, 0, SEEK_END) : 0;
    ssize_t written;
    do
        written = ::write(FFd, data.data(), data.size());
    while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(data.size())) {
        error = written < 0 ? std::strerror(errno) : "short write";
        // No partial line may stay for the next record to run into.
        if (written > 0 && FRegular && ::ftruncate(FFd, end) != 0)
            error += ", and the partial line stays";
        return false;
    }
    // A pipe or terminal has no disk to flush to.
    if (::fdatasync(FFd) != 0 && (FRegular || errno != EINVAL)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}
#endif

TSessionReporter::TSessionReporter(app::TForm1& form, const TSessionOptions& options, std::ostream& err,
                                   TRecordFile* record, TSlot slot, std::string prefix)
    : FForm(form), FOptions(options), FErr(err), FRecord(record), FPrefix(std::move(prefix))
{
    FContext.Slot = std::move(slot);
    form.OnSessionStart = rtl::TNotifyEvent::Of<&TSessionReporter::SessionStarted>(this);
    form.OnSessionEnd = rtl::TNotifyEvent::Of<&TSessionReporter::SessionEnded>(this);
}

TSessionReporter::~TSessionReporter()
{
    FForm.OnSessionStart = {};
    FForm.OnSessionEnd = {};
}

void TSessionReporter::SessionStarted(rtl::TObject*)
{
    if (const hid::THidDevice* unit = FForm.Unit())
        FContext.Unit = DescribeUnit(*unit);
    FContext.Started = std::chrono::system_clock::now();
    FStartedSteady = std::chrono::steady_clock::now();
}

void TSessionReporter::SessionEnded(rtl::TObject*)
{
    Report(FForm.State() == app::stFinished ? TSessionEnding::Finished : TSessionEnding::UnitRemoved);
}

void TSessionReporter::RunEnded(TSessionEnding ending)
{
    if (FForm.HoldsUnit())
        Report(FForm.State() == app::stFinished ? TSessionEnding::Finished : ending);
}

void TSessionReporter::Report(TSessionEnding ending)
{
    const TSessionResult result = JudgeSession(FForm, ending, FOptions);
    FLastResult = result;
    ++FSessions;
    if (ending == TSessionEnding::Finished)
        ++FFinished;
    if (!result.Ok)
        FFailed = true;
    if (FRecord) {
        FContext.Ended = std::chrono::system_clock::now();
        FContext.Duration =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStartedSteady);
        std::string error;
        if (!FRecord->Append(SessionRecord(FForm.Outcome(), result, FContext), error)) {
            FErr << FPrefix << "tolvane-cli: cannot write the record: " << error << std::endl;
            FFailed = true;
        }
    }
    FErr << FPrefix << "result: " << (result.Ok ? "ok" : "failed " + result.Reason) << std::endl;
}

} // namespace console
