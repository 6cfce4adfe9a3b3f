#include "Application.h"

#include <cstdio>

namespace rtl {

namespace {
TApplication gApplication;
}

TApplication* Application = &gApplication;

int TApplication::MessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags)
{
    return FMessageBox ? FMessageBox(text, caption, flags) : IdCancel;
}

void TApplication::Terminate()
{
    if (FTerminate)
        FTerminate();
}

AnsiString ExceptionMessage(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

void TApplication::HandleException(std::exception_ptr error) noexcept
{
    const char* text = "unknown exception";
    AnsiString message;
    try {
        message = ExceptionMessage(error);
        text = message.c_str();
        if (FException) {
            FException(message);
            return;
        }
    } catch (...) {
        // Reporting failed too (out of memory, say): fall back to the plainest channel.
    }
    std::fprintf(stderr, "exception: %s\n", text);
    std::fflush(stderr);
}

} // namespace rtl
