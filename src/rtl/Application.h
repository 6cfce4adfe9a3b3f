#pragma once

#include "AnsiString.h"

#include <exception>
#include <functional>

#ifdef _WIN32
// windows.h renames MessageBox to MessageBoxA; every user of this header must see the same.
#include <windows.h>
#endif

namespace rtl {

// Message-box results and flags, as Windows numbers them (named apart from windows.h).
enum : int { IdOk = 1, IdCancel = 2 };
enum : unsigned { MbOk = 0x00, MbOkCancel = 0x01, MbIconQuestion = 0x20, MbIconInformation = 0x40 };

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

    // The standard handling of an exception that leaves an event, on the main thread: the
    // front end's hook reports it and the loop carries on. Without a hook, or when the hook
    // itself fails, the report goes to standard error. Never throws.
    using TExceptionHook = std::function<void(const AnsiString& message)>;
    void HandleException(std::exception_ptr error) noexcept;
    void SetExceptionHook(TExceptionHook hook) { FException = std::move(hook); }

private:
    TMessageBoxHook FMessageBox;
    std::function<void()> FTerminate;
    TExceptionHook FException;
};

// The text of an exception: its what() for a standard one.
AnsiString ExceptionMessage(std::exception_ptr error);

extern TApplication* Application;

} // namespace rtl
