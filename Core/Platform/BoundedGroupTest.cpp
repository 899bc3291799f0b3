#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Sleep.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

TEST(BoundedGroup, NeverRunsMoreThanItsWidth) {
    for (std::size_t width : {1U, 2U, 4U}) {
        std::atomic<int> running{0};
        std::atomic<int> peak{0};
        BoundedGroup<int> group(width);
        for (int i = 0; i < 12; ++i) {
            group.spawn([&, i](std::stop_token) {
                int now = ++running;
                int seen = peak.load();
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(5ms);
                --running;
                return i;
            });
        }
        int results = 0;
        while (group.next()) ++results;
        EXPECT_EQ(results, 12);
        EXPECT_LE(peak.load(), static_cast<int>(width));
        EXPECT_GE(peak.load(), 1);
    }
}

TEST(BoundedGroup, ResultsComeInCompletionOrder) {
    BoundedGroup<std::string> group(3);
    std::atomic<bool> releaseSlow{false};
    group.spawn([&](std::stop_token) {
        while (!releaseSlow) std::this_thread::sleep_for(1ms);
        return std::string("slow");
    });
    group.spawn([](std::stop_token) { return std::string("fast"); });
    EXPECT_EQ(group.next(), "fast");
    releaseSlow = true;
    EXPECT_EQ(group.next(), "slow");
    EXPECT_EQ(group.next(), std::nullopt);
}

TEST(BoundedGroup, EveryChildSeesTheStopAlsoFromTheParent) {
    std::stop_source parent;
    BoundedGroup<bool> group(4, parent.get_token());
    for (int i = 0; i < 4; ++i) {
        group.spawn([](std::stop_token stop) { return !sleepFor(60s, stop); });
    }
    parent.request_stop();
    int stopped = 0;
    while (auto result = group.next()) stopped += *result ? 1 : 0;
    EXPECT_EQ(stopped, 4);
    EXPECT_TRUE(group.stopToken().stop_requested());
}

TEST(BoundedGroup, ChildExceptionsReachTheOwner) {
    BoundedGroup<int> group(2);
    group.spawn([](std::stop_token) -> int { throw std::runtime_error("child failed"); });
    EXPECT_THROW(group.next(), std::runtime_error);
    EXPECT_EQ(group.outstanding(), 0U);
}

TEST(BoundedGroup, DestructorStopsAndWaitsForAllChildren) {
    std::atomic<int> ended{0};
    {
        BoundedGroup<int> group(3);
        for (int i = 0; i < 3; ++i) {
            group.spawn([&](std::stop_token stop) {
                sleepFor(60s, stop);
                ++ended;
                return 0;
            });
        }
    }
    EXPECT_EQ(ended.load(), 3);
}

}  // namespace
}  // namespace tarvik
