#include "QtApplication.h"

#include "QtMainWindow.h"

#include "rtl/Application.h"

#include <QMessageBox>

#include <cstdio>

namespace qtui {

TQtApplication::TQtApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    rtl::Application->SetExceptionHook([](const rtl::AnsiString& message) {
        // A box is modal and the timer goes on ticking under it: one box at a time, the rest
        // to standard error.
        static bool showing = false;
        std::fprintf(stderr, "tolvane: exception: %s\n", message.c_str());
        if (showing)
            return;
        showing = true;
        QMessageBox::critical(QApplication::activeWindow(), "TOLVANE", ToQString(message));
        showing = false;
    });
}

TQtApplication::~TQtApplication()
{
    rtl::Application->SetExceptionHook(nullptr);
}

bool TQtApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        rtl::Application->HandleException(std::current_exception());
        return false;
    }
}

} // namespace qtui
