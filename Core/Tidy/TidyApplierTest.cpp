// Applying and undoing plans of moves (WAV tags can't be written), the file
// moves beneath them and the journal that records them; tags are tested on
// real audio files in TidyApplierFilesTest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <sstream>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::moving;
using testing::writeFile;
using Files = std::map<std::string, std::string>;

// A library "m" holding `files`, its journals in "j".
struct Library : testing::TempDir {
    const fs::path music = *this / "m";
    explicit Library(const Files& files) {
        for (const auto& [name, content] : files) writeFile(music / name, content);
    }
    // With a stop source that can stop, stops in the second item.
    TidyResult apply(std::vector<TidyItem> items, bool tagsOnly = false,
                     std::stop_source stop = std::stop_source{std::nostopstate}) const {
        int events = 0;
        return TidyApplier{}.apply(
            TidyPlan{music.string(), {}, std::move(items)}, *this / "j", tagsOnly,
            [&](const TidyEvent&) {
                if (++events == 2) stop.request_stop();
            },
            stop.get_token());
    }
};

TidyResult undo(const fs::path& journal) {
    return TidyApplier{}.undo(journal, {}, {});
}

TEST(TidyApplier, AppliesMovesPastFailedItemsAndUndoesThemLastFirst) {
    const Library lib({{"x/one.wav", "one"},
                       {"x/two.wav", "two"},
                       {"x/three.wav", "three"},
                       {"x/song.wav", "song"},
                       {"a/song.wav", "mine"},
                       {"a/Song.wav", "another"}});
    writeFile(lib / "outside.wav", "outside");
    const Files before = filesBelow(lib.music);
    TidyItem wavTags = moving("x/three.wav", "x/three.wav");
    wavTags.tagsChange = true;  // can't be written and nothing moves: done, no line
    TidyItem unselected = moving("x/three.wav", "A/B/three.wav"), held = unselected;
    unselected.selected = false;
    held.status = TidyItem::Status::hold;
    EXPECT_EQ(lib.apply({unselected, held}), TidyResult{});
    EXPECT_EQ(lib.apply({moving("x/one.wav", "A/B/one.wav")}, true).done, 1);  // tags only
    const TidyResult run = lib.apply(
        {moving("x/one.wav", "A/B/01 one.wav"), unselected, held,
         // Failed: a clash in letter case, a file gone, paths that leave the library.
         moving("a/song.wav", "a/Song.wav"), moving("gone.wav", "A/B/gone.wav"),
         moving("x/../../outside.wav", "A/o.wav"), moving((lib / "outside.wav").string(), "o.wav"),
         moving("x/three.wav", "../three.wav"),
         moving("x/two.wav", "x/one.wav"),  // where the first was
         wavTags, moving("x/song.wav", "x/Song.wav")});
    EXPECT_EQ(run, (TidyResult{4, 5, run.journal}));
    // "A" is "a" in other letter case: the folder on disk takes the file.
    const Files applied = {{"a/B/01 one.wav", "one"}, {"x/one.wav", "two"},
                           {"x/three.wav", "three"},  {"x/Song.wav", "song"},
                           {"a/song.wav", "mine"},    {"a/Song.wav", "another"}};
    EXPECT_EQ(filesBelow(lib.music), applied);
    EXPECT_EQ(testing::readFile(lib / "outside.wav"), "outside");
    const std::string journal = testing::readFile(*run.journal);
    // The header, then each change announced before it is made and completed
    // after: three moves (the clash is found before anything is announced).
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 7);

    // A journal is read and checked whole before anything is undone.
    for (const std::string& text : std::vector<std::string>{
             "\n\n", "[1,2]", "{}", R"({"root":5})", R"({"started":""})", R"({"root":"a"})"}) {
        writeFile(lib / "bad.jsonl", text);
        EXPECT_THROW(undo(lib / "bad.jsonl"), ConversionError) << text;
    }
    for (const std::string& text : {std::string("{\"root\":\n"), journal + "{}\n"}) {
        writeFile(lib / "bad.jsonl", text);
        EXPECT_THROW(undo(lib / "bad.jsonl"), DecodingError) << text;
    }
    EXPECT_THROW(undo(lib / "missing.jsonl"), ConversionError);
    EXPECT_EQ(filesBelow(lib.music), applied);
    // Another writer's form reads the same: members sorted, "/" escaped, blank lines.
    std::istringstream lines(journal);
    std::string other;
    for (std::string line; std::getline(lines, line);) other += json::parse(line).dump() + "\n\n";
    writeFile(*run.journal, text::replacing(other, "/", "\\/"));
    EXPECT_EQ(undo(*run.journal), (TidyResult{3, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(lib.music), before);
    EXPECT_FALSE(fs::exists(lib.music / "a/B"));  // emptied folders go
    EXPECT_TRUE(fs::exists(run.journal->string() + ".undone"));
}

TEST(TidyApplier, StopLeavesARecordWhoseUndoLeavesAFileReplacedSinceAlone) {
    const Library lib({{"x/0.wav", "0"}, {"x/1.wav", "1"}, {"x/2.wav", "2"}});
    EXPECT_THROW(lib.apply({moving("x/0.wav", "A/0.wav"), moving("x/1.wav", "A/1.wav"),
                            moving("x/2.wav", "A/2.wav")},
                           false, std::stop_source{}),
                 Cancelled);
    EXPECT_EQ(filesBelow(lib.music), (Files{{"A/0.wav", "0"}, {"A/1.wav", "1"}, {"x/2.wav", "2"}}));
    writeFile(lib.music / "A/1.wav", "someone else's");
    const fs::path journal = testing::journalsIn(lib / "j").at(0);
    EXPECT_EQ(undo(journal), (TidyResult{1, 1, std::nullopt}));
    EXPECT_EQ(filesBelow(lib.music),
              (Files{{"x/0.wav", "0"}, {"A/1.wav", "someone else's"}, {"x/2.wav", "2"}}));
    EXPECT_TRUE(fs::exists(journal));  // kept for another try
}

// An undo killed between the two renames of a letter-case change leaves the
// file (or folder) under the stopover its journal names, with no line of its
// own: the next undo must still put it back.
TEST(TidyApplier, UndoKilledHalfwayThroughALetterCaseChangeIsFinishedByTheNextUndo) {
    struct Case {
        Files files;
        std::vector<TidyItem> items;
    };
    const std::vector<Case> cases = {
        {{{"x/song.wav", "song"}}, {moving("x/song.wav", "x/Song.wav")}},
        {{{"night/a.wav", "a"}, {"night/b.wav", "b"}},  // the folder is renamed whole
         {moving("night/a.wav", "Night/a.wav"), moving("night/b.wav", "Night/b.wav")}}};
    for (const Case& c : cases) {
        const Library lib(c.files);
        const TidyResult run = lib.apply(c.items);
        ASSERT_EQ(run.failed, 0);
        // Undo's first rename, by hand: the target to the recorded stopover.
        std::istringstream lines(testing::readFile(*run.journal));
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json value = json::parse(line);
            if (!value.contains("stopover")) continue;
            const fs::path target = lib.music / value.at("target").get<std::string>();
            fs::rename(target, target.parent_path() / value.at("stopover").get<std::string>());
        }
        EXPECT_EQ(undo(*run.journal), (TidyResult{1, 0, std::nullopt})) << c.files.begin()->first;
        EXPECT_EQ(filesBelow(lib.music), c.files);
        EXPECT_TRUE(fs::exists(run.journal->string() + ".undone"));
    }
}

// A run killed between the two renames of a letter-case change, then the
// undo of an earlier run in the same folder: the song under the stopover is
// the later run's, never a stray for the undo's sweep to expose.
TEST(TidyApplier, UndoLeavesAnotherRunsStopoverToThatRun) {
    const Files files = {{"x/other.wav", "other"}, {"x/song.wav", "song"}};
    const Library lib(files);
    const TidyResult earlier = lib.apply({moving("x/other.wav", "x/Other.wav")});
    const TidyResult later = lib.apply({moving("x/song.wav", "x/Song.wav")});
    // The later run as the kill left it: its line, no completion, the song hidden.
    std::istringstream lines(testing::readFile(*later.journal));
    std::string header, line;
    std::getline(lines, header);
    std::getline(lines, line);
    writeFile(*later.journal, header + "\n" + line + "\n");
    const std::string stopover = json::parse(line).at("stopover");
    EXPECT_TRUE(stopover.starts_with(".tarvik-rename-")) << stopover;
    fs::rename(lib.music / "x/Song.wav", lib.music / "x" / stopover);

    EXPECT_EQ(undo(*earlier.journal), (TidyResult{1, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(lib.music), files);
    EXPECT_EQ(undo(*later.journal), (TidyResult{0, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(lib.music), files);
    EXPECT_TRUE(fs::exists(later.journal->string() + ".undone"));
}

TEST(TidyFiles, FoldersAreFoundOrMadeAndRemovedOnlyWhenEmpty) {
    const Library lib({{"Artist/Album/x.mp3", "x"},
                       {"Cafe\u0301/keep.mp3", "k"},
                       {"a/b/.DS_Store", ""},
                       {"d/._x", ""}});
    const fs::path& m = lib.music;
    EXPECT_EQ(TidyApplier::ensureFolders(m, "Caf\u00E9/New/y.mp3").relative, "Cafe\u0301/New");
    EXPECT_TRUE(fs::is_directory(m / "Cafe\u0301/New"));  // the same name in NFD
    EXPECT_FALSE(fs::exists(m / "Caf\u00E9"));
    // Other letter case: the folder on disk, never a second one beside it.
    EXPECT_EQ(TidyApplier::ensureFolders(m, "Artist/album/c/y.mp3").path, m / "Artist/Album/c");
    TidyApplier::move(m / "Artist/Album/x.mp3", m / "Artist/Album/x.mp3");  // onto itself
    EXPECT_EQ(filesBelow(m / "Artist"), (Files{{"Album/x.mp3", "x"}}));
    fs::create_directory_symlink(lib / "elsewhere", m / "Artist/link");
    EXPECT_THROW(TidyApplier::ensureFolders(m, "Artist/link/y.mp3"), ConversionError);
    EXPECT_THROW(TidyApplier::ensureFolders(m, "Artist/Album/x.mp3/y.mp3"), ConversionError);

    TidyApplier::removeEmptyFolders({m / "Artist/Album/c"}, m / "Artist/Album/c");  // the root
    EXPECT_TRUE(fs::is_directory(m / "Artist/Album/c"));
    fs::create_directories(m / "a/b/c");
    fs::create_directories(lib / "empty");  // outside the root
    TidyApplier::removeEmptyFolders({m / "a/b/c", m / "d", m / "Cafe\u0301/New", lib / "empty"}, m);
    EXPECT_FALSE(fs::exists(m / "a") || fs::exists(m / "Cafe\u0301/New"));
    EXPECT_TRUE(fs::exists(m / "d/._x") && fs::exists(m / "Cafe\u0301/keep.mp3"));
    EXPECT_TRUE(fs::exists(lib / "empty"));
}

TEST(TidyJournal, EntryWithEveryMemberReadsBackAndNoJournalIsReplaced) {
    const TidyJournalEntry full{
        .source = "a/b/01 x.mp3",
        .target = "A/B/01 X.mp3",
        .old = TrackMeta("x", "a", "a", "b", "1", "", "2019", "Rock"),
        .new_ = TrackMeta("X", "A", "A", "B", "1", "", "2019", "Rock"),
        .tagsWritten = true,
        .moved = true,
        .rawOld = TagFields::Values{{TagFields::Field::title, "x"},
                                    {TagFields::Field::album, std::nullopt},
                                    {TagFields::Field::artist, std::string("a\0b", 3)}},
        .placesOld = {{TagFields::Field::title,
                       {2,
                        0x4000,
                        {{2, Bytes{'T', 'I', 'T', '2', 0, 0, 0, 2, 0x40, 0, 0, 'x'}},
                         {5, Bytes{'T', 'I', 'T', '2', 0, 0, 0, 2, 0, 0, 0, 'y'}}}}}},
        .sizeBefore = 1200,
        .size = 1234,
        .modified = 1'700'000'000'123'456'789};
    EXPECT_EQ(TidyJournalEntry::fromLine(full.line()), full);

    // Two journals in one second keep their own names.
    const testing::TempDir dir;
    const auto now = std::chrono::system_clock::now();
    const JournalWriter first(dir.path(), now), second(dir.path(), now);
    EXPECT_EQ(first.path(), journalName(dir.path(), now));
    EXPECT_EQ(second.path().string(), text::replacing(first.path().string(), ".jsonl", "-2.jsonl"));
}

// A file changed in its size alone, or in its time alone, since it was
// planned (apply) or since it was moved (undo) is left alone.
TEST(TidyApplier, FileChangedInSizeAloneOrInTimeAloneIsLeftAlone) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> change;
    };
    const auto sameTime = [](const fs::path& file) {
        struct stat facts {};
        ::stat(file.c_str(), &facts);
        writeFile(file, "longer than it was");
        const timespec times[2] = {facts.st_atim, facts.st_mtim};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    };
    const auto sameSize = [](const fs::path& file) {
        const timespec times[2] = {{0, UTIME_OMIT}, {1'500'000'000, 0}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    };
    for (const Case& c : {Case{"size alone", sameTime}, Case{"time alone", sameSize}}) {
        SCOPED_TRACE(c.name);
        const Library lib({{"x/a.wav", "a"}, {"x/b.wav", "b"}});
        std::vector<std::string> reasons;
        const auto failed = [&](const TidyEvent& event) {
            if (const auto* failure = std::get_if<TidyEvent::Failed>(&event.value)) {
                reasons.push_back(failure->reason);
            }
        };
        const TidyItem planned = moving("x/a.wav", "y/a.wav", lib.music);
        c.change(lib.music / "x/a.wav");
        const TidyResult applied = TidyApplier{}.apply(
            {lib.music.string(), {}, {planned, moving("x/b.wav", "y/b.wav", lib.music)}}, lib / "j",
            false, failed, {});
        EXPECT_EQ(applied.failed, 1);
        c.change(lib.music / "y/b.wav");
        EXPECT_EQ(TidyApplier{}.undo(*applied.journal, failed, {}).failed, 1);
        EXPECT_EQ(reasons,
                  (std::vector<std::string>{"計画のあとでファイルが変わっています",
                                            "記録のあとでファイルが変わっています: b.wav"}));
        EXPECT_TRUE(fs::exists(lib.music / "x/a.wav") && fs::exists(lib.music / "y/b.wav"));
    }
}

// A stopover that no journal names (its run's journal is gone) is given a
// visible name, so the song in it is seen again.
TEST(TidyApplier, StopoverNoJournalNamesGetsAVisibleName) {
    const Library lib({{"x/a.wav", "a"}, {"x/.tarvik-rename-0A1B", "a song"}});
    lib.apply({moving("x/a.wav", "y/a.wav")});
    EXPECT_EQ(filesBelow(lib.music), (Files{{"y/a.wav", "a"}, {"x/tarvik-rename-0A1B", "a song"}}));
}

// A journal line that could be written only in part (a full disk) is cut
// off again: it would swallow the next line.
TEST(TidyJournal, LineWrittenOnlyInPartIsCutOff) {
    const testing::TempDir dir;
    JournalWriter journal(dir.path());
    journal.append(journalHeader("/m", {}));
    const std::string before = testing::readFile(journal.path());
    {
        testing::FileSizeLimit limit(before.size() + 10);
        ASSERT_TRUE(limit.active());
        EXPECT_THROW(journal.append(std::string(100, 'x')), JournalError);
    }
    EXPECT_EQ(testing::readFile(journal.path()), before);
}

}  // namespace
}  // namespace tarvik
