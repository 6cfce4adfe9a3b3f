// tolvane.exe: the operator's window on Windows.

#include "Win32MainWindow.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    int result;
    {
        win32ui::TWin32MainWindow window(instance);
        window.Show(showCommand);
        result = window.Run();
    }
    return result;
}
