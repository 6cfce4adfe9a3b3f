// Qt window tests run on the offscreen platform: no display needed.

#include "QtMainWindow.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    qtui::InstallQtRuntime();
    return RUN_ALL_TESTS();
}
