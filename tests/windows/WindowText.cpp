// window-text.exe CLASS: prints the text of each child control of the top-level window of
// window class CLASS, in UTF-8, each after a "== KIND" line. The lab reads the Win32 window's
// activity log through it, which lies outside the window's client area.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

BOOL CALLBACK PrintControl(HWND control, LPARAM)
{
    wchar_t kind[32] = {};
    GetClassNameW(control, kind, 32);
    // Sent across processes: a hung window must not hang the reader.
    DWORD_PTR length = 0;
    SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    text.resize(copied);
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    std::printf("== %ls\n%s\n", kind, utf8.c_str());
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: window-text CLASS\n");
        return 2;
    }
    const HWND window = FindWindowW(argv[1], nullptr);
    if (!window) {
        std::fprintf(stderr, "window-text: no window of class %ls\n", argv[1]);
        return 1;
    }
    EnumChildWindows(window, PrintControl, 0);
    return 0;
}
