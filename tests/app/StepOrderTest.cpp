// tolvane-cli's loop against the shared step-order scenarios: reports and a removal waiting in
// the queue together, and a report while a confirmation is asked.

#include "SimProcess.h"
#include "StepScenarios.h"

#include "rtl/MainThreadQueue.h"
#include "ui/console/ConsoleRun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

using namespace testsupport;

namespace {

// Calls back with each line written to the stream, as it is flushed.
class TLineTap : public std::stringbuf {
public:
    explicit TLineTap(std::function<void(const std::string&)> line) : FLine(std::move(line)) {}

protected:
    int sync() override
    {
        std::string text = str();
        str({});
        for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
            FLine(text.substr(0, end));
        str(text);
        return 0;
    }

private:
    std::function<void(const std::string&)> FLine;
};

class StepOrder : public ::testing::TestWithParam<TStepScenario> {
protected:
    TScratchUnitDirectory FUnits;
};

TEST_P(StepOrder, ThroughTheConsoleLoop)
{
    const TStepScenario& scenario = GetParam();
    const std::string script = FUnits.Path() + "/silent.txt";
    std::ofstream(script) << "sleep 600000\n";
    TSimProcess unit(FUnits.Path(), {"--script", script});

    console::TSessionOptions options;
    options.ReadInfo = !scenario.Answers.empty() && scenario.Answers[0];
    options.WriteSerial = scenario.Answers.size() > 1 && scenario.Answers[1];
    console::TConsoleLoop loop;
    bool closed = false;
    std::ostringstream errors;
    console::TRunHooks hooks(errors, closed);
    app::TForm1 form;
    TScenarioPlayer player(scenario, form, [&] {
        unit.Stop();
        PumpMainThreadUntil([&] { return !form.HoldsUnit(); });
    });
    TLineTap outTap([&](const std::string& line) { player.LineAdded(line); });
    // A box has no loop of its own here: what arrives while it is asked is handled before the
    // answer, as a window's box would.
    TLineTap errTap([&](const std::string& line) {
        if (line.rfind("confirm: ", 0) != 0)
            return;
        player.BoxOpened();
        PumpMainThreadUntil([&] { return player.BoxArrivalsHandled(); });
    });
    std::ostream out(&outTap);
    std::ostream err(&errTap);
    console::TConsolePeers peers(form, options, out, err);
    hooks.SetActive(&peers);

    const console::TDeadline deadline(options);
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!player.Done() && std::chrono::steady_clock::now() < end)
        console::Turn(loop, hooks, peers, deadline);
    EXPECT_TRUE(player.Done());
    ExpectLog(scenario, player.Messages());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, StepOrder, ::testing::ValuesIn(StepScenarios()),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
