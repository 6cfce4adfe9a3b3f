// Qt window tests run on the offscreen platform: no display needed.

#include "QtApplication.h"
#include "QtMainWindow.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    qtui::TQtApplication application(argc, argv);
    qtui::InstallQtRuntime();
    return RUN_ALL_TESTS();
}
