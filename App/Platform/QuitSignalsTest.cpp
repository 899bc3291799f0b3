#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iterator>

#include "App/Platform/QuitSignals.hpp"
#include "App/Testing/AppTesting.hpp"

namespace tarvik {
namespace {

// Each of a session's ending signals asks for the quit on the GUI thread, as
// Ctrl+Q does, instead of ending the program on the spot.
TEST(QuitSignalsTest, EachEndingSignalQuitsLikeTheMenu) {
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        int quits = 0;
        std::unique_ptr<QuitSignals> quitSignals = QuitSignals::install([&] { ++quits; });
        ASSERT_NE(quitSignals, nullptr);
        ASSERT_EQ(::raise(number), 0);
        EXPECT_EQ(quits, 0);  // not inside the handler
        EXPECT_TRUE(testing::waitUntil([&] { return quits == 1; })) << number;
    }
    // The pipe outlives the object: a handler still running as it goes never
    // writes to a closed descriptor.
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    std::ptrdiff_t listening = 0;
    {
        const std::unique_ptr<QuitSignals> quitSignals = QuitSignals::install([] {});
        listening = descriptors();
    }
    EXPECT_EQ(descriptors(), listening);
}

}  // namespace
}  // namespace tarvik
