#include "Application.h"

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

} // namespace rtl
