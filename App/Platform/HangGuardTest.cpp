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
// place is; its late answer is handed to its asker, and the place may then be
// asked again.
TEST(HangGuardTest, AHeldQuestionIsLeftAtItsDeadlineAndItsLateAnswerIsHandedOn) {
    // Stands in for a file system that does not answer until it is let go.
    auto gate = std::make_shared<testing::Gate>();
    std::atomic<int> asked = 0;
    struct Late {
        std::mutex mutex;  // guards answers
        std::condition_variable told;
        std::vector<int> answers;
    };
    // Shared with the question's thread, which may outlive a failed test.
    auto late = std::make_shared<Late>();
    const auto hear = [late](int answer) {
        {
            std::lock_guard lock(late->mutex);
            late->answers.push_back(answer);
        }
        late->told.notify_all();
    };
    HangGuard guard(100ms);
    const auto held = [&asked, gate] {
        ++asked;
        gate->wait({});
        return 7;
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(guard.ask<int>("/stalled", held, {}, hear), std::nullopt);
    EXPECT_TRUE(guard.held("/stalled"));
    EXPECT_EQ(guard.ask<int>("/stalled", held, {}, hear), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);  // held for good without the guard
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(guard.ask<int>(
                  "/card", [] { return 3; }, {}, hear),
              3);

    gate->open();
    {
        std::unique_lock lock(late->mutex);
        ASSERT_TRUE(late->told.wait_for(lock, 10s, [&] { return !late->answers.empty(); }));
        EXPECT_EQ(late->answers, std::vector<int>{7});
    }
    EXPECT_FALSE(guard.held("/stalled"));
    EXPECT_EQ(guard.ask<int>("/stalled", held, {}), 7);
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace tarvik
