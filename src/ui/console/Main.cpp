// tolvane-cli: the tool without a window, for automation and production-line batch work.

#include "DeviceList.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage =
    "usage: tolvane-cli --list\n"
    "\n"
    "  --list      list the HID devices the tool sees: vendor:product, product string, path\n"
    "  --help      show this text\n"
    "  --version   show the program's version\n"
    "\n"
    "Virtual units are found in $TOLVANE_UNIT_DIR (else $XDG_RUNTIME_DIR/tolvane/units).\n";

} // namespace

int main(int argc, char** argv)
{
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            std::cout << Usage;
            return 0;
        }
        if (option == "--version") {
            std::cout << "tolvane-cli " TOLVANE_VERSION "\n";
            return 0;
        }
        if (option == "--list") {
            list = true;
            continue;
        }
        std::cerr << "tolvane-cli: unknown option " << option << "\n" << Usage;
        return 2;
    }
    if (!list) {
        std::cerr << Usage;
        return 2;
    }
    return console::ListDevices(std::cout, std::cerr);
}
