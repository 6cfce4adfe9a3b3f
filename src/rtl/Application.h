#pragma once

#include "AnsiString.h"

#include <exception>
#include <functional>

// windows.h, where a file includes it, makes MessageBox a macro for MessageBoxA (the build
// defines no UNICODE). The class is declared with the macro set aside and answers to both
// names, so that files with and without windows.h call the same member.
#ifdef _WIN32
#pragma push_macro("MessageBox")
#undef MessageBox
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
#ifdef _WIN32
    int MessageBoxA(const AnsiString& text, const AnsiString& caption, unsigned flags)
    {
        return MessageBox(text, caption, flags);
    }
#endif
    void SetMessageBoxHook(TMessageBoxHook hook)
    {
        FMessageBox = std::move(hook);
    }

    // Asks the front end to close the main window, which ends the message loop.
    void Terminate();
    void SetTerminateHook(std::function<void()> hook)
    {
        FTerminate = std::move(hook);
    }

    // The standard handling of an exception that leaves an event, on the main thread: the
    // front end's hook reports it and the loop carries on. Without a hook, or when the hook
    // itself fails, the report goes to standard error. Never throws.
    using TExceptionHook = std::function<void(const AnsiString& message)>;
    void HandleException(std::exception_ptr error) noexcept;
    void SetExceptionHook(TExceptionHook hook)
    {
        FException = std::move(hook);
    }

private:
    TMessageBoxHook FMessageBox;
    std::function<void()> FTerminate;
    TExceptionHook FException;
};

// The text of an exception: its what() for a standard one.
AnsiString ExceptionMessage(std::exception_ptr error);

extern TApplication* Application;

} // namespace rtl

#ifdef _WIN32
#pragma pop_macro("MessageBox")
#endif
