// The tidy on libraries as users keep them: a journal on a volume that fills
// up, a library on a disk that does, a folder link to another library,
// folders named in NFD, a music folder on an exFAT drive, an album folder
// whose letter case changes with a cover beside the tracks, a file replaced
// after planning or saved by another tagger while the tidy copies it, and
// plans with paths no file system takes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Mounting.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyPlanner.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::moving;
using testing::retitling;
using testing::writeFile;
using testing::writeFiles;
using Files = std::map<std::string, std::string>;

std::vector<TidyEvent> events;
const TidyApplier::Progress record = [](const TidyEvent& event) { events.push_back(event); };

std::vector<std::string> failures() {
    return testing::failuresIn(events);
}

void makeSong(const fs::path& file, const std::string& title) {
    fs::create_directories(file.parent_path());
    testing::makeTone(file, {.seconds = 0.2, .metadata = {{"title", title}, {"artist", "a band"}}});
}

// Every name below `root` as its folder lists it, folders with a "/".
std::set<std::string> namesBelow(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        names.insert(entry.path().lexically_relative(root).string() +
                     (entry.is_directory() ? "/" : ""));
    }
    return names;
}

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

// On an exFAT drive every spelling of a name answers for the file, each
// with its own inode number: renames by letter case alone still happen, of
// files and of whole album folders, with their tags, and undo takes them
// back.
TEST(TidyLibrary, ExfatMusicFolderRenamesFilesAndAlbumFoldersByLetterCaseAndBack) {
    std::string whyNot;
    const auto card = testing::CardImage::make(std::uint64_t{32} << 20, whyNot, "music");
    if (!card) GTEST_SKIP() << whyNot;
    const testing::TempDir dir;
    const fs::path& music = card->root();
    for (const char* song : {"a band/night/01 a.mp3", "a band/night/02 b.mp3", "x/song.mp3"}) {
        makeSong(music / song, fs::path(song).stem().string());
    }
    testing::writeFile(music / "x/other.wav", "other");
    // 100 characters, 304 bytes: exFAT counts the characters.
    std::string longName;
    for (int i = 0; i < 100; ++i) longName += "\u66F2";
    testing::writeFile(music / "x" / (longName + ".wav"), "long");
    const Files before = filesBelow(music);
    const std::set<std::string> names = namesBelow(music);
    const TidyPlan plan{music.string(),
                        {},
                        {retitling(music, "a band/night/01 a.mp3", "a band/Night/01 A.mp3", "A"),
                         moving("a band/night/02 b.mp3", "a band/Night/02 b.mp3", music),
                         retitling(music, "x/song.mp3", "x/Song.mp3", "Song"),
                         moving("x/" + longName + ".wav", "x/" + longName + ".WAV", music)}};
    events.clear();
    const TidyResult applied = TidyApplier{}.apply(plan, dir / "j", false, record, {});
    EXPECT_EQ(applied.failed, 0) << ::testing::PrintToString(failures());
    EXPECT_EQ(namesBelow(music),
              (std::set<std::string>{"a band/", "a band/Night/", "a band/Night/01 A.mp3",
                                     "a band/Night/02 b.mp3", "x/", "x/Song.mp3", "x/other.wav",
                                     "x/" + longName + ".WAV"}));
    EXPECT_EQ(TagFields::read(music / "x/Song.mp3").at(TagFields::Field::title), "Song");
    EXPECT_EQ(TagFields::read(music / "a band/Night/01 A.mp3").at(TagFields::Field::title), "A");

    events.clear();
    EXPECT_EQ(TidyApplier{}.undo(*applied.journal, record, {}).failed, 0)
        << ::testing::PrintToString(failures());
    EXPECT_EQ(namesBelow(music), names);
    EXPECT_TRUE(filesBelow(music) == before) << "not byte for byte";
}

// An undo on a full disk can't write the old tags back; once there is room,
// the next undo finds the songs, whatever name their folder has by then,
// and finishes. The failures name the songs, never a temporary file.
TEST(TidyLibrary, UndoOnAFullDiskIsFinishedOnceThereIsRoom) {
    const testing::TempDir dir;
    const fs::path music = dir / "m";
    fs::create_directories(music);
    std::string whyNot;
    const auto disk = testing::Tmpfs::mount(music, "size=2m", whyNot);
    if (!disk) GTEST_SKIP() << whyNot;
    makeSong(music / "a band/album x/01 a.mp3", "a");
    makeSong(music / "a band/album x/02 b.mp3", "b");
    const Files before = filesBelow(music);
    const TidyPlan plan{
        music.string(),
        {},
        {retitling(music, "a band/album x/01 a.mp3", "a band/Album X/01 a.mp3", "A"),
         retitling(music, "a band/album x/02 b.mp3", "a band/Album X/02 B.mp3", "B")}};
    const TidyResult applied = TidyApplier{}.apply(plan, dir / "j", false, record, {});
    ASSERT_EQ(applied.failed, 0) << ::testing::PrintToString(failures());
    {
        std::ofstream filler(music / "filler", std::ios::binary);
        const std::string block(64 << 10, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    events.clear();
    EXPECT_EQ(TidyApplier{}.undo(*applied.journal, record, {}).failed, 2);
    for (const std::string& failure : failures()) {
        EXPECT_TRUE(failure.find("書き込めません: 0") != std::string::npos &&
                    failure.find(".tarvik") == std::string::npos)
            << failure;
    }
    fs::remove(music / "filler");
    events.clear();
    EXPECT_EQ(TidyApplier{}.undo(*applied.journal, record, {}).failed, 0)
        << ::testing::PrintToString(failures());
    EXPECT_TRUE(filesBelow(music) == before) << "not byte for byte";
    EXPECT_TRUE(fs::exists(applied.journal->string() + ".undone"));
}

// Another tagger saves the song (a copy renamed over it) while the tidy
// copies it for its tag write: the tagger's save stays and the item fails.
TEST(TidyLibrary, SaveByAnotherTaggerWhileTheTidyCopiesTheSongWins) {
    // The save must fall inside the copy: a large song, and another try
    // where the tidy was quicker than the tagger all the same.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const testing::TempDir dir;
        const fs::path music = dir / "m", song = music / "a/song.mp3";
        makeSong(song, "song");
        std::ofstream(song, std::ios::binary | std::ios::app) << std::string(48 << 20, 'x');
        const TidyItem item = retitling(music, "a/song.mp3", "a/song.mp3", "Song");

        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, song.parent_path().c_str(), IN_CREATE), 0);
        bool inTime = false;
        std::thread tagger([&] {
            alignas(inotify_event) char buffer[4096];
            pollfd ready{watch, POLLIN, 0};
            while (::poll(&ready, 1, 20'000) == 1) {
                const ssize_t length = ::read(watch, buffer, sizeof buffer);
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    const std::string name = event->len > 0 ? event->name : "";
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    if (!name.starts_with(".tarvik-")) continue;
                    testing::writeFile(music / "a/saved", "the tagger's save");
                    fs::rename(music / "a/saved", song);
                    inTime = fs::exists(music / "a" / name);
                    return;
                }
            }
        });
        events.clear();
        const TidyResult result =
            TidyApplier{}.apply({music.string(), {}, {item}}, dir / "j", false, record, {});
        tagger.join();
        ::close(watch);
        if (!inTime) continue;
        EXPECT_EQ(result.failed, 1);
        EXPECT_EQ(failures(),
                  std::vector<std::string>{"a/song.mp3: 計画のあとでファイルが変わっています"});
        EXPECT_EQ(filesBelow(music), (Files{{"a/song.mp3", "the tagger's save"}}));
        return;
    }
    FAIL() << "the tidy was always done before the tagger saved";
}

// Paths no file system takes, and links, fail their item before anything
// is touched, with a message that names a name of at most 255 bytes.
TEST(TidyLibrary, LinksAndPathsNoFileSystemTakesFailBeforeAnythingIsTouched) {
    const testing::TempDir dir;
    const fs::path music = dir / "m";
    testing::writeFiles(music, {{"a/x.wav", "x"}});
    testing::writeFiles(dir / "elsewhere", {{"y.wav", "y"}});
    fs::create_symlink("x.wav", music / "a/link.wav");
    fs::create_directory_symlink(dir / "elsewhere", music / "linked");
    const std::string huge(10 << 20, 'n');
    struct Case {
        TidyItem item;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {moving("a/link.wav", "b/link.wav", music), std::string(linkReason)},
        {moving("linked/y.wav", "b/y.wav", music), std::string(linkReason)},
        {moving("a/x.wav", "linked/x.wav", music), std::string(linkReason)},
        {moving("a/x.wav", std::string("b/x\0.wav", 8), music), "使えないパスです: b/x\uFFFD.wav"},
        {moving("a/x.wav", "b/" + huge + ".wav", music),
         "使えないパスです: b/" + huge.substr(0, 255)}};
    const Files before = filesBelow(music);
    for (const Case& c : cases) {
        events.clear();
        const TidyResult result =
            TidyApplier{}.apply({music.string(), {}, {c.item}}, dir / "j", false, record, {});
        EXPECT_EQ(result.failed, 1);
        EXPECT_EQ(failures(), std::vector<std::string>{c.item.source + ": " + c.reason});
        EXPECT_EQ(filesBelow(music), before);
        EXPECT_EQ(filesBelow(dir / "elsewhere"), (Files{{"y.wav", "y"}}));
    }
}

}  // namespace
}  // namespace tarvik
