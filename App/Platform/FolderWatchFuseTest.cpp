// The music folder on a real FUSE file system (an exFAT card image served by
// its daemon) whose daemon is stopped, continued and killed while the watch
// follows it: the event loop keeps turning, and each turn shows. A call into
// the stopped file system on the event loop's thread would hold it for the
// whole stop (ten seconds); the limits are generous beside that, so that
// only that fault, never a loaded machine, exceeds them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <optional>
#include <vector>

#include "App/Platform/FolderWatch.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/LoopGaps.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = FolderWatch::Sight::Kind;

// The music folder of a FUSE drive, watched from the start, with what the
// watch told of it.
struct WatchedDrive {
    std::string whyNot;
    std::optional<testing::FuseMusicDrive> drive =
        testing::FuseMusicDrive::make({"Artist"}, whyNot);
    std::vector<Kind> told;
    FolderWatch watch{[this](const FolderWatch::Sight& sight) { told.push_back(sight.kind); }};

    WatchedDrive() {
        if (drive) watch.watch(drive->music, true);
    }
};

TEST(FolderWatchFuseTest, AFileSystemThatStopsAnsweringOrDiesNeverHoldsTheEventLoop) {
    WatchedDrive watched;
    if (!watched.drive) GTEST_SKIP() << "no real FUSE card: " << watched.whyNot;
    const auto& card = watched.drive->card;
    const pid_t daemon = watched.drive->daemon;
    std::vector<Kind>& told = watched.told;
    FolderWatch& watch = watched.watch;
    testing::waitUntil([] { return false; }, 300ms);  // the first look is done
    ASSERT_TRUE(told.empty());

    testing::LoopGaps gaps;
    const fs::path above = card->root().parent_path();
    {
        const testing::StoppedDaemon stopped(daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        // A folder above the card changes: the watch looks again, and the
        // look waits on the stopped daemon.
        fs::create_directory(above / "beside");
        EXPECT_TRUE(testing::waitUntil([&] { return !told.empty(); }, 4s));
        EXPECT_EQ(told, std::vector<Kind>{Kind::notAnswering});
        EXPECT_TRUE(watch.notAnswering());
        fs::rename(above / "beside", above / "beside again");
        testing::waitUntil([] { return false; }, 500ms);
    }
    // Answered at last: the folder is there as it was.
    EXPECT_TRUE(testing::waitUntil([&] { return told.size() == 2; }, 4s));
    EXPECT_EQ(told.back(), Kind::there);
    EXPECT_FALSE(watch.notAnswering());
    testing::waitUntil([] { return false; }, 500ms);  // the rename above is looked at too
    ASSERT_EQ(told.size(), 2U);

    // A daemon that dies leaves its mount behind and tells no kernel watch of
    // it: the next look, for a change above or on time, finds the folder gone.
    ASSERT_EQ(::kill(daemon, SIGKILL), 0);
    EXPECT_TRUE(testing::waitUntil([&] { return told.size() == 3; }, 5s));
    EXPECT_EQ(told.back(), Kind::gone);
    EXPECT_LE(gaps.longest(), 2s);
    card->pull();
}

// A folder away from the shared temporary folder, whose changes by every
// other program would make the watch look again: a test of what only the
// watch's timed look finds keeps its card there.
class QuietFolder {
public:
    QuietFolder() {
        std::string pattern = "/var/tmp/tarvik-quiet-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) oldTmpdir_ = old;
        if (!folder_.empty()) ::setenv("TMPDIR", folder_.c_str(), 1);
    }
    ~QuietFolder() {
        oldTmpdir_ ? ::setenv("TMPDIR", oldTmpdir_->c_str(), 1) : ::unsetenv("TMPDIR");
        std::error_code error;
        if (!folder_.empty()) fs::remove_all(folder_, error);
    }

private:
    fs::path folder_;
    std::optional<std::string> oldTmpdir_;
};

// A daemon that dies tells no kernel watch: only the watch's look every few
// seconds finds the folder gone, within five seconds, though nothing changed
// anywhere on the way to it.
TEST(FolderWatchFuseTest, ADeadDriveIsSeenGoneByTheTimedLookAlone) {
    const QuietFolder quiet;
    WatchedDrive watched;
    if (!watched.drive) GTEST_SKIP() << "no real FUSE card: " << watched.whyNot;
    ASSERT_TRUE(testing::waitUntil([&] { return watched.watch.lookCurrent(); }, 5s));
    ASSERT_TRUE(watched.told.empty());
    ASSERT_EQ(::kill(watched.drive->daemon, SIGKILL), 0);
    EXPECT_TRUE(testing::waitUntil([&] { return !watched.told.empty(); }, 5s));
    EXPECT_EQ(watched.told, std::vector<Kind>{Kind::gone});
    watched.drive->card->pull();
}

}  // namespace
}  // namespace tarvik
