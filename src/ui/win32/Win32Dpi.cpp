#include "Win32Dpi.h"

namespace win32ui {

namespace {

// Windows 7 and 8.1 lack it, so it is looked up rather than linked.
template <class T> T User32Entry(const char* name)
{
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32)
        return nullptr;
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

} // namespace

UINT WindowDpi(HWND window)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Entry<TGetDpiForWindow>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window))
            return dpi;
    }
    UINT dpi = 0;
    if (HDC screen = GetDC(nullptr)) {
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
        ReleaseDC(nullptr, screen);
    }
    return dpi ? dpi : DesignDpi;
}

int ScaleToDpi(int length, UINT dpi)
{
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(DesignDpi));
}

rtl::TBounds ScaleToDpi(const rtl::TBounds& bounds, UINT dpi)
{
    return {ScaleToDpi(bounds.Left, dpi), ScaleToDpi(bounds.Top, dpi), ScaleToDpi(bounds.Width, dpi),
            ScaleToDpi(bounds.Height, dpi)};
}

void FitClientArea(HWND window, int width, int height)
{
    for (int pass = 0; pass < 2; ++pass) {
        RECT outer;
        RECT client;
        if (!GetWindowRect(window, &outer) || !GetClientRect(window, &client))
            return;
        const int wider = width - client.right;
        const int higher = height - client.bottom;
        if (wider == 0 && higher == 0)
            return;
        SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + wider, outer.bottom - outer.top + higher,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

} // namespace win32ui
