#include "CommandLine.h"

#include "TolvaneVersion.h"

#include "cli/CommandLine.h"

#include <cstdlib>

namespace console {

namespace {

constexpr const char* Usage = "Usage: tolvane-cli [OPTION]...\n"
                              "  or:  tolvane-cli --station [--log-dir DIR] [OPTION]...\n"
                              "  or:  tolvane-cli --list [--json] [--device PATH|LOCATION]...\n"
                              "Runs the tool's session with each Quillmark unit set in the cradle, without a window.\n"
                              "The activity log goes to standard output; 'status:', 'identity:', 'confirm:' and\n"
                              "'result:' lines to standard error. Every line is one line: control characters from a\n"
                              "unit are shown escaped (\\x1B), and a backslash as \\\\.\n";

constexpr const char* Footer =
    "A slot names a cradle: the unit's location as the system gives it (on Linux the sysfs\n"
    "path of its USB device, or of its HID device where it has no USB port; on Windows the\n"
    "plug-and-play location, else the interface path; a virtual unit's name), so a unit set\n"
    "into the same cradle again gets the same slot. A unit whose station session ended is\n"
    "served again once it has been taken out and set in again. With --sessions N, once N\n"
    "sessions have finished no new unit is taken, and the run ends when the running sessions\n"
    "end; --timeout and interruption end every running session with its own result.\n"
    "\n"
    "A unit another tool holds (another tolvane-cli or a tolvane window, on this machine) is\n"
    "not taken: tolvane-cli says so once and takes it when the other one lets it go.\n"
    "\n"
    "Each session ends with 'result: ok' or 'result: failed REASON'. It is ok when it reached\n"
    "its end having read the identity, with --read-info yes verified the file, and with\n"
    "--write-serial yes had the serial write accepted. Reasons: version-ng, verify-ng,\n"
    "upload-refused, serial-write-failed, identity-not-read, identity-incomplete (the\n"
    "answer taken as the serial block, every 'OK ' removed, ends before character 27, where\n"
    "the ser column starts; a session that wrote the serial is judged on the write),\n"
    "file-not-verified, serial-not-written, unit-removed, timeout (still waiting when\n"
    "--timeout ran out), interrupted, serial-write-refused (the unit answered the serial\n"
    "write NG, and the session, still waiting, then ended by --timeout or interruption).\n"
    "\n"
    "A record line is one JSON object (schema 2): tool, host, slot, device, started, ended,\n"
    "durationMs, firmware, serial block, file, the serial write as sent, result and reason.\n"
    "A reader ignores an unterminated last line.\n"
    "\n"
    "Exit status:\n"
    "  0    done, every session ok\n"
    "  1    the HID libraries cannot be loaded\n"
    "  2    usage error, or the record cannot be opened\n"
    "  3    time-out with no session failed or waiting\n"
    "  4    a session failed, was still waiting at the time-out, or its record could not be\n"
    "       written\n"
    "  130  interrupted\n"
    "\n"
    "Environment:\n"
    "  TOLVANE_UNIT_DIR        where virtual units are found; else $XDG_RUNTIME_DIR/tolvane/units,\n"
    "                          else /tmp/tolvane-units-UID\n"
#ifndef _WIN32
    "  TOLVANE_DEVICE_SOURCES  virtual or hidraw: search only that kind of device; by default\n"
    "                          both virtual units and hidraw devices (/dev/hidrawN)\n"
    "\n"
    "Files:\n"
    "  /usr/lib/udev/rules.d/70-tolvane.rules\n"
    "                          lets the user at the seat, and the plugdev group, open a\n"
    "                          Quillmark's hidraw node\n"
#endif
    "\n"
    "Examples:\n"
    "  tolvane-cli --read-info yes --timeout 60\n"
    "                          one session with the unit in the cradle, its information file\n"
    "                          read and verified\n"
    "  tolvane-cli --station --log-dir logs --record line.jsonl\n"
    "                          every cradle at once until interrupted: one log file and one\n"
    "                          record line per session\n"
    "  tolvane-cli --list --json\n"
    "                          the HID devices the tool sees, one JSON object a line";

CLI::Validator WholeNumber(int& to)
{
    return CLI::Validator(
        [&to](std::string& value) {
            char* end = nullptr;
            const long number = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || number < 0 || number > 1000000)
                return std::string("takes a whole number of 0 or more");
            to = static_cast<int>(number);
            return std::string();
        },
        "");
}

CLI::Validator Seconds(std::optional<std::chrono::duration<double>>& to)
{
    return CLI::Validator(
        [&to](std::string& value) {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(seconds >= 0) || seconds > 1e7)
                return std::string("takes a number of seconds");
            to = std::chrono::duration<double>(seconds);
            return std::string();
        },
        "");
}

// Checks between options; empty when they go together.
std::string Conflict(const TCommandLine& line, bool list)
{
    const TSessionOptions& options = line.Options;
    if (line.Json && !list)
        return "--json goes with --list";
    if (!options.LogDir.empty() && !options.Station)
        return "--log-dir goes with --station";
    if (list && options.Station)
        return "--list and --station do not go together";
    // The serial is written only after the information file was read: without it no session
    // could ever be ok.
    if (!list && options.WriteSerial && !options.ReadInfo)
        return "--write-serial yes needs --read-info yes: the serial write comes after the information file";
    return {};
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    TCommandLine line;
    TSessionOptions& options = line.Options;
    std::string readInfo = "no";
    std::string writeSerial = "no";
    std::string sessions;
    std::string timeout;
    bool list = false;

    CLI::App app;
    cli::Conventions(app, "tolvane-cli " TOLVANE_VERSION, Usage);
    app.footer(Footer);
    app.add_option("--read-info", readInfo, "answer to \"Is read RGINFO.INI?\" (default no)")
        ->type_name("yes|no")
        ->check(cli::OneOf({"yes", "no"}, "takes yes or no"));
    app.add_option("--write-serial", writeSerial,
                   "answer to \"Is a Serial write in?\" (default no);\nyes needs --read-info yes")
        ->type_name("yes|no")
        ->check(cli::OneOf({"yes", "no"}, "takes yes or no"));
    app.add_option("--sessions", sessions,
                   "end after N finished sessions (default 1, with\n--station 0; 0: until interrupted)")
        ->type_name("N")
        ->check(WholeNumber(options.Sessions));
    app.add_option("--timeout", timeout, "give up after this long (fractions allowed)")
        ->type_name("SECONDS")
        ->check(Seconds(options.Timeout));
    app.add_option("--record", options.Record,
                   "append one JSON line per session to FILE, on disk\nbefore the next session starts")
        ->type_name("FILE")
        ->check(cli::NotEmpty());
    app.add_option(
           "--device", options.Devices,
           "serve only the device with this interface path or\nlocation (repeatable); the others are passed over")
        ->type_name("PATH|LOCATION")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(cli::NotEmpty());
    app.add_flag(
        "--station", options.Station,
        "serve every unit present at once, each in a session\nof its own, as units come and go; every line on\n"
        "standard output and standard error begins with the\nunit's slot in brackets: '[SLOT] '");
    app.add_option("--log-dir", options.LogDir,
                   "with --station: each session's activity log in a file\nof its own in DIR, named "
                   "START_SLOT_SERIAL.log when\nthe session ends, in place of standard output; a\n"
                   "'log: FILE' line on standard error names it")
        ->type_name("DIR")
        ->check(cli::NotEmpty());
    app.add_flag("--list", list,
                 "list the HID devices the tool sees: vendor:product,\nproduct, path, usage page:usage and "
                 "input/output/\nfeature report lengths, and 'in use' for a device\nanother tool holds");
    app.add_flag("--json", line.Json, "with --list: one JSON object a line, with the\nlocation too");

    const cli::TParsed parsed = cli::Parse(app, args);
    switch (parsed.Outcome) {
    case cli::TOutcome::Help:
        line.Command = TCommand::Help;
        line.Output = app.help();
        return line;
    case cli::TOutcome::Version:
        line.Command = TCommand::Version;
        line.Output = parsed.Text + "\n";
        return line;
    case cli::TOutcome::Error:
        line.Command = TCommand::UsageError;
        line.Error = parsed.Text;
        return line;
    case cli::TOutcome::Run: break;
    }
    options.ReadInfo = readInfo == "yes";
    options.WriteSerial = writeSerial == "yes";
    if (line.Error = Conflict(line, list); !line.Error.empty()) {
        line.Command = TCommand::UsageError;
        return line;
    }
    if (options.Station && sessions.empty())
        options.Sessions = 0;
    line.Command = list ? TCommand::List : options.Station ? TCommand::Station : TCommand::Sessions;
    return line;
}

} // namespace console
