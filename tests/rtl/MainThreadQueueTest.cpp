#include "rtl/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(MainThreadQueue, RoutinesPostedFromOtherThreadsRunOnTheMainThreadInOrder)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    ASSERT_TRUE(queue.IsMainThread());
    std::atomic<int> wakes{0};
    queue.SetWakeHandler([&] { ++wakes; });

    std::vector<int> ran;
    std::vector<std::thread::id> threads;
    std::thread poster([&] {
        EXPECT_FALSE(queue.IsMainThread());
        for (int i = 0; i < 100; ++i)
            queue.Post([&, i] {
                ran.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
    });
    poster.join();
    EXPECT_EQ(wakes, 100);
    EXPECT_TRUE(queue.WaitForWork(std::chrono::milliseconds(0)));
    EXPECT_EQ(queue.ProcessPending(), 100u);
    ASSERT_EQ(ran.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
        EXPECT_EQ(threads[static_cast<std::size_t>(i)], std::this_thread::get_id());
    }
    queue.SetWakeHandler(nullptr);
    EXPECT_FALSE(queue.WaitForWork(std::chrono::milliseconds(10)));
}

TEST(MainThreadQueue, WaitForWorkWakesWhenAnotherThreadPosts)
{
    auto& queue = rtl::TMainThreadQueue::Instance();
    bool ran = false;
    std::thread poster([&] { queue.Post([&] { ran = true; }); });
    EXPECT_TRUE(queue.WaitForWork(std::chrono::seconds(5)));
    poster.join();
    queue.ProcessPending();
    EXPECT_TRUE(ran);
}

} // namespace
