#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "Core/Platform/DetachedTask.hpp"
#include "Core/Platform/Sleep.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

TEST(DetachedTask, CancelEndsTheWorkAndWaitOutlastsWhatItHeld) {
    auto held = std::make_shared<int>(1);
    const std::weak_ptr<int> watch = held;
    std::shared_ptr<DetachedTask> task =
        DetachedTask::start([held = std::move(held)](std::stop_token stop) { sleepFor(1h, stop); });
    EXPECT_FALSE(task->waitFor(50ms));  // runs until asked to stop
    EXPECT_FALSE(task->isCancelled());
    task->cancel();
    task->cancel();
    EXPECT_TRUE(task->isCancelled());
    task->wait();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(task->waitFor(0ms));
}

// What the thread keeps of its own (a library's per-thread state) is gone
// once wait returns: a program that ends right after must not race the
// thread's exit. Dropped unwaited, the task lets its thread end by itself.
TEST(DetachedTask, WaitOutlastsTheThreadsOwnStorage) {
    static std::atomic<bool> released = false;
    struct PerThread {
        ~PerThread() {
            std::this_thread::sleep_for(50ms);
            released = true;
        }
    };
    std::shared_ptr<DetachedTask> task = DetachedTask::start([](std::stop_token) {
        static thread_local PerThread state;
        (void)state;
    });
    task->wait();
    EXPECT_TRUE(released);

    std::atomic<bool> ran = false;
    DetachedTask::start([&ran](std::stop_token) { ran = true; }).reset();
    for (int i = 0; i < 500 && !ran; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(ran);
}

// Once the program ends, no wait outlasts its deadline: a task held by
// something that does not answer (a gate nobody opens in time) is left
// running and counted, and ends by itself once it is let go.
TEST(DetachedTask, AtTheProgramsEndAWaitLastsUntilItsDeadlineAndLeavesWhatStillRuns) {
    std::mutex mutex;  // guards open
    std::condition_variable opened;
    bool open = false;
    const auto release = [&] {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    };
    const std::size_t before = DetachedTask::running();
    std::shared_ptr<DetachedTask> task = DetachedTask::start([&](std::stop_token) {
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    });
    EXPECT_EQ(DetachedTask::running(), before + 1);
    DetachedTask::endingBy(std::chrono::steady_clock::now() + 200ms);
    std::future<void> waited = std::async(std::launch::async, [&] { task->wait(); });
    const bool returned = waited.wait_for(10s) == std::future_status::ready;
    EXPECT_TRUE(returned) << "a wait outlasted the program's end";
    if (returned) {
        EXPECT_FALSE(task->waitFor(1h));
    }
    EXPECT_EQ(DetachedTask::running(), before + 1);

    DetachedTask::endingBy(std::chrono::steady_clock::time_point::max());
    release();
    task->wait();
    waited.wait();
    for (int i = 0; i < 500 && DetachedTask::running() != before; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(DetachedTask::running(), before);
}

}  // namespace
}  // namespace tarvik
