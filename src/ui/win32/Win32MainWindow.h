#pragma once

#include "Win32LogWindow.h"

#include "app/FormWindow.h"
#include "rtl/PreciseTimer.h"

#include <windows.h>

#include <memory>

namespace win32ui {

// Form1 as a native Win32 window: the controls of the description, with peers for the
// session's component models. It owns the form; closing the window ends the message loop.
class TWin32MainWindow : public app::TFormWindow {
public:
    explicit TWin32MainWindow(HINSTANCE instance);
    ~TWin32MainWindow() override;
    TWin32MainWindow(const TWin32MainWindow&) = delete;
    TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;

    HWND Handle() const { return FWindow; }
    // The activity log's window, once Log > Activity log... opened it.
    TWin32LogWindow* LogWindow() const { return FLogWindow.get(); }
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
    void ActivityLog1Click(rtl::TObject* Sender);
    int ShowMessageBox(const rtl::AnsiString& text, const rtl::AnsiString& caption, unsigned flags);

    void ShowStatus(const rtl::AnsiString& text) override;
    void LogLineAdded(const rtl::TMemo& log, const rtl::AnsiString& line) override;
    void LogCleared() override;
    void LogFirstLinesRemoved(std::size_t count) override;
    void ShowIdentityLines(const rtl::TMemo& identity) override;
    void SetStepTimer(std::optional<rtl::TTimer::Clock::time_point> due) override;
    bool MessagesWaiting() const override;
    void MenuEnabled(const rtl::TMenuItem& item) override;

    HINSTANCE FInstance = nullptr;
    HWND FWindow = nullptr;
    HWND FLabel1 = nullptr;
    HWND FMemo1 = nullptr;
    HWND FMemo2 = nullptr;
    HWND FSpeedButton1 = nullptr;
    HMENU FMenu = nullptr;
    HFONT FFont = nullptr;
    HBRUSH FButtonFace = nullptr;
    std::unique_ptr<TWin32LogWindow> FLogWindow;
    // Keeps the step's 1 ms pace in the message loop; SetTimer alone would give 10-16 ms.
    rtl::TPreciseTimer FStepTimer;
};

} // namespace win32ui
