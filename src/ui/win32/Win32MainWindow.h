#pragma once

#include "app/Main.h"

#include <windows.h>

#include <memory>

namespace win32ui {

// Form1 as a native Win32 window: the controls of the description, with peers for the
// session's component models. It owns the form; closing the window ends the message loop.
class TWin32MainWindow : app::TFormPeer {
public:
    explicit TWin32MainWindow(HINSTANCE instance);
    ~TWin32MainWindow() override;
    TWin32MainWindow(const TWin32MainWindow&) = delete;
    TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;

    HWND Handle() const { return FWindow; }
    void Show(int showCommand);
    // Runs the message loop until the window is closed; returns the exit code.
    int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls(HINSTANCE instance);
    // Lays the window out from its 96-dpi design at dpi: client area, controls and font.
    void ApplyDpi(UINT dpi);
    HMENU CreateMainMenu();
    int ShowMessageBox(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags);

    void CaptionChanged(rtl::TLabel& label) override;
    void LineAdded(rtl::TMemo& memo, const rtl::AnsiString& line) override;
    void Cleared(rtl::TMemo& memo) override;
    void LinesChanged(rtl::TMemo& memo) override;
    void TimerChanged(rtl::TTimer& timer) override;
    void EnabledChanged(rtl::TMenuItem& item) override;

    std::unique_ptr<app::TForm1> FForm;
    HWND FWindow = nullptr;
    HWND FLabel1 = nullptr;
    HWND FMemo1 = nullptr;
    HWND FMemo2 = nullptr;
    HWND FSpeedButton1 = nullptr;
    HMENU FMenu = nullptr;
    HFONT FFont = nullptr;
    HBRUSH FButtonFace = nullptr;
};

} // namespace win32ui
