// The application's standard handling: an exception that leaves main-thread work or ends a
// thread is reported on the main thread, and everything after it still runs.

#include "rtl/Application.h"
#include "rtl/MainThreadQueue.h"
#include "rtl/Thread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class Exceptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        rtl::Application->SetExceptionHook([this](const rtl::AnsiString& message) { FReported.push_back(message); });
    }
    void TearDown() override { rtl::Application->SetExceptionHook(nullptr); }

    std::vector<std::string> FReported;
};

TEST_F(Exceptions, QueuedRoutineThatThrowsIsReportedAndTheRoutinesAfterItStillRun)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    std::vector<int> ran;
    queue.Post([&] { ran.push_back(1); });
    queue.Post([] { throw std::runtime_error("rescan failed"); });
    queue.Post([] { throw 42; });
    queue.Post([&] { ran.push_back(2); });
    EXPECT_EQ(queue.ProcessPending(), 4u);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(FReported, (std::vector<std::string>{"rescan failed", "unknown exception"}));
}

// Hands a routine that throws to the main thread, as a reader whose data handler fails does.
class TFailingHandOver : public rtl::TThread {
protected:
    void Execute() override
    {
        Synchronize([] { throw std::runtime_error("handler failed"); });
        FAfterHandOver = true;
    }

public:
    bool FAfterHandOver = false;
};

TEST_F(Exceptions, ErrorEndingAThreadIsReportedOnceOnTheMainThread)
{
    TFailingHandOver thread;
    thread.Resume();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.FAfterHandOver);
    EXPECT_TRUE(FReported.empty());
    rtl::TMainThreadQueue::Instance().ProcessPending();
    EXPECT_EQ(FReported, std::vector<std::string>{"handler failed"});
}

} // namespace
