#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "App/Platform/MountAnswers.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using Mounted = VolumeService::Mounted;

// Stands in for file systems slower than any deadline: a question about a
// held mount answers only once the test lets it through, so that it is late
// whatever the machine's load (or after ten seconds, so that a fault never
// hangs the test). Shared with the questions' threads, which may outlive it.
class SlowMounts {
public:
    MountAnswers::Question question() const {
        return [state = state_](const MountEntry& mount) -> MountAnswers::Facts {
            const std::string name = mount.mountPoint.filename().string();
            std::unique_lock lock(state->mutex);
            ++state->asked[name];
            if (state->held.contains(name)) {
                state->changed.wait_for(lock, 10s, [&] { return state->through.contains(name); });
                state->through.erase(name);
            }
            return Mounted{.path = mount.mountPoint, .name = name};
        };
    }
    void hold(const std::string& name) {
        std::lock_guard lock(state_->mutex);
        state_->held.insert(name);
    }
    // Lets the question about `name` under way answer.
    void letThrough(const std::string& name) {
        {
            std::lock_guard lock(state_->mutex);
            state_->through.insert(name);
        }
        state_->changed.notify_all();
    }
    std::map<std::string, int> asked() const {
        std::lock_guard lock(state_->mutex);
        return state_->asked;
    }

private:
    struct State {
        std::mutex mutex;  // guards asked, held and through
        std::condition_variable changed;
        std::map<std::string, int> asked;
        std::set<std::string> held;
        std::set<std::string> through;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The late answers told, which the window would list anew upon.
class Told {
public:
    std::function<void()> callback() const {
        return [state = state_] {
            {
                std::lock_guard lock(state->mutex);
                ++state->count;
            }
            state->changed.notify_all();
        };
    }
    bool reaches(int count) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, 10s, [&] { return state_->count >= count; });
    }
    int count() const {
        std::lock_guard lock(state_->mutex);
        return state_->count;
    }

private:
    struct State {
        std::mutex mutex;  // guards count
        std::condition_variable changed;
        int count = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

MountEntry mountAt(const std::string& name, unsigned minor) {
    return {.major = 8,
            .minor = minor,
            .mountPoint = "/media/u/" + name,
            .fileSystemType = "exfat",
            .source = "/dev/sdb" + std::to_string(minor)};
}

std::vector<std::string> names(const std::vector<Mounted>& list) {
    std::vector<std::string> found;
    for (const Mounted& volume : list) found.push_back(*volume.name);
    return found;
}

// Two file systems that always answer after the deadline (a share, a slow
// USB disk) beside one that answers at once: each late answer is told, and
// the listing that follows shows it without asking anything again, so that
// neither late answer starts a round of questions. Each listing asked for
// anew asks each mount once, and a mount whose question is still out is not
// asked beside it.
TEST(MountAnswersTest, ALateAnswerIsListedWithoutAskingAgain) {
    SlowMounts mounts;
    mounts.hold("SHARE");
    mounts.hold("USB");
    Told told;
    const MountAnswers answers(20ms, told.callback());
    const std::vector<MountEntry> table = {mountAt("SHARE", 1), mountAt("USB", 2),
                                           mountAt("CARD", 3)};
    const auto list = [&] { return names(answers.list(table, mounts.question(), {})); };
    using Names = std::vector<std::string>;
    using Asked = std::map<std::string, int>;

    EXPECT_EQ(list(), Names{"CARD"});
    // One answers late, while the other is still out.
    mounts.letThrough("SHARE");
    ASSERT_TRUE(told.reaches(1));
    EXPECT_EQ(list(), (Names{"SHARE", "CARD"}));
    mounts.letThrough("USB");
    ASSERT_TRUE(told.reaches(2));
    EXPECT_EQ(list(), (Names{"SHARE", "USB", "CARD"}));
    EXPECT_EQ(mounts.asked(), (Asked{{"CARD", 1}, {"SHARE", 1}, {"USB", 1}}));

    // Asked anew, each once: both late again, and listed once they answer.
    EXPECT_EQ(list(), Names{"CARD"});
    EXPECT_EQ(list(), Names{"CARD"});  // both still out: not asked beside them
    mounts.letThrough("SHARE");
    mounts.letThrough("USB");
    ASSERT_TRUE(told.reaches(4));
    EXPECT_EQ(list(), (Names{"SHARE", "USB", "CARD"}));
    EXPECT_EQ(mounts.asked(), (Asked{{"CARD", 3}, {"SHARE", 2}, {"USB", 2}}));
    EXPECT_EQ(told.count(), 4);
}

}  // namespace
}  // namespace tarvik
