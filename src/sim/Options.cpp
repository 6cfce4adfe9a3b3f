#include "Options.h"

#include "ReportDescriptor.h"

#include "winapi/posix/UnitDirectory.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <iterator>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

constexpr unsigned LargestCount = 999;
constexpr long LargestReportLength = 65536;

bool ParseWhole(const std::string& text, long low, long high, long& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool ParseSeconds(const std::string& text, std::chrono::milliseconds& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400)
        return false;
    value = std::chrono::milliseconds(std::max(1LL, std::llround(seconds * 1000.0)));
    return true;
}

// What a kernel HID device made through uhid can be.
bool CheckTransport(const TSimOptions& options, std::string& error)
{
    error.clear();
    if (options.Transport == TTransport::Socket) {
        if (!options.Descriptor.empty())
            error = "--descriptor needs --transport uhid";
        return options.Descriptor.empty();
    }
    if (!options.Directory.empty())
        error = "--dir places socket units; a uhid unit has no unit directory";
    else if (options.Unit.QueryOnly)
        error =
            "--access query-only cannot be made with uhid: nothing reserves a kernel HID device for query-only opens";
    else if (options.Unit.InLength < 2 || options.Unit.InLength > UhidLargestInLength)
        error = "--in-length " + std::to_string(options.Unit.InLength) + " cannot be made with uhid: from 2 to "
            + std::to_string(UhidLargestInLength) + ", report ID included";
    else if (options.Unit.OutLength < 2 || options.Unit.OutLength > UhidLargestOutLength)
        error = "--out-length " + std::to_string(options.Unit.OutLength) + " cannot be made with uhid: from 2 to "
            + std::to_string(UhidLargestOutLength) + ", report ID included";
    else if (!options.Descriptor.empty() && !options.Script.empty())
        error = "--descriptor makes a device that answers nothing; it cannot play a --script";
    return error.empty();
}

} // namespace

TParseOutcome ParseOptions(int argc, const char* const* argv, TSimOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        if (option == "--help" || option == "-h") {
            if (hasValue) {
                error = option + " takes no value";
                return TParseOutcome::Error;
            }
            return TParseOutcome::Help;
        }
        static const char* const Known[] = {
            "--dir",        "--name",   "--count",        "--vid",   "--pid",       "--product",   "--in-length",
            "--out-length", "--access", "--version",      "--pcb",   "--bat",       "--ser",       "--info-file",
            "--sser-reply", "--script", "--step-timeout", "--trace", "--transport", "--descriptor"};
        if (std::find_if(std::begin(Known), std::end(Known), [&](const char* k) { return option == k; })
            == std::end(Known)) {
            error = "unknown option " + option;
            return TParseOutcome::Error;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = option + " needs a value";
                return TParseOutcome::Error;
            }
            value = argv[++i];
        }

        long number = 0;
        bool good = true;
        if (option == "--dir") {
            good = !value.empty();
            options.Directory = value;
        } else if (option == "--name") {
            good = value.find('/') == std::string::npos
                && winapi::posix::IsUnitSocketName(value + winapi::posix::UnitSocketSuffix);
            options.Unit.Name = value;
        } else if (option == "--count") {
            good = ParseWhole(value, 1, LargestCount, number);
            options.Count = static_cast<unsigned>(number);
        } else if (option == "--vid" || option == "--pid") {
            good = ParseWhole(value, 0, 0xffff, number);
            (option == "--vid" ? options.Unit.VendorId : options.Unit.ProductId) = static_cast<std::uint16_t>(number);
        } else if (option == "--product") {
            options.Unit.Product = value;
        } else if (option == "--in-length" || option == "--out-length") {
            good = ParseWhole(value, 1, LargestReportLength, number);
            (option == "--in-length" ? options.Unit.InLength : options.Unit.OutLength) =
                static_cast<std::size_t>(number);
        } else if (option == "--access") {
            good = value == "rw" || value == "query-only";
            options.Unit.QueryOnly = value == "query-only";
        } else if (option == "--version") {
            options.Model.Version = value;
        } else if (option == "--pcb") {
            options.Model.Pcb = value;
        } else if (option == "--bat") {
            options.Model.Bat = value;
        } else if (option == "--ser") {
            options.Model.Ser = value;
        } else if (option == "--info-file") {
            good = !value.empty();
            options.InfoFile = value;
        } else if (option == "--sser-reply") {
            good = value == "OK" || value == "NG" || value == "none";
            options.Model.SserReply = value == "OK" ? TSserReply::Ok
                : value == "NG"                     ? TSserReply::Ng
                                                    : TSserReply::None;
        } else if (option == "--script") {
            good = !value.empty();
            options.Script = value;
        } else if (option == "--step-timeout") {
            good = ParseSeconds(value, options.StepTimeout);
        } else if (option == "--trace") {
            good = !value.empty();
            options.Trace = value;
        } else if (option == "--transport") {
            good = value == "socket" || value == "uhid";
            options.Transport = value == "uhid" ? TTransport::Uhid : TTransport::Socket;
        } else if (option == "--descriptor") {
            good = !value.empty();
            options.Descriptor = value;
        }
        if (!good) {
            error = "bad value for " + option + ": \"" + value + "\"";
            return TParseOutcome::Error;
        }
    }
    if (!options.Script.empty() && options.Count != 1) {
        error = "--script drives exactly one unit; it cannot be combined with --count " + std::to_string(options.Count);
        return TParseOutcome::Error;
    }
    return CheckTransport(options, error) ? TParseOutcome::Run : TParseOutcome::Error;
}

std::string HelpText()
{
    return "Usage: quillmark-sim [OPTION]...\n"
           "Places virtual Quillmark units, as sockets in the unit directory or as kernel HID\n"
           "devices, and plays the unit's side of the protocol: by the built-in behaviour model,\n"
           "or step by step from a script.\n"
           "\n"
           "  --transport KIND      socket (default): a socket in the unit directory; uhid: a kernel\n"
           "                        HID device made through /dev/uhid (needs write access to it),\n"
           "                        met by a host as /dev/hidrawN\n"
           "  --dir DIR             unit directory, sockets only (default: $TOLVANE_UNIT_DIR, else\n"
           "                        $XDG_RUNTIME_DIR/tolvane/units, else /tmp/tolvane-units-UID)\n"
           "  --name NAME           unit name, socket NAME.sock (default quillmark)\n"
           "  --count N             place N units NAME-1 ... NAME-N (default 1, at most 999)\n"
           "  --vid ID, --pid ID    vendor and product id, C notation (default 0x1209, 0x0043)\n"
           "  --product TEXT        product string (default Quillmark)\n"
           "  --in-length N         input report length, report ID included (default 1025)\n"
           "  --out-length N        output report length, report ID included (default 65)\n"
           "  --access MODE         rw (default) or query-only\n"
           "  --version TEXT        firmware version answered to VER (default 1.0.05)\n"
           "  --pcb TEXT, --bat TEXT, --ser TEXT\n"
           "                        numbers answered to GSER (defaults P2301A000417,\n"
           "                        B2210C000388, QM0000012345)\n"
           "  --info-file FILE      upload FILE as RGINFO.INI instead of the built-in one\n"
           "  --sser-reply REPLY    answer to SSER: OK (default), NG (numbers not stored) or none\n"
           "                        (stored, no answer)\n"
           "  --descriptor FILE     uhid only: a device with the report descriptor in FILE instead\n"
           "                        of a Quillmark; it answers nothing and stays until signalled.\n"
           "                        FILE holds hex bytes (\"05 01 09 06\", \"0x05, 0x01\" or \"0501\"),\n"
           "                        '#' starts a comment; at most 4096 bytes\n"
           "  --script FILE         play FILE instead of the behaviour model (needs --count 1)\n"
           "  --step-timeout SEC    time-out of every wait, fractions allowed (default 5)\n"
           "  --trace FILE          log every report as 'SECONDS.MICROS DIR HEX'; '-' is stdout\n"
           "  --help                show this help\n"
           "\n"
           "Script steps, one per line (TEXT is literal except \\r \\n \\t \\0 \\xHH \\\\):\n"
           "  expect TEXT           next output report's data starts with TEXT\n"
           "  expect-any            any next output report\n"
           "  send TEXT             one input report with TEXT\n"
           "  send-hex HH HH ...    one input report with these bytes\n"
           "  upload FILE [size=N] [stamp=TEXT] [name=TEXT]\n"
           "                        upload FILE, awaiting the tool's UPLR replies\n"
           "  quiet MS              no output report for MS milliseconds\n"
           "  sleep MS              wait MS milliseconds, queueing output reports\n"
           "  await FILE            wait until FILE exists (relative to the script), queueing\n"
           "                        output reports; a test's way to say \"go on\"\n"
           "  unplug, plug          take the unit out, place it again\n"
           "Lines that are empty or start with # are ignored.\n"
           "\n"
           "With uhid, the input and output report lengths run from 2 to 4097 and 4096; --dir and\n"
           "--access query-only are usage errors. The device is vendor-defined (usage page 0xFF00)\n"
           "without report IDs; a host writes the report ID 0 in front of the output report, and\n"
           "the trace shows the reports as with sockets. Placing waits up to the step time-out\n"
           "for the kernel's hidraw node; unplug and plug destroy and make the device.\n"
           "\n"
           "Standard output: 'placed NAME PATH' (PATH: the socket, or /dev/hidrawN) and\n"
           "'removed NAME' lines.\n"
           "Exit status: 0 the script ran to its end, or a signal took the units out;\n"
           "1 a step failed; 2 usage error, malformed script, unusable unit directory, or a\n"
           "device that cannot be made (/dev/uhid missing or not writable, descriptor refused).\n";
}

} // namespace sim
