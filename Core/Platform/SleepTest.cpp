#include <gtest/gtest.h>

#include <thread>

#include "Core/Platform/Sleep.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

TEST(Sleep, EndsEarlyOnStop) {
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sleepFor(60s, stop.get_token()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    stopper.join();
    EXPECT_FALSE(sleepFor(1ms, stop.get_token()));  // already stopped
}

}  // namespace
}  // namespace tarvik
