#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
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

// Once a quit is asked for, a second signal of the same kind takes the
// default action and ends the program at once: a quit that hangs can still
// be ended from outside without signal 9.
TEST(QuitSignalsDeathTest, ASecondSignalOfTheSameKindEndsTheProgramAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        EXPECT_EXIT(
            {
                const std::unique_ptr<QuitSignals> quitSignals = QuitSignals::install([] {});
                if (quitSignals == nullptr) std::_Exit(2);
                ::raise(number);  // the first asks for the quit
                ::raise(number);
                std::_Exit(0);
            },
            ::testing::KilledBySignal(number), "")
            << number;
    }
}

}  // namespace
}  // namespace tarvik
