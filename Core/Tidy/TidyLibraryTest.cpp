// The tidy on libraries as users keep them: a journal on a volume that fills
// up, a folder link to another library, folders named in NFD, an album
// folder whose letter case changes with a cover beside the tracks, and a
// file replaced after planning. Moves of WAV files (no tags are written).
#include <gtest/gtest.h>
#include <sys/mount.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyPlanner.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::moving;
using testing::writeFile;
using testing::writeFiles;
using Files = std::map<std::string, std::string>;

std::vector<TidyEvent> events;
const TidyApplier::Progress record = [](const TidyEvent& event) { events.push_back(event); };

TidyResult undoAll(const fs::path& journals) {
    TidyResult total;
    for (const auto& entry : fs::directory_iterator(journals)) {
        if (entry.path().extension() != ".jsonl") continue;
        const TidyResult result = TidyApplier{}.undo(entry.path(), record, {});
        total.done += result.done;
        total.failed += result.failed;
    }
    return total;
}

TEST(TidyLibrary, FullJournalVolumeStopsTheRunWithEveryRecordedChangeUndoable) {
    const testing::TempDir dir;
    const fs::path music = dir / "m", journals = dir / "j";
    fs::create_directories(journals);
    if (::mount("tmpfs", journals.c_str(), "tmpfs", 0, "size=8k") != 0) {
        GTEST_SKIP() << "mounting a small tmpfs is not permitted here";
    }
    std::vector<TidyItem> items;
    for (int i = 0; i < 40; ++i) {
        const std::string name = std::string(120, 'x') + std::to_string(i) + ".wav";
        writeFile(music / "a" / name, std::to_string(i));
        items.push_back(moving("a/" + name, "b/" + name, music));
    }
    const Files before = filesBelow(music);
    EXPECT_THROW(TidyApplier{}.apply({music.string(), {}, items}, journals, false, record, {}),
                 JournalError);
    const Files stopped = filesBelow(music);
    EXPECT_NE(stopped, before);  // some moved before the volume filled
    // Undone where the journal lies: the undo reads what was recorded.
    const TidyResult undone = undoAll(journals);
    EXPECT_EQ(undone.failed, 0);
    EXPECT_GT(undone.done, 0);
    EXPECT_EQ(filesBelow(music), before);
    ::umount(journals.c_str());
}

TEST(TidyLibrary, FolderLinkToAnotherLibraryIsHeldAndNeverFollowed) {
    const testing::TempDir dir;
    const fs::path music = dir / "m", other = dir / "other";
    writeFiles(other, {{"Album/song.wav", "theirs"}});
    writeFiles(music, {{"Artist/Album/mine.wav", "mine"}});
    fs::create_directory_symlink(other, music / "Linked");
    const Files theirs = filesBelow(other);

    TidyPlanner planner;
    planner.root = music;
    const TidyPlan plan = planner.planItem({music / "Linked/Album/song.wav"}, {TrackMeta{}},
                                           {TrackMeta("t", "A", "A", "B", "1", "", "", "")}, {0});
    ASSERT_EQ(plan.items.size(), 1u);
    EXPECT_EQ(plan.items[0].status, TidyItem::Status::hold);
    EXPECT_EQ(plan.items[0].reason, linkReason);

    // A plan that names paths through the link anyway: nothing outside changes.
    events.clear();
    const TidyResult result =
        TidyApplier{}.apply({music.string(),
                             {},
                             {moving("Linked/Album/song.wav", "Artist/Album/song.wav", music),
                              moving("Artist/Album/mine.wav", "Linked/Album/mine.wav", music)}},
                            dir / "j", false, record, {});
    EXPECT_EQ(result.failed, 2);
    EXPECT_EQ(filesBelow(other), theirs);
    EXPECT_EQ(testing::readFile(music / "Artist/Album/mine.wav"), "mine");
}

TEST(TidyLibrary, FoldersAreMatchedByNormalFormAndRenamedWholeForLetterCase) {
    const testing::TempDir dir;
    const fs::path music = dir / "m";
    const std::string nfd = "Cafe\u0301", nfc = "Caf\u00E9";
    writeFiles(music, {{nfd + "/Live/x.wav", "x"},
                       {"loose/y.wav", "y"},
                       {"a band/night/01 a.wav", "a"},
                       {"a band/night/02 b.wav", "b"},
                       {"a band/night/cover.jpg", "cover"},
                       {"a band/night/rip.log", "log"}});
    const TidyResult result = TidyApplier{}.apply(
        {music.string(),
         {},
         {moving("loose/y.wav", nfc + "/Live/y.wav", music),  // into a folder named in NFD
          moving("a band/night/01 a.wav", "a band/Night/01 a.wav", music),
          moving("a band/night/02 b.wav", "a band/Night/02 b.wav", music)}},
        dir / "j", false, record, {});
    EXPECT_EQ(result, (TidyResult{3, 0, result.journal}));
    EXPECT_EQ(filesBelow(music), (Files{{nfd + "/Live/x.wav", "x"},
                                        {nfd + "/Live/y.wav", "y"},
                                        {"a band/Night/01 a.wav", "a"},
                                        {"a band/Night/02 b.wav", "b"},
                                        {"a band/Night/cover.jpg", "cover"},
                                        {"a band/Night/rip.log", "log"}}));
    // A torn last line (a crash in the middle of writing it) is skipped with a notice.
    writeFile(*result.journal, testing::readFile(*result.journal) + "{\"source\":\"a band/");
    events.clear();
    EXPECT_EQ(TidyApplier{}.undo(*result.journal, record, {}).failed, 0);
    EXPECT_TRUE(std::holds_alternative<TidyEvent::Notice>(events.at(0).value));
    EXPECT_EQ(filesBelow(music), (Files{{nfd + "/Live/x.wav", "x"},
                                        {"loose/y.wav", "y"},
                                        {"a band/night/01 a.wav", "a"},
                                        {"a band/night/02 b.wav", "b"},
                                        {"a band/night/cover.jpg", "cover"},
                                        {"a band/night/rip.log", "log"}}));

    // Not every track moves: the folder keeps its name and takes the file.
    const TidyResult one = TidyApplier{}.apply(
        {music.string(), {}, {moving("a band/night/01 a.wav", "a band/Night/1 a.wav", music)}},
        dir / "k", false, record, {});
    EXPECT_EQ(one.done, 1);
    EXPECT_TRUE(fs::exists(music / "a band/night/1 a.wav"));
    EXPECT_FALSE(fs::exists(music / "a band/Night"));
}

TEST(TidyLibrary, MoveOnlyItemWhoseFileChangedSincePlanningIsLeftAlone) {
    const testing::TempDir dir;
    const fs::path music = dir / "m";
    writeFiles(music, {{"a/x.wav", "planned"}});
    const TidyItem item = moving("a/x.wav", "b/x.wav", music);
    fs::remove(music / "a/x.wav");
    writeFile(music / "a/x.wav", "another file");
    events.clear();
    const TidyResult result =
        TidyApplier{}.apply({music.string(), {}, {item}}, dir / "j", false, record, {});
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(events.at(1),
              (TidyEvent{TidyEvent::Failed{"a/x.wav", "計画のあとでファイルが変わっています"}}));
    EXPECT_EQ(filesBelow(music), (Files{{"a/x.wav", "another file"}}));
}

}  // namespace
}  // namespace tarvik
