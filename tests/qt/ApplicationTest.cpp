// The Qt application object: an exception that leaves an event is reported and the loop
// carries on with the events after it.

#include "rtl/Application.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(QtApplication, ExceptionLeavingAnEventIsReportedAndLaterEventsStillRun)
{
    std::vector<std::string> reported;
    rtl::Application->SetExceptionHook([&](const rtl::AnsiString& message) { reported.push_back(message); });
    bool later = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("step failed"); });
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { throw std::runtime_error("queued call failed"); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { later = true; }, Qt::QueuedConnection);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!later && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    rtl::Application->SetExceptionHook(nullptr);
    EXPECT_TRUE(later);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::string>{"queued call failed", "step failed"}));
}

} // namespace
