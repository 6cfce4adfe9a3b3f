#pragma once

#include <QApplication>

namespace qtui {

// The application object of the Qt window. An exception that leaves any event (a timer step,
// a queued call, a click) goes to the application's standard handling, which shows it in a
// message box, and the loop carries on.
class TQtApplication : public QApplication {
public:
    TQtApplication(int& argc, char** argv);
    ~TQtApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qtui
