#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Core/Platform/EventChannel.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

TEST(EventChannel, BuffersWithoutBlockingAndDrainsAfterFinish) {
    auto channel = EventChannel<int>::make();
    auto reader = channel->reader();
    for (int i = 0; i < 100000; ++i) channel->send(i);  // nobody reads yet
    channel->finish();
    channel->send(-1);  // ignored after the end
    int count = 0;
    while (auto event = reader.next()) EXPECT_EQ(*event, count++);
    EXPECT_EQ(count, 100000);
    EXPECT_EQ(reader.next(), std::nullopt);
    bool ran = false;
    channel->onTermination([&] { ran = true; });  // set late: runs at once
    EXPECT_TRUE(ran);
}

TEST(EventChannel, FinishWakesEveryWaitingReader) {
    auto channel = EventChannel<int>::make();
    auto reader = channel->reader();
    std::atomic<int> ended{0};
    {
        std::vector<std::jthread> readers;
        for (int i = 0; i < 3; ++i) {
            readers.emplace_back([copy = reader, &ended]() mutable { ended += !copy.next(); });
        }
        std::this_thread::sleep_for(20ms);
        channel->finish();
    }
    EXPECT_EQ(ended.load(), 3);
}

TEST(EventChannel, LastReaderGoingAwayTerminatesOnce) {
    auto channel = EventChannel<int>::make();
    std::atomic<int> terminations{0};
    channel->onTermination([&] { ++terminations; });
    {
        auto first = channel->reader();
        {
            auto second = first;  // a copy keeps the stream alive
        }
        channel->send(1);
        EXPECT_FALSE(channel->isTerminated());
        EXPECT_EQ(terminations.load(), 0);
    }
    EXPECT_TRUE(channel->isTerminated());
    channel->send(2);  // the producer goes on without blocking
    channel->finish();
    EXPECT_EQ(terminations.load(), 1);
}

TEST(EventChannel, WaitingReaderCanBeStopped) {
    auto channel = EventChannel<int>::make();
    auto reader = channel->reader();
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(20ms);
        stop.request_stop();
    });
    EXPECT_THROW(reader.next(stop.get_token()), Cancelled);
    EXPECT_FALSE(channel->isTerminated());
}

}  // namespace
}  // namespace tarvik
