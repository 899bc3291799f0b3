#include <gtest/gtest.h>

#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Sleep.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

// A width of 0 counts as 1, or the group could start nothing.
TEST(BoundedGroup, NeverRunsMoreThanItsWidth) {
    for (const int width : {0, 1, 2, 4}) {
        std::atomic<int> running{0};
        BoundedGroup<int> group(static_cast<std::size_t>(width));
        for (int i = 0; i < 12; ++i) {
            group.spawn([&](std::stop_token) {
                EXPECT_LE(++running, std::max(width, 1));
                std::this_thread::sleep_for(5ms);
                return --running;
            });
        }
        int results = 0;
        while (group.next()) ++results;
        EXPECT_EQ(results, 12);
    }
}

TEST(BoundedGroup, ResultsComeInCompletionOrderAndExceptionsReachTheOwner) {
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
    group.spawn([](std::stop_token) -> std::string { throw std::runtime_error("child failed"); });
    EXPECT_THROW(group.next(), std::runtime_error);
    EXPECT_EQ(group.outstanding(), 0U);
}

// Children sleeping when the parent stops and one started after all see the
// stop, and so do children still running when the group goes away.
TEST(BoundedGroup, EveryChildSeesTheStopFromTheParentOrTheDestructor) {
    std::atomic<int> stopped{0};
    const auto child = [&](std::stop_token stop) { return stopped += !sleepFor(60s, stop); };
    {
        std::stop_source parent;
        BoundedGroup<int> group(5, parent.get_token());
        for (int i = 0; i < 4; ++i) group.spawn(child);
        parent.request_stop();
        group.spawn(child);
        while (group.next()) {
        }
        EXPECT_EQ(stopped.load(), 5);
        EXPECT_TRUE(group.stopToken().stop_requested());
    }
    {
        BoundedGroup<int> group(3);
        for (int i = 0; i < 3; ++i) group.spawn(child);
    }
    EXPECT_EQ(stopped.load(), 8);
}

}  // namespace
}  // namespace tarvik
