#pragma once

#include "AnsiString.h"

#include <functional>

namespace rtl {

// Message-box results and flags, as Windows numbers them.
enum : int { IDOK = 1, IDCANCEL = 2 };
enum : unsigned { MB_OK = 0x00, MB_OKCANCEL = 0x01, MB_ICONQUESTION = 0x20, MB_ICONINFORMATION = 0x40 };

// The application object: the front end installs how message boxes are shown and how the
// main window is closed; the session only asks.
class TApplication {
public:
    using TMessageBoxHook = std::function<int(const AnsiString& text, const AnsiString& caption, unsigned flags)>;

    // Modal; the result as Windows returns it. Without a hook every box is cancelled.
    int MessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags);
    void SetMessageBoxHook(TMessageBoxHook hook) { FMessageBox = std::move(hook); }

    // Asks the front end to close the main window, which ends the message loop.
    void Terminate();
    void SetTerminateHook(std::function<void()> hook) { FTerminate = std::move(hook); }

private:
    TMessageBoxHook FMessageBox;
    std::function<void()> FTerminate;
};

extern TApplication* Application;

} // namespace rtl
