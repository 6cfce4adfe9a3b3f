// tolvane.exe: the operator's window on Windows.

#include "Win32MainWindow.h"

#include "app/WindowOptions.h"
#include "rtl/CodePage.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::wstring Wide(const std::string& utf8)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

// A window program has no console to write to: what its command line answers goes in a box.
void Say(const std::wstring& text, UINT icon)
{
    const std::u16string caption = rtl::Utf16FromCp932(app::layout::Caption);
    MessageBoxW(nullptr, text.c_str(), std::wstring(caption.begin(), caption.end()).c_str(), MB_OK | icon);
}

} // namespace

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    // The C runtime splits the command line as CommandLineToArgvW does, without shell32.dll.
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i)
        args.push_back(Utf8(__wargv[i]));
    const app::TWindowOptions options = app::ParseWindowOptions(args);
    if (!options.Error.empty()) {
        std::wstring text = Wide(options.Error);
        text += L"\nRun with --help for more.";
        Say(text, MB_ICONERROR);
        return 2;
    }
    if (options.Help || options.Version) {
        Say(Wide(options.Help ? app::WindowHelpText() : app::WindowVersionText()), MB_ICONINFORMATION);
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
                text += Wide(error);
                Say(text, MB_ICONERROR);
                return 1;
            }
        }
        window.Show(showCommand);
        result = window.Run();
    }
    return result;
}
