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
    "                   [--record FILE]\n"
    "       tolvane-cli --list | --help | --version\n"
    "\n"
    "Runs the tool's session with each Quillmark unit set in the cradle, without a window.\n"
    "The activity log goes to standard output; 'status:', 'identity:', 'confirm:' and\n"
    "'result:' lines to standard error. Every line is one line: control characters from a\n"
    "unit are shown escaped (\\x1B), and a backslash as \\\\.\n"
    "\n"
    "  --read-info yes|no      answer to \"Is read RGINFO.INI?\" (default no)\n"
    "  --write-serial yes|no   answer to \"Is a Serial write in?\" (default no)\n"
    "  --sessions N            end after N finished sessions (default 1; 0: until interrupted)\n"
    "  --timeout SECONDS       give up after this long (fractions allowed)\n"
    "  --record FILE           append one JSON line per session to FILE, on disk before the\n"
    "                          next session starts\n"
    "  --list                  list the HID devices the tool sees: vendor:product, product, path,\n"
    "                          usage page:usage and input/output/feature report lengths, and\n"
    "                          'in use' for a device another tool holds\n"
    "  --help                  show this text\n"
    "  --version               show the program's version\n"
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
    "A record line holds: time (UTC), product, firmware, firmwareType, pcb, bat, ser (as the\n"
    "unit's serial block gave them; null when not read), fileVerified, serialWritten, result\n"
    "(ok or failed) and reason (null when ok). A reader ignores an unterminated last line.\n"
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
        if (option == "--list") {
            list = true;
            continue;
        }
        if (option != "--read-info" && option != "--write-serial" && option != "--sessions" && option != "--timeout"
            && option != "--record")
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
        }
        if (option == "--record") {
            if (value.empty())
                return UsageError("--record takes a file name");
            options.Record = value;
        }
        if (option == "--timeout") {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(seconds >= 0) || seconds > 1e7)
                return UsageError("--timeout takes a number of seconds");
            options.Timeout = std::chrono::duration<double>(seconds);
        }
    }
    if (list)
        return console::ListDevices(std::cout, std::cerr);
    return console::RunSessions(options, std::cout, std::cerr);
}
