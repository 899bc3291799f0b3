#include <gtest/gtest.h>

#include <thread>

#include "Core/Platform/EventChannel.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

// Sends never block: events wait for the reader until the finish, which
// wakes every waiting reader; later sends are ignored and a handler set late
// runs at once.
TEST(EventChannel, FinishWakesEveryReaderAfterWhatIsBuffered) {
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

    channel = EventChannel<int>::make();
    reader = channel->reader();
    for (int i = 0; i < 100000; ++i) channel->send(i);  // nobody reads yet
    channel->finish();
    channel->send(-1);
    int count = 0;
    while (auto event = reader.next()) EXPECT_EQ(*event, count++);
    EXPECT_EQ(count, 100000);
    bool ran = false;
    channel->onTermination([&] { ran = true; });
    EXPECT_TRUE(ran);
}

// A reader whose wait is stopped stays a reader; the stream terminates, once,
// when the last copy goes away, and the producer goes on without blocking.
TEST(EventChannel, LastReaderGoingAwayTerminatesOnce) {
    auto channel = EventChannel<int>::make();
    std::atomic<int> terminations{0};
    channel->onTermination([&] { ++terminations; });
    {
        auto first = channel->reader();
        { auto second = first; }
        std::stop_source stop;
        std::jthread stopper([&] {
            std::this_thread::sleep_for(20ms);
            stop.request_stop();
        });
        EXPECT_THROW(first.next(stop.get_token()), Cancelled);
        channel->send(1);
        EXPECT_FALSE(channel->isTerminated());
    }
    EXPECT_TRUE(channel->isTerminated());
    channel->send(2);
    channel->finish();
    EXPECT_EQ(terminations.load(), 1);
}

}  // namespace
}  // namespace tarvik
