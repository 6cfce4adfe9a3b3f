// tolvane: the operator's window on Linux.

#include "QtApplication.h"
#include "QtMainWindow.h"
#include "TolvaneVersion.h"

int main(int argc, char** argv)
{
    qtui::TQtApplication application(argc, argv);
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
