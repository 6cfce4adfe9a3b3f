// The Qt window as the operator runs it, with its confirmation boxes answered OK at once
// through the application's message-box hook, as the window tests answer them. It ends after
// SESSIONS finished sessions (0: runs until SIGTERM).
//
//   QT_QPA_PLATFORM=offscreen bench-window SESSIONS

#include "QtMainWindow.h"

#include "rtl/Application.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2];

struct TSessionCounter {
    void SessionEnded(rtl::TObject*)
    {
        if (++Count == Limit)
            QApplication::quit();
    }
    int Count = 0;
    int Limit = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    qtui::InstallQtRuntime();
    rtl::Application->SetMessageBoxHook(
        [](const rtl::AnsiString&, const rtl::AnsiString&, unsigned) { return rtl::IdOk; });

    // SIGTERM ends the loop, so the window and its unit are given back as on a close.
    socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe);
    std::signal(SIGTERM, [](int) { (void)!write(gSignalPipe[0], "x", 1); });
    QSocketNotifier notifier(gSignalPipe[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] { QApplication::quit(); });

    TSessionCounter counter;
    counter.Limit = argc > 1 ? std::atoi(argv[1]) : 1;
    qtui::TQtMainWindow window;
    window.Form().OnSessionEnd = rtl::TNotifyEvent::Of<&TSessionCounter::SessionEnded>(&counter);
    window.show();
    const int result = QApplication::exec();
    std::printf("sessions %d\n", counter.Count);
    return result;
}
