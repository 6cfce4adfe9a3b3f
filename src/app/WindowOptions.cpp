#include "WindowOptions.h"

#include "TolvaneVersion.h"

#include "cli/CommandLine.h"

namespace app {

namespace {

constexpr const char* Usage = "Usage: tolvane [--log FILE]\n"
                              "The operator's window of TOLVANE: set a Quillmark unit in its cradle to read its\n"
                              "firmware version, serial block and information file, and to write its serial\n"
                              "numbers back.\n";

constexpr const char* Footer = "Without a display, tolvane-cli runs the same session in a terminal.\n"
                               "\n"
                               "Exit status:\n"
                               "  0  the window was closed\n"
                               "  1  no display, or the --log file cannot be opened\n"
                               "  2  usage error\n"
#ifndef _WIN32
                               "\n"
                               "Environment:\n"
                               "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM\n"
                               "                            the display the window opens on\n"
                               "\n"
                               "Files:\n"
                               "  /usr/lib/udev/rules.d/70-tolvane.rules\n"
                               "                            lets the user at the seat, and the plugdev\n"
                               "                            group, open a Quillmark's hidraw node\n"
#endif
                               "\n"
                               "Examples:\n"
                               "  tolvane --log session.log\n"
                               "                            the window, its activity log kept in session.log too";

void AddOptions(CLI::App& app, std::string& log, std::string_view extra)
{
    std::string version = WindowVersionText();
    version.pop_back();
    cli::Conventions(app, version, Usage);
    app.footer(extra.empty() ? std::string(Footer) : std::string(extra) + "\n" + Footer);
    app.add_option("--log", log, "also append every activity-log line to FILE (UTF-8)")
        ->type_name("FILE")
        ->check(cli::NotEmpty());
}

} // namespace

TWindowOptions ParseWindowOptions(const std::vector<std::string>& args, const TForeignOptionArity& foreign)
{
    // The window system's options, with their values, are its own; CLI11 sees the rest.
    std::vector<std::string> own;
    TWindowOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const int arity = foreign ? foreign(args[i]) : -1;
        if (arity < 0) {
            own.push_back(args[i]);
            continue;
        }
        if (i + static_cast<std::size_t>(arity) >= args.size()) {
            options.Error = args[i] + " needs a value";
            return options;
        }
        i += static_cast<std::size_t>(arity);
    }
    std::string log;
    CLI::App app;
    AddOptions(app, log, {});
    const cli::TParsed parsed = cli::Parse(app, own);
    options.Help = parsed.Outcome == cli::TOutcome::Help;
    options.Version = parsed.Outcome == cli::TOutcome::Version;
    if (parsed.Outcome == cli::TOutcome::Error)
        options.Error = parsed.Text;
    if (!log.empty())
        options.LogFile = std::filesystem::path(std::u8string(log.begin(), log.end()));
    return options;
}

std::string WindowHelpText(std::string_view extra)
{
    std::string log;
    CLI::App app;
    AddOptions(app, log, extra);
    return app.help();
}

std::string WindowVersionText()
{
    return "tolvane " TOLVANE_VERSION "\n";
}

} // namespace app
