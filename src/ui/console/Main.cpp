// tolvane-cli: the tool without a window, for automation and production-line batch work.

#include "ConsoleFrontEnd.h"
#include "DeviceList.h"
#include "TolvaneVersion.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage =
    "usage: tolvane-cli [--read-info yes|no] [--write-serial yes|no] [--sessions N] [--timeout SECONDS]\n"
    "                   [--record FILE] [--device PATH|LOCATION]...\n"
    "       tolvane-cli --station [--log-dir DIR] [the options above]\n"
    "       tolvane-cli --list [--json] [--device PATH|LOCATION]... | --help | --version\n"
    "\n"
    "Runs the tool's session with each Quillmark unit set in the cradle, without a window.\n"
    "The activity log goes to standard output; 'status:', 'identity:', 'confirm:' and\n"
    "'result:' lines to standard error. Every line is one line: control characters from a\n"
    "unit are shown escaped (\\x1B), and a backslash as \\\\.\n"
    "\n"
    "  --read-info yes|no      answer to \"Is read RGINFO.INI?\" (default no)\n"
    "  --write-serial yes|no   answer to \"Is a Serial write in?\" (default no)\n"
    "  --sessions N            end after N finished sessions (default 1, with --station 0;\n"
    "                          0: until interrupted)\n"
    "  --timeout SECONDS       give up after this long (fractions allowed)\n"
    "  --record FILE           append one JSON line per session to FILE, on disk before the\n"
    "                          next session starts (see docs/record.md)\n"
    "  --device PATH|LOCATION  serve only the device with this interface path or location\n"
    "                          (repeatable); the others are passed over\n"
    "  --station               serve every unit present at once, each in a session of its own,\n"
    "                          as units come and go; every line on standard output and standard\n"
    "                          error begins with the unit's slot in brackets: '[SLOT] '\n"
    "  --log-dir DIR           with --station: each session's activity log in a file of its own\n"
    "                          in DIR, named START_SLOT_SERIAL.log when the session ends, in place\n"
    "                          of standard output; a 'log: FILE' line on standard error names it\n"
    "  --list                  list the HID devices the tool sees: vendor:product, product, path,\n"
    "                          usage page:usage and input/output/feature report lengths, and\n"
    "                          'in use' for a device another tool holds\n"
    "  --json                  with --list: one JSON object a line, with the location too\n"
    "  --help                  show this text\n"
    "  --version               show the program's version\n"
    "\n"
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
    "durationMs, firmware, serial block, file, the serial write as sent, result and reason;\n"
    "docs/record.md describes it. A reader ignores an unterminated last line.\n"
    "\n"
    "Exit codes: 0 done, every session ok; 1 the HID libraries cannot be loaded; 2 usage error\n"
    "or the record cannot be opened; 3 time-out with no session failed or waiting; 4 a session\n"
    "failed (or was still waiting at the time-out, or its record could not be written);\n"
    "130 interrupted. Virtual units are found in $TOLVANE_UNIT_DIR (else\n"
    "$XDG_RUNTIME_DIR/tolvane/units, else /tmp/tolvane-units-UID).\n"
#ifndef _WIN32
    "On Linux, hidraw devices (/dev/hidrawN) are found too; TOLVANE_DEVICE_SOURCES=virtual or\n"
    "=hidraw restricts the search to one kind.\n"
#endif
    ;

int UsageError(const std::string& why)
{
    std::cerr << "tolvane-cli: " << why << "\n" << Usage;
    return console::ExitUsage;
}

bool ParseYesNo(const std::string& value, bool& answer)
{
    if (value != "yes" && value != "no")
        return false;
    answer = value == "yes";
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    console::TSessionOptions options;
    bool list = false;
    bool json = false;
    bool sessionsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            std::cout << Usage;
            return console::ExitDone;
        }
        if (option == "--version") {
            std::cout << "tolvane-cli " TOLVANE_VERSION "\n";
            return console::ExitDone;
        }
        if (option == "--list" || option == "--json" || option == "--station") {
            (option == "--list" ? list : option == "--json" ? json : options.Station) = true;
            continue;
        }
        if (option != "--read-info" && option != "--write-serial" && option != "--sessions" && option != "--timeout"
            && option != "--record" && option != "--log-dir" && option != "--device")
            return UsageError("unknown option " + option);
        if (i + 1 >= argc)
            return UsageError(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--read-info" && !ParseYesNo(value, options.ReadInfo))
            return UsageError("--read-info takes yes or no");
        if (option == "--write-serial" && !ParseYesNo(value, options.WriteSerial))
            return UsageError("--write-serial takes yes or no");
        if (option == "--sessions") {
            char* end = nullptr;
            const long sessions = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || sessions < 0 || sessions > 1000000)
                return UsageError("--sessions takes a whole number of 0 or more");
            options.Sessions = static_cast<int>(sessions);
            sessionsGiven = true;
        }
        if ((option == "--record" || option == "--log-dir" || option == "--device") && value.empty())
            return UsageError(option + " takes a non-empty value");
        if (option == "--record")
            options.Record = value;
        if (option == "--log-dir")
            options.LogDir = value;
        if (option == "--device")
            options.Devices.push_back(value);
        if (option == "--timeout") {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(seconds >= 0) || seconds > 1e7)
                return UsageError("--timeout takes a number of seconds");
            options.Timeout = std::chrono::duration<double>(seconds);
        }
    }
    if (json && !list)
        return UsageError("--json goes with --list");
    if (!options.LogDir.empty() && !options.Station)
        return UsageError("--log-dir goes with --station");
    if (list && options.Station)
        return UsageError("--list and --station do not go together");
    if (list)
        return console::ListDevices(std::cout, std::cerr, json, options.Devices);
    if (options.Station) {
        if (!sessionsGiven)
            options.Sessions = 0;
        return console::RunStation(options, std::cout, std::cerr);
    }
    return console::RunSessions(options, std::cout, std::cerr);
}
