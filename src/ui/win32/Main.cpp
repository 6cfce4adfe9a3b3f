// tolvane.exe: the operator's window on Windows.

#include "Win32MainWindow.h"
#include "Win32Support.h"

#include "app/WindowOptions.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using win32ui::Utf8FromWide;
using win32ui::WideFromUtf8;

// A window program has no console to write to: what its command line answers goes in a box.
void Say(const std::wstring& text, UINT icon)
{
    MessageBoxW(nullptr, text.c_str(), win32ui::Wide(app::layout::Caption).c_str(), MB_OK | icon);
}

} // namespace

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    // The C runtime splits the command line as CommandLineToArgvW does, without shell32.dll.
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i)
        args.push_back(Utf8FromWide(__wargv[i]));
    const app::TWindowOptions options = app::ParseWindowOptions(args);
    if (!options.Error.empty()) {
        std::wstring text = WideFromUtf8(options.Error);
        text += L"\nRun with --help for more.";
        Say(text, MB_ICONERROR);
        return 2;
    }
    if (options.Help || options.Version) {
        Say(WideFromUtf8(options.Help ? app::WindowHelpText() : app::WindowVersionText()), MB_ICONINFORMATION);
        return 0;
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    int result;
    {
        win32ui::TWin32MainWindow window(instance);
        if (options.LogFile) {
            std::string error;
            if (!window.AppendLogTo(*options.LogFile, error)) {
                std::wstring text = L"cannot open log file ";
                text += options.LogFile->wstring();
                text += L": ";
                text += WideFromUtf8(error);
                Say(text, MB_ICONERROR);
                return 1;
            }
        }
        window.Show(showCommand);
        result = window.Run();
    }
    return result;
}
