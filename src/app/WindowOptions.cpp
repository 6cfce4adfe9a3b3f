#include "WindowOptions.h"

#include "TolvaneVersion.h"

namespace app {

TWindowOptions ParseWindowOptions(const std::vector<std::string>& args, const TForeignOptionArity& foreign)
{
    TWindowOptions options;
    for (std::size_t i = 0; i < args.size() && options.Error.empty(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version" || arg == "-V") {
            options.Version = true;
        } else if (arg == "--log" || arg.rfind("--log=", 0) == 0) {
            std::string value;
            if (arg == "--log") {
                if (i + 1 == args.size()) {
                    options.Error = "--log needs a file name";
                    break;
                }
                value = args[++i];
            } else {
                value = arg.substr(6);
            }
            if (value.empty()) {
                options.Error = "--log needs a file name";
                break;
            }
            options.LogFile = std::filesystem::path(std::u8string(value.begin(), value.end()));
        } else if (const int arity = foreign ? foreign(arg) : -1; arity >= 0) {
            i += static_cast<std::size_t>(arity);
            if (i >= args.size())
                options.Error = arg + " needs a value";
        } else {
            options.Error = "unknown option " + arg;
        }
    }
    return options;
}

std::string WindowHelpText(std::string_view extra)
{
    std::string text = "Usage: tolvane [--log FILE]\n"
                       "The operator's window of TOLVANE: set a Quillmark unit in its cradle to read its\n"
                       "firmware version, serial block and information file, and to write its serial\n"
                       "numbers back.\n"
                       "\n"
                       "  --log FILE     also append every activity-log line to FILE (UTF-8)\n"
                       "  -h, --help     show this help and exit\n"
                       "  -V, --version  show the version and exit\n";
    text += extra;
    text += "\nWithout a display, tolvane-cli runs the same session in a terminal.\n";
    return text;
}

std::string WindowVersionText()
{
    return "tolvane " TOLVANE_VERSION "\n";
}

} // namespace app
