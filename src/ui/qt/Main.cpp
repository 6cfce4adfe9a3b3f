// tolvane: the operator's window on Linux.

#include "QtApplication.h"
#include "QtMainWindow.h"
#include "TolvaneVersion.h"

#include "app/WindowOptions.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Qt takes its own options out of the command line, each also in a "--" form.
std::string_view QtOptionName(std::string_view option)
{
    if (option.starts_with("--"))
        option.remove_prefix(1);
    return option;
}

// How many values one of Qt's options (QGuiApplication's, QApplication's and the X11
// platform's) takes, or -1 for any other.
int QtOptionArity(std::string_view option)
{
    static constexpr std::string_view WithValue[] = {"-platform",        "-platformpluginpath",
                                                     "-platformtheme",   "-plugin",
                                                     "-qwindowgeometry", "-qwindowicon",
                                                     "-qwindowtitle",    "-session",
                                                     "-display",         "-geometry",
                                                     "-title",           "-name",
                                                     "-visual",          "-style",
                                                     "-stylesheet"};
    static constexpr std::string_view Flags[] = {"-reverse", "-nograb",      "-dograb",
                                                 "-sync",    "-widgetcount", "-testability"};
    static constexpr std::string_view Joined[] = {"-style=", "-stylesheet=", "-qmljsdebugger="};
    const std::string_view name = QtOptionName(option);
    for (const std::string_view known : WithValue)
        if (name == known)
            return 1;
    for (const std::string_view known : Flags)
        if (name == known)
            return 0;
    for (const std::string_view prefix : Joined)
        if (name.starts_with(prefix))
            return 0;
    return -1;
}

constexpr std::string_view QtOptionsHelp = "Qt's own options are accepted as well, such as -platform NAME, -display\n"
                                           "DISPLAY, -style STYLE and -qwindowgeometry WIDTHxHEIGHT+X+Y.\n";

bool IsSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

} // namespace

int main(int argc, char** argv)
{
    bool platformGiven = false;
    const app::TWindowOptions options =
        app::ParseWindowOptions(std::vector<std::string>(argv + 1, argv + argc), [&](std::string_view option) {
            const int arity = QtOptionArity(option);
            platformGiven = platformGiven || (arity == 1 && QtOptionName(option) == "-platform");
            return arity;
        });
    if (!options.Error.empty()) {
        std::fprintf(stderr, "tolvane: %s\nRun with --help for more.\n", options.Error.c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(app::WindowHelpText(QtOptionsHelp).c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::fputs(app::WindowVersionText().c_str(), stdout);
        return 0;
    }
    // Qt would abort without a display; say what to use instead.
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM") && !platformGiven) {
        std::fputs("tolvane: no display (DISPLAY and WAYLAND_DISPLAY are not set); use tolvane-cli to run a session "
                   "in a terminal\n",
                   stderr);
        return 1;
    }

    qtui::TQtApplication application(argc, argv);
    QApplication::setApplicationName("TOLVANE");
    QApplication::setApplicationVersion(TOLVANE_VERSION);
    qtui::InstallQtRuntime();
    int result;
    {
        qtui::TQtMainWindow window;
        if (options.LogFile) {
            std::string error;
            if (!window.AppendLogTo(*options.LogFile, error)) {
                std::fprintf(stderr, "tolvane: cannot open log file %s: %s\n", options.LogFile->string().c_str(),
                             error.c_str());
                return 1;
            }
        }
        window.show();
        result = QApplication::exec();
    }
    return result;
}
