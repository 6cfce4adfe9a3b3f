// tolvane-cli: the tool without a window, for automation and production-line batch work.

#include "ConsoleFrontEnd.h"
#include "DeviceList.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage =
    "usage: tolvane-cli [--read-info yes|no] [--write-serial yes|no] [--sessions N] [--timeout SECONDS]\n"
    "       tolvane-cli --list | --help | --version\n"
    "\n"
    "Runs the tool's session with each Quillmark unit set in the cradle, without a window.\n"
    "The activity log goes to standard output; 'status:', 'identity:' and 'confirm:' lines\n"
    "to standard error.\n"
    "\n"
    "  --read-info yes|no      answer to \"Is read RGINFO.INI?\" (default no)\n"
    "  --write-serial yes|no   answer to \"Is a Serial write in?\" (default no)\n"
    "  --sessions N            end after N finished sessions (default 1; 0: until interrupted)\n"
    "  --timeout SECONDS       give up after this long, with exit code 3 (fractions allowed)\n"
    "  --list                  list the HID devices the tool sees: vendor:product, product, path,\n"
    "                          usage page:usage and input/output/feature report lengths\n"
    "  --help                  show this text\n"
    "  --version               show the program's version\n"
    "\n"
    "Exit codes: 0 done, 1 the HID libraries cannot be loaded, 2 usage error, 3 time-out,\n"
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
        if (option != "--read-info" && option != "--write-serial" && option != "--sessions" && option != "--timeout")
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
