#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarvik
