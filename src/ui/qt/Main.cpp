// tolvane: the operator's window on Linux.

#include "QtMainWindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("TOLVANE");
    QApplication::setApplicationVersion(TOLVANE_VERSION);
    qtui::InstallQtRuntime();
    int result;
    {
        qtui::TQtMainWindow window;
        window.show();
        result = QApplication::exec();
    }
    return result;
}
