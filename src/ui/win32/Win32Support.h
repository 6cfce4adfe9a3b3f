#pragma once

#include "rtl/AnsiString.h"
#include "rtl/Application.h"

#include <windows.h>

#include <string>

namespace win32ui {

// A code page 932 text of the tool as the system's wide text.
std::wstring Wide(const rtl::AnsiString& text);
// UTF-8 and the system's wide text, one into the other.
std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& text);

// Registers a top-level window class with the program's icon and the arrow cursor.
void RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, HBRUSH background);

// The object a window was made for (its creation parameter), kept with it from WM_NCCREATE on.
template <class T> T* WindowObject(HWND window, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Runs a message handler: no exception may unwind through the system's frames, so one goes to
// the application's standard handling and the loop carries on after its box.
template <class F> LRESULT Guarded(F&& handle)
{
    try {
        return handle();
    } catch (...) {
        rtl::Application->HandleException(std::current_exception());
        return 0;
    }
}

} // namespace win32ui
