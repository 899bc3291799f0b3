#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <thread>

#include "App/Model/EventPump.hpp"
#include "App/Testing/AppTesting.hpp"

namespace tarvik {
namespace {

using testing::waitUntil;

std::int64_t doneOf(const ConversionEvent& event) {
    return event.as<ConversionEvent::Progress>()->done;
}

ConversionEvent progress(std::int64_t done) {
    return {ConversionEvent::Progress{.done = done, .etaSeconds = std::nullopt}};
}

// A flood comes in slices: other work of the GUI thread gets in between.
TEST(EventPumpTest, EventsArriveInOrderTheClosingStepLastAndOtherWorkInBetween) {
    QObject receiver;
    std::vector<std::int64_t> seen;
    bool closedAfter = false;
    EventPump pump(&receiver, [&](const ConversionEvent& event) {
        seen.push_back(doneOf(event));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    });
    const EventPump::Pass pass = pump.beginPass();
    constexpr int count = 2000;
    std::thread worker([&] {
        for (int i = 0; i < count; ++i) pass.send(progress(i));
        pass.then([&] { closedAfter = seen.size() == count; });
    });
    worker.join();
    int seenWhenTimerFired = 0;
    QTimer::singleShot(0, [&] { seenWhenTimerFired = static_cast<int>(seen.size()); });
    ASSERT_TRUE(waitUntil([&] { return seen.size() == count; }));
    for (int i = 0; i < count; ++i) ASSERT_EQ(seen[i], i);
    EXPECT_TRUE(waitUntil([&] { return closedAfter; }));
    EXPECT_GT(seenWhenTimerFired, 0);
    EXPECT_LT(seenWhenTimerFired, count);
}

TEST(EventPumpTest, ANewPassDropsWhatTheOldOneStillSends) {
    QObject receiver;
    std::vector<std::int64_t> seen;
    EventPump pump(&receiver, [&](const ConversionEvent& event) { seen.push_back(doneOf(event)); });
    const EventPump::Pass old = pump.beginPass();
    old.send(progress(1));  // queued, not yet handled
    const EventPump::Pass current = pump.beginPass();
    old.send(progress(2));
    current.send(progress(3));
    // A step that begins a new pass cuts the rest of its own batch off.
    current.then([&] { pump.beginPass().send(progress(5)); });
    current.send(progress(4));
    ASSERT_TRUE(waitUntil([&] { return seen.size() == 2; }));
    QTest::qWait(50);
    EXPECT_EQ(seen, (std::vector<std::int64_t>{3, 5}));
}

TEST(EventPumpTest, GoingAwayStopsTheWorkersAndNothingArrivesAfterwards) {
    QObject receiver;
    int handled = 0;
    std::optional<EventPump::Pass> pass;
    std::atomic<bool> workerStopped = false;
    {
        EventPump pump(&receiver, [&](const ConversionEvent&) { ++handled; });
        pass = pump.beginPass();
        pump.keep(DetachedTask::start([&](std::stop_token stop) {
            while (!stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            workerStopped = true;
        }));
        pass->send(progress(1));
    }
    EXPECT_TRUE(workerStopped);
    pass->send(progress(2));
    QTest::qWait(50);
    EXPECT_EQ(handled, 0);
}

}  // namespace
}  // namespace tarvik
