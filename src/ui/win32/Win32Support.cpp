#include "Win32Support.h"

#include "rtl/CodePage.h"
#include "rtl/Unicode.h"

namespace win32ui {

std::wstring Wide(const rtl::AnsiString& text)
{
    const std::u16string wide = rtl::Utf16FromCp932(text);
    return std::wstring(wide.begin(), wide.end());
}

std::wstring WideFromUtf8(const std::string& utf8)
{
    const std::u16string wide = rtl::Utf16FromUtf8(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string Utf8FromWide(const std::wstring& text)
{
    return rtl::Utf8FromUtf16(std::u16string(text.begin(), text.end()));
}

void RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, HBRUSH background)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, L"MAINICON");
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

} // namespace win32ui
