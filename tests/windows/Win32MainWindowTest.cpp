// The Win32 window laid out again for a screen of another scale.

#include "app/Main.h"
#include "ui/win32/Win32MainWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

struct TPlaced {
    RECT Bounds{};
    LONG FontHeight = 0;
};

// A child control's place in client coordinates and its font's height.
TPlaced PlaceOf(HWND window, HWND control)
{
    TPlaced placed;
    GetWindowRect(control, &placed.Bounds);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed.Bounds), 2);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    placed.FontHeight = font.lfHeight;
    return placed;
}

// The controls by kind: the one button, the one static text, the read-only and the editable memo.
struct TControls {
    HWND SpeedButton1 = nullptr, Label1 = nullptr, Memo1 = nullptr, Memo2 = nullptr;
};

BOOL CALLBACK Collect(HWND control, LPARAM found)
{
    auto& controls = *reinterpret_cast<TControls*>(found);
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    if (_wcsicmp(kind, L"Button") == 0)
        controls.SpeedButton1 = control;
    else if (_wcsicmp(kind, L"Static") == 0)
        controls.Label1 = control;
    else if (_wcsicmp(kind, L"Edit") == 0)
        (GetWindowLongW(control, GWL_STYLE) & ES_READONLY ? controls.Memo2 : controls.Memo1) = control;
    return TRUE;
}

RECT Scaled(const rtl::TBounds& bounds, int dpi)
{
    const auto scale = [dpi](int length) { return MulDiv(length, dpi, 96); };
    const int left = scale(bounds.Left);
    const int top = scale(bounds.Top);
    return {left, top, left + scale(bounds.Width), top + scale(bounds.Height)};
}

bool operator==(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Text(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x"
        + std::to_string(r.bottom - r.top);
}

void CheckRelayout()
{
    win32ui::TWin32MainWindow main(GetModuleHandleW(nullptr));
    const HWND window = main.Handle();
    ASSERT_NE(window, nullptr);
    TControls controls;
    EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&controls));
    ASSERT_TRUE(controls.SpeedButton1 && controls.Label1 && controls.Memo1 && controls.Memo2);

    // 96 comes last: the way back must give the design's pixels exactly.
    for (const int dpi : {192, 144, 120, 96}) {
        SCOPED_TRACE(dpi);
        RECT suggested{40 + dpi, 30 + dpi, 600, 400};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));

        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, MulDiv(app::layout::ClientWidth, dpi, 96));
        EXPECT_EQ(client.bottom, MulDiv(app::layout::ClientHeight, dpi, 96));
        RECT outer;
        GetWindowRect(window, &outer);
        EXPECT_EQ(outer.left, suggested.left);
        EXPECT_EQ(outer.top, suggested.top);

        const std::pair<HWND, rtl::TBounds> expected[] = {{controls.SpeedButton1, app::layout::SpeedButton1},
                                                          {controls.Label1, app::layout::Label1},
                                                          {controls.Memo1, app::layout::Memo1},
                                                          {controls.Memo2, app::layout::Memo2}};
        for (const auto& [control, bounds] : expected) {
            const TPlaced placed = PlaceOf(window, control);
            EXPECT_TRUE(placed.Bounds == Scaled(bounds, dpi))
                << Text(placed.Bounds) << " instead of " << Text(Scaled(bounds, dpi));
            EXPECT_EQ(placed.FontHeight, MulDiv(app::layout::FontHeight, dpi, 96));
        }
    }
}

TEST(Win32MainWindow, LaysItselfOutAgainWhenItsDpiChanges)
{
    CheckRelayout();
    // Closing the window ended a message loop that this test does not run.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

} // namespace
