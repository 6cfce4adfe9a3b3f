// The Qt window's loop against the shared step-order scenarios: the same expected logs as
// tolvane-cli and the Win32 window.

#include "QtMainWindow.h"
#include "SimProcess.h"
#include "StepScenarios.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>

using namespace testsupport;

namespace {

class QtStepOrder : public ::testing::TestWithParam<TStepScenario> {
protected:
    TScratchUnitDirectory FUnits;
};

TEST_P(QtStepOrder, ThroughTheQtWindow)
{
    const TStepScenario& scenario = GetParam();
    const std::string script = FUnits.Path() + "/silent.txt";
    std::ofstream(script) << "sleep 600000\n";
    TSimProcess unit(FUnits.Path(), {"--script", script});

    qtui::TQtMainWindow window;
    window.show();
    app::TForm1& form = window.Form();
    TScenarioPlayer player(scenario, form, [&] {
        unit.Stop();
        PumpMainThreadUntil([&] { return !form.HoldsUnit(); });
    });
    window.SetLogListener([&](const rtl::AnsiString& line) { player.LineAdded(line); });

    // The operator: each box, once what arrives under it has been handled, gets its answer.
    QMessageBox* open = nullptr;
    bool answer = false;
    QTimer operatorAtDesk;
    QObject::connect(&operatorAtDesk, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (box != open) {
            open = box;
            answer = player.BoxOpened();
        }
        if (player.BoxArrivalsHandled())
            box->button(answer ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    operatorAtDesk.start(5);

    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!player.Done() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    EXPECT_TRUE(player.Done());
    ExpectLog(scenario, player.Messages());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, QtStepOrder, ::testing::ValuesIn(StepScenarios()),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
