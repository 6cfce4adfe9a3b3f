#include "Options.h"

#include "ReportDescriptor.h"
#include "UsbUnit.h"

#include "winapi/posix/UnitDirectory.h"

#include "TolvaneVersion.h"
#include "cli/CommandLine.h"

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

// What a kernel HID device made through uhid, or a USB HID gadget, can be.
bool CheckTransport(const TSimOptions& options, std::string& error)
{
    error.clear();
    const bool usb = options.Transport == TTransport::Usb;
    if (!usb && !options.Unit.SerialNumber.empty())
        error = "--usb-serial needs --transport usb";
    else if (options.Transport != TTransport::Uhid && !options.Descriptor.empty())
        error = "--descriptor needs --transport uhid";
    if (!error.empty() || options.Transport == TTransport::Socket)
        return error.empty();
    const std::string kind = usb ? "usb" : "uhid";
    const std::size_t largestIn = usb ? UsbLargestReportLength : UhidLargestInLength;
    const std::size_t largestOut = usb ? UsbLargestReportLength : UhidLargestOutLength;
    const std::string why = usb ? ", report ID included: one high-speed interrupt packet" : ", report ID included";
    if (!options.Directory.empty())
        error = "--dir places socket units; a " + kind + " unit has no unit directory";
    else if (options.Unit.QueryOnly)
        error = "--access query-only cannot be made with " + kind
            + ": nothing reserves a kernel HID device for query-only opens";
    else if (options.Unit.InLength < 2 || options.Unit.InLength > largestIn)
        error = "--in-length " + std::to_string(options.Unit.InLength) + " cannot be made with " + kind + ": from 2 to "
            + std::to_string(largestIn) + why;
    else if (options.Unit.OutLength < 2 || options.Unit.OutLength > largestOut)
        error = "--out-length " + std::to_string(options.Unit.OutLength) + " cannot be made with " + kind
            + ": from 2 to " + std::to_string(largestOut) + why;
    else if (usb && options.Count > UsbLargestCount)
        error = "--count " + std::to_string(options.Count) + " cannot be made with usb: dummy_hcd makes at most "
            + std::to_string(UsbLargestCount) + " controllers";
    else if (!options.Descriptor.empty() && !options.Script.empty())
        error = "--descriptor makes a device that answers nothing; it cannot play a --script";
    return error.empty();
}

} // namespace

namespace {

// A value as the options' own parsing takes it; `why` is shown when it fails.
CLI::Validator Checked(std::function<bool(const std::string&)> good, std::string why = "bad value")
{
    return CLI::Validator([good = std::move(good), why = std::move(why)](
                              std::string& value) { return good(value) ? std::string() : why + " \"" + value + "\""; },
                          "");
}

// An option whose check stores the value: CLI11's own conversion would read numbers its way.
CLI::Option* AddChecked(CLI::App& app, const std::string& name, const std::string& description,
                        const std::string& typeName, CLI::Validator check)
{
    return app
        .add_option_function<std::string>(
            name, [](const std::string&) {}, description)
        ->type_name(typeName)
        ->check(std::move(check));
}

template <typename T> CLI::Validator WholeInto(T& to, long low, long high)
{
    return Checked([&to, low, high](const std::string& text) {
        long number = 0;
        if (!ParseWhole(text, low, high, number))
            return false;
        to = static_cast<T>(number);
        return true;
    });
}

constexpr const char* Usage = "Usage: quillmark-sim [OPTION]...\n"
                              "Places virtual Quillmark units, as sockets in the unit directory or as kernel HID\n"
                              "devices, and plays the unit's side of the protocol: by the built-in behaviour model,\n"
                              "or step by step from a script.\n";

constexpr const char* Footer =
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
    "With usb, a unit is a gadget tolvane-NAME-PID in configfs bound to the first free\n"
    "dummy_hcd device controller (dummy_udc.N), so each unit has a bus of its own (load\n"
    "dummy_hcd with num=N for N units); both report lengths run from 2 to 1025, as one\n"
    "high-speed packet carries 1024 bytes. --dir, --access query-only and --descriptor\n"
    "are usage errors.\n"
    "The unit reads and writes /dev/hidgN; unplug and plug unbind and bind the gadget,\n"
    "a real disconnect and a new enumeration on the same port. Placing waits up to the\n"
    "step time-out for the host's hidraw node. Gadgets named so whose process is gone\n"
    "are removed; ours go on every exit.\n"
    "\n"
    "Standard output: 'placed NAME PATH' (PATH: the socket, or /dev/hidrawN) and\n"
    "'removed NAME' lines.\n"
    "\n"
    "Exit status:\n"
    "  0  the script ran to its end, or a signal took the units out\n"
    "  1  a step failed\n"
    "  2  usage error, malformed script, unusable unit directory, or a device that cannot\n"
    "     be made (/dev/uhid missing or not writable, descriptor refused, no dummy_hcd,\n"
    "     configfs, libcomposite or usb_f_hid)\n"
    "\n"
    "Environment:\n"
    "  TOLVANE_UNIT_DIR        the unit directory of socket units; else\n"
    "                          $XDG_RUNTIME_DIR/tolvane/units, else /tmp/tolvane-units-UID\n"
    "\n"
    "Files:\n"
    "  /dev/uhid               where --transport uhid makes its kernel HID devices\n"
    "  /sys/kernel/config/usb_gadget\n"
    "                          where --transport usb makes its gadgets (mounted if\n"
    "                          needed); /sys/class/udc/dummy_udc.N their controllers\n"
    "\n"
    "Examples:\n"
    "  quillmark-sim\n"
    "                          one unit in the unit directory, answering as a Quillmark\n"
    "                          until interrupted\n"
    "  quillmark-sim --count 3 --firmware 1.0.06 --trace -\n"
    "                          three units, every report shown on standard output\n"
    "  quillmark-sim --transport uhid --sser-reply NG\n"
    "                          a kernel HID device (/dev/hidrawN) that refuses the serial write";

// The option table; `options` receives the values as they are parsed.
void AddOptions(CLI::App& app, TSimOptions& options, std::string& transport, std::string& access,
                std::string& sserReply)
{
    cli::Conventions(app, "quillmark-sim " TOLVANE_VERSION, Usage, "-V");
    app.footer(Footer);
    app.add_option("--transport", transport,
                   "socket (default): a socket in the unit directory;\n"
                   "uhid: a kernel HID device made through /dev/uhid\n"
                   "(needs write access to it), met by a host as\n/dev/hidrawN;\n"
                   "usb: a USB HID gadget on dummy_hcd's virtual bus,\n"
                   "made through configfs (root), met by a host\n"
                   "through usbhid as /dev/hidrawN")
        ->type_name("KIND")
        ->check(Checked([](const std::string& v) { return v == "socket" || v == "uhid" || v == "usb"; }));
    app.add_option("--dir", options.Directory,
                   "unit directory, sockets only (default:\n$TOLVANE_UNIT_DIR, else "
                   "$XDG_RUNTIME_DIR/tolvane/units,\nelse /tmp/tolvane-units-UID)")
        ->type_name("DIR")
        ->check(cli::NotEmpty());
    app.add_option("--name", options.Unit.Name, "unit name, socket NAME.sock (default quillmark)")
        ->type_name("NAME")
        ->check(Checked([](const std::string& v) {
            return v.find('/') == std::string::npos
                && winapi::posix::IsUnitSocketName(v + winapi::posix::UnitSocketSuffix);
        }));
    AddChecked(app, "--count", "place N units NAME-1 ... NAME-N (default 1, at\nmost 999)", "N",
               WholeInto(options.Count, 1, LargestCount));
    AddChecked(app, "--vid", "vendor id, C notation (default 0x1209)", "ID",
               WholeInto(options.Unit.VendorId, 0, 0xffff));
    AddChecked(app, "--pid", "product id, C notation (default 0x0043)", "ID",
               WholeInto(options.Unit.ProductId, 0, 0xffff));
    app.add_option("--product", options.Unit.Product, "product string (default Quillmark)")->type_name("TEXT");
    app.add_option("--usb-serial", options.Unit.SerialNumber,
                   "usb only: the device's serial number string\n(default the unit name; with --count, TEXT-i)")
        ->type_name("TEXT")
        ->check(Checked([](const std::string& v) { return !v.empty() && v.size() <= UsbLargestString; },
                        "empty or longer than a USB string descriptor"));
    AddChecked(app, "--in-length", "input report length, report ID included\n(default 1025)", "N",
               WholeInto(options.Unit.InLength, 1, LargestReportLength));
    AddChecked(app, "--out-length", "output report length, report ID included\n(default 65)", "N",
               WholeInto(options.Unit.OutLength, 1, LargestReportLength));
    app.add_option("--access", access, "rw (default) or query-only")
        ->type_name("MODE")
        ->check(Checked([](const std::string& v) { return v == "rw" || v == "query-only"; }));
    app.add_option("--firmware,--version", options.Model.Version,
                   "firmware version answered to VER (default 1.0.05);\n--version TEXT is the same")
        ->type_name("TEXT");
    app.add_option("--pcb", options.Model.Pcb, "pcb number answered to GSER (default P2301A000417)")->type_name("TEXT");
    app.add_option("--bat", options.Model.Bat, "bat number answered to GSER (default B2210C000388)")->type_name("TEXT");
    app.add_option("--ser", options.Model.Ser, "ser number answered to GSER (default QM0000012345)")->type_name("TEXT");
    app.add_option("--info-file", options.InfoFile, "upload FILE as RGINFO.INI instead of the built-in one")
        ->type_name("FILE")
        ->check(cli::NotEmpty());
    app.add_option("--sser-reply", sserReply,
                   "answer to SSER: OK (default), NG (numbers not\nstored) or none (stored, no answer)")
        ->type_name("REPLY")
        ->check(Checked([](const std::string& v) { return v == "OK" || v == "NG" || v == "none"; }));
    app.add_option("--descriptor", options.Descriptor,
                   "uhid only: a device with the report descriptor in\n"
                   "FILE instead of a Quillmark; it answers nothing\n"
                   "and stays until signalled. FILE holds hex bytes\n"
                   "(\"05 01 09 06\", \"0x05, 0x01\" or \"0501\"), '#' starts\n"
                   "a comment; at most 4096 bytes")
        ->type_name("FILE")
        ->check(cli::NotEmpty());
    app.add_option("--script", options.Script, "play FILE instead of the behaviour model (needs\n--count 1)")
        ->type_name("FILE")
        ->check(cli::NotEmpty());
    AddChecked(app, "--step-timeout", "time-out of every wait, fractions allowed\n(default 5)", "SEC",
               Checked([&options](const std::string& v) { return ParseSeconds(v, options.StepTimeout); }));
    app.add_option("--trace", options.Trace, "log every report as 'SECONDS.MICROS DIR HEX';\n'-' is stdout")
        ->type_name("FILE")
        ->check(cli::NotEmpty());
}

} // namespace

TParseOutcome ParseOptions(int argc, const char* const* argv, TSimOptions& options, std::string& error)
{
    std::string transport = "socket";
    std::string access = "rw";
    std::string sserReply = "OK";
    CLI::App app;
    AddOptions(app, options, transport, access, sserReply);
    const cli::TParsed parsed = cli::Parse(app, argc, argv);
    error = parsed.Text;
    switch (parsed.Outcome) {
    case cli::TOutcome::Help: error = app.help(); return TParseOutcome::Help;
    case cli::TOutcome::Version: return TParseOutcome::Version;
    case cli::TOutcome::Error: return TParseOutcome::Error;
    case cli::TOutcome::Run: break;
    }
    options.Transport = transport == "uhid" ? TTransport::Uhid
        : transport == "usb"                ? TTransport::Usb
                                            : TTransport::Socket;
    options.Unit.QueryOnly = access == "query-only";
    options.Model.SserReply = sserReply == "OK" ? TSserReply::Ok
        : sserReply == "NG"                     ? TSserReply::Ng
                                                : TSserReply::None;
    if (!options.Script.empty() && options.Count != 1) {
        error = "--script drives exactly one unit; it cannot be combined with --count " + std::to_string(options.Count);
        return TParseOutcome::Error;
    }
    return CheckTransport(options, error) ? TParseOutcome::Run : TParseOutcome::Error;
}

std::string HelpText()
{
    TSimOptions options;
    std::string transport, access, sserReply;
    CLI::App app;
    AddOptions(app, options, transport, access, sserReply);
    return app.help();
}

} // namespace sim
