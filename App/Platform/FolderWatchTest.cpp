#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "App/Platform/FolderWatch.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/Gate.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The folders the process's kernel watches stand on, by inode, as
// /proc/self/fdinfo lists them ("inotify wd:1 ino:3c51a …", in hex).
std::set<ino_t> watchedInodes() {
    std::set<ino_t> inodes;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fdinfo")) {
        std::ifstream info(entry.path());
        for (std::string line; std::getline(info, line);) {
            if (!line.starts_with("inotify ")) continue;
            std::istringstream words(line.substr(line.find("ino:") + 4));
            unsigned long inode = 0;
            words >> std::hex >> inode;
            inodes.insert(inode);
        }
    }
    return inodes;
}

// The inodes of `folder` and of every folder above it, where they are there.
std::set<ino_t> chainInodes(fs::path folder) {
    std::set<ino_t> inodes;
    for (;; folder = folder.parent_path()) {
        struct stat facts {};
        if (::stat(folder.c_str(), &facts) == 0) inodes.insert(facts.st_ino);
        if (!folder.has_relative_path()) return inodes;
    }
}

// The steps change the folders in turn under one watch, so that a watch lost
// on the way fails every later step: the watched folder going and coming back
// anywhere up its path, being replaced or having its entries changed is told
// within a second; a change beside it, or to a folder no longer watched, is
// not. After each step exactly the chain as it now stands is watched (a change
// elsewhere up the path, which the desktop makes all the time, may wake the
// watch too, so the tells alone do not show that).
TEST(FolderWatchTest, TellsEachGoingAndComingUpThePathAndNothingBesideIt) {
    testing::TempDir dir;
    const fs::path outer = dir / "outer";
    const fs::path music = outer / "Music";
    const fs::path gone = outer / "Gone";
    fs::create_directories(music / "Artist");
    int told = 0;
    FolderWatch watch([&](const FolderWatch::Sight&) { ++told; });
    watch.watch(music, true);

    fs::path watched = music;
    const auto move = [](const fs::path& from, const fs::path& to) {
        return [from, to] { fs::rename(from, to); };
    };
    const struct {
        const char* what;
        std::function<void()> change;
        bool tells;
    } steps[] = {
        {"renamed away", move(music, gone), true},
        {"renamed back", move(gone, music), true},
        {"renamed away again", move(music, gone), true},
        {"renamed back again", move(gone, music), true},
        {"a folder beside it", [&] { fs::create_directory(outer / "Other"); }, false},
        {"a folder above it renamed away", move(outer, dir / "Moved"), true},
        {"and back", move(dir / "Moved", outer), true},
        {"an artist added", [&] { fs::create_directory(music / "Second"); }, true},
        {"removed", [&] { fs::remove_all(music); }, true},
        {"made anew", [&] { fs::create_directory(music); }, true},
        {"replaced by another folder", move(outer / "Other", music), true},
        {"the folder above removed", [&] { fs::remove_all(outer); }, true},
        {"the folder above made anew", [&] { fs::create_directory(outer); }, false},
        {"and the folder in it", [&] { fs::create_directory(music); }, true},
        {"another folder watched, the old one renamed",
         [&] {
             watched = dir / "elsewhere";
             watch.watch(watched, false);
             fs::rename(music, gone);
         },
         false},
        {"the new one made", [&] { fs::create_directory(dir / "elsewhere"); }, true},
    };
    for (const auto& step : steps) {
        const int before = told;
        step.change();
        if (step.tells) {
            EXPECT_TRUE(testing::waitUntil([&] { return told > before; }, 1s)) << step.what;
        } else {
            testing::waitUntil([] { return false; }, 400ms);
            EXPECT_EQ(told, before) << step.what;
        }
        // A change that lands between the laying of the watches and the look
        // is told by that look at once; the watches follow once it settles.
        EXPECT_TRUE(testing::waitUntil(
            [&] { return watchedInodes() == chainInodes(watched); }, 2s))
            << step.what;
    }
}

// The owner may learn of the folder's going before the watch settles (a run
// that lost the folder looks for itself and watches anew): the folder's
// return, the very same folder, is still a change to it.
TEST(FolderWatchTest, TellsTheReturnOfAFolderWhoseGoingTheOwnerFoundItself) {
    testing::TempDir dir;
    const fs::path music = dir / "Music";
    fs::create_directories(music);
    int told = 0;
    FolderWatch watch([&](const FolderWatch::Sight&) { ++told; });
    watch.watch(music, true);

    fs::rename(music, dir / "Away");
    watch.watch(music, false);
    fs::rename(dir / "Away", music);
    EXPECT_TRUE(testing::waitUntil([&] { return told > 0; }, 1s));
}

// A music folder that is a link is followed where it leads: a rename above
// its target, away and back, shows both ways, as does the link itself
// pointed elsewhere or removed.
TEST(FolderWatchTest, FollowsAFolderThatIsALinkWhereItLeads) {
    testing::TempDir dir;
    const fs::path music = dir / "Music";
    fs::create_directories(dir / "data" / "lib" / "Music");
    fs::create_directories(dir / "other");
    fs::create_directory_symlink("data/lib/Music", music);
    std::vector<FolderWatch::Sight::Kind> told;
    FolderWatch watch([&](const FolderWatch::Sight& sight) { told.push_back(sight.kind); });
    watch.watch(music, true);

    using Kind = FolderWatch::Sight::Kind;
    const auto move = [](const fs::path& from, const fs::path& to) {
        return [from, to] { fs::rename(from, to); };
    };
    const struct {
        const char* what;
        std::function<void()> change;
        Kind tells;
    } steps[] = {
        {"the target's parent renamed away", move(dir / "data" / "lib", dir / "data" / "old"),
         Kind::gone},
        {"and back", move(dir / "data" / "old", dir / "data" / "lib"), Kind::there},
        {"the link pointed elsewhere",
         [&] {
             fs::remove(music);
             fs::create_directory_symlink("other", music);
         },
         Kind::there},
        {"the link removed", [&] { fs::remove(music); }, Kind::gone},
    };
    for (const auto& step : steps) {
        const std::size_t before = told.size();
        step.change();
        ASSERT_TRUE(testing::waitUntil([&] { return told.size() > before; }, 1s)) << step.what;
        EXPECT_EQ(told.back(), step.tells) << step.what;
    }
}

// A folder that goes while a look lists it is told as gone, never as there
// and empty: its owner would drop all it knew of it, the user's ticks first.
TEST(FolderWatchTest, AFolderThatGoesWhileItIsListedIsNeverThereAndEmpty) {
    testing::TempDir dir;
    const fs::path music = dir / "Music";
    fs::create_directories(music / "Artist");
    bool goneOnce = false;  // the worker's alone
    const FolderWatch::List list =
        [&](const fs::path& folder) -> std::optional<std::vector<std::string>> {
        if (!std::exchange(goneOnce, true)) fs::rename(folder, dir / "Away");
        std::error_code error;
        std::vector<std::string> names;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            names.push_back(it->path().filename().string());
        if (error) return std::nullopt;
        return names;
    };
    std::vector<FolderWatch::Sight> looks;
    FolderWatch watch(nullptr, FolderWatch::Timing{}, list);
    QObject::connect(&watch, &FolderWatch::lookEnded, [&] { looks.push_back(watch.lastLook()); });
    watch.watch(music, false);
    ASSERT_TRUE(testing::waitUntil([&] { return !looks.empty(); }, 2s));
    fs::rename(dir / "Away", music);
    ASSERT_TRUE(testing::waitUntil([&] { return looks.back().there(); }, 2s));
    for (const FolderWatch::Sight& look : looks) {
        if (look.there()) {
            EXPECT_EQ(look.names, std::vector<std::string>{"Artist"});
        }
    }
}

// The worker begins a look at the folder watched so far and is held by its
// file system, and another folder is watched before the window heard that
// the look began: the new folder is looked at all the same, by a worker of
// its own once the deadline passes, and never stays unlooked at until the
// old one answers.
TEST(FolderWatchTest, AFolderWatchedWhileTheLookAtTheOldOneIsHeldIsLookedAt) {
    testing::TempDir dir;
    const fs::path old = dir / "Old";
    const fs::path music = dir / "Music";
    fs::create_directories(old / "Artist");
    fs::create_directories(music / "Artist");
    // Shared with the worker left behind, which outlives the test.
    struct Held {
        testing::Gate gate;
        std::atomic<bool> entered = false;
    };
    auto held = std::make_shared<Held>();
    const FolderWatch::List list =
        [held, old](const fs::path& folder) -> std::optional<std::vector<std::string>> {
        if (folder == old) {
            held->entered = true;
            held->gate.wait({});
        }
        return std::vector<std::string>{"Artist"};
    };
    FolderWatch watch(nullptr, {.worker = {}, .answer = 200ms}, list);
    watch.watch(old, true);
    // The window turns no event meanwhile: the report that the look began
    // is still on its way to it.
    for (int i = 0; i < 10'000 && !held->entered; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(held->entered);
    watch.watch(music, true);

    EXPECT_TRUE(testing::waitUntil([&] { return watch.lookCurrent(); }, 5s));
    EXPECT_TRUE(watch.lastLook().there());
    EXPECT_EQ(watch.lastLook().names, std::vector<std::string>{"Artist"});
    EXPECT_FALSE(watch.notAnswering());
    held->gate.open();
}

}  // namespace
}  // namespace tarvik
