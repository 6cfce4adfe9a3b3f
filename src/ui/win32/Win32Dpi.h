#pragma once

#include "rtl/Controls.h"

#include <windows.h>

namespace win32ui {

// The window is designed at 96 dots per inch; every length of that design scales by this.
inline constexpr UINT DesignDpi = USER_DEFAULT_SCREEN_DPI;

// The window's dots per inch: GetDpiForWindow where the system has it (Windows 10 1607 on),
// else the screen's LOGPIXELSX.
UINT WindowDpi(HWND window);

int ScaleToDpi(int length, UINT dpi);
rtl::TBounds ScaleToDpi(const rtl::TBounds& bounds, UINT dpi);

// Sizes the window so that its client area is width x height with the frame and menu bar it
// has now; a second pass covers a menu bar that the first one wrapped or unwrapped.
void FitClientArea(HWND window, int width, int height);

} // namespace win32ui
