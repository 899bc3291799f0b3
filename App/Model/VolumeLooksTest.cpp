#include <gtest/gtest.h>

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "App/Model/VolumeLooks.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FixtureVolumes.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using Destination = VolumeLooks::Destination;

// Stands in for a destination slower than any deadline (a share, a slow USB
// disk): each check answers only once the test lets one through, so that it
// is late whatever the machine's load (or after ten seconds, so that a fault
// never hangs the test). Shared with the checks' threads.
class SlowDestination {
public:
    VolumeLooks::Check check() const {
        return [state = state_](const std::string&, const std::vector<Volume>&) {
            std::unique_lock lock(state->mutex);
            ++state->checks;
            state->changed.wait_for(lock, 10s, [&] { return state->through > 0; });
            if (state->through > 0) --state->through;
            return VolumeLooks::Found{.exists = true, .refusal = "read-only"};
        };
    }
    void letOneThrough() {
        {
            std::lock_guard lock(state_->mutex);
            ++state_->through;
        }
        state_->changed.notify_all();
    }
    int checks() const {
        std::lock_guard lock(state_->mutex);
        return state_->checks;
    }

private:
    struct State {
        std::mutex mutex;  // guards checks and through
        std::condition_variable changed;
        int checks = 0;
        int through = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A destination that always answers after the deadline is told as not
// answered, then as it answered once it does, without being asked again by
// itself; asked again while its check is still out, it is not checked beside
// it, and the late answer is told all the same.
TEST(VolumeLooksTest, ALateDestinationIsToldWhenItAnswersAndNotAskedAgain) {
    const std::string dest = "/mnt/share/Music";
    SlowDestination slow;
    QObject receiver;
    std::vector<Destination> told;
    VolumeLooks looks(
        std::make_shared<testing::FixtureVolumes>(), &receiver,
        [&](VolumeLooks::Answer answer) { told.push_back(answer.destination); }, 20ms,
        slow.check());
    const Destination unanswered{.path = dest, .answered = false, .exists = false, .refusal = {}};
    const Destination answered{
        .path = dest, .answered = true, .exists = true, .refusal = "read-only"};

    looks.ask(dest);
    ASSERT_TRUE(testing::waitUntil([&] { return looks.current(); }));
    EXPECT_EQ(told, std::vector<Destination>{unanswered});
    slow.letOneThrough();
    ASSERT_TRUE(testing::waitUntil([&] { return told.size() == 2; }));
    EXPECT_EQ(told.back(), answered);
    // Long beside the deadline: a check asked again by itself would have begun.
    testing::waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(slow.checks(), 1);
    EXPECT_EQ(told.size(), 2U);

    told.clear();
    looks.ask(dest);
    ASSERT_TRUE(testing::waitUntil([&] { return looks.current(); }));
    looks.ask(dest);
    ASSERT_TRUE(testing::waitUntil([&] { return looks.current(); }));
    EXPECT_EQ(told, (std::vector<Destination>{unanswered, unanswered}));
    EXPECT_EQ(slow.checks(), 2);
    slow.letOneThrough();
    ASSERT_TRUE(testing::waitUntil([&] { return told.size() == 3; }));
    EXPECT_EQ(told.back(), answered);
    testing::waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(slow.checks(), 2);
}

}  // namespace
}  // namespace tarvik
