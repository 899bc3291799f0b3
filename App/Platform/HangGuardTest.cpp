#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "App/Platform/HangGuard.hpp"
#include "App/Testing/Gate.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

// A held question is waited for no longer than the deadline; while it is
// held its place is not asked again (no thread piles up behind it), another
// place is; its late answer is told, and the place may then be asked again.
TEST(HangGuardTest, AHeldQuestionIsLeftAtItsDeadlineAndItsLateAnswerIsTold) {
    // Stands in for a file system that does not answer until it is let go.
    auto gate = std::make_shared<testing::Gate>();
    std::atomic<int> asked = 0;
    std::mutex mutex;  // guards late
    std::condition_variable told;
    std::vector<std::string> late;
    HangGuard guard(100ms, [&](const std::string& place) {
        {
            std::lock_guard lock(mutex);
            late.push_back(place);
        }
        told.notify_all();
    });
    const auto held = [&asked, gate] {
        ++asked;
        gate->wait({});
        return 7;
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(guard.ask<int>("/stalled", held, {}), std::nullopt);
    EXPECT_TRUE(guard.held("/stalled"));
    EXPECT_EQ(guard.ask<int>("/stalled", held, {}), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);  // held for good without the guard
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(guard.ask<int>("/card", [] { return 3; }, {}), 3);

    gate->open();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(told.wait_for(lock, 10s, [&] { return !late.empty(); }));
        EXPECT_EQ(late, std::vector<std::string>{"/stalled"});
    }
    EXPECT_FALSE(guard.held("/stalled"));
    EXPECT_EQ(guard.ask<int>("/stalled", held, {}), 7);
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace tarvik
