// Runs that others cut short or run beside: an undo that an earlier one
// left half done, an apply killed after a folder was renamed whole or after
// it made folders, leftovers in folders only a journal names, an empty
// journal, and two runs on one library at once. Moves of WAV files (no tags
// are written); tags are tested in TidyApplierFilesTest.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyLock.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::foldersBelow;
using testing::journalsIn;
using testing::moving;
using testing::writeFile;
using Files = std::map<std::string, std::string>;

// An album whose folder "night" becomes "Night" (renamed whole, one file in
// it also in letter case) while its third track moves to a new folder.
struct Album : testing::TempDir {
    const fs::path music = *this / "m", journals = *this / "j";
    const Files files = {{"a band/night/01 a.wav", "a"},
                         {"a band/night/02 b.wav", "b"},
                         {"a band/night/03 c.wav", "c"},
                         {"a band/night/cover.jpg", "cover"}};
    std::vector<TidyEvent> events;

    Album() {
        for (const auto& [name, content] : files) writeFile(music / name, content);
    }
    TidyPlan plan() const {
        return {music.string(),
                {},
                {moving("a band/night/01 a.wav", "a band/Night/01 A.wav", music),
                 moving("a band/night/02 b.wav", "a band/Night/02 b.wav", music),
                 moving("a band/night/03 c.wav", "Other/Day/03 c.wav", music)}};
    }
    TidyResult apply(const TidyPlan& planned) {
        return TidyApplier{}.apply(planned, journals, false, record(), {});
    }
    TidyResult undo(const fs::path& journal) { return TidyApplier{}.undo(journal, record(), {}); }
    TidyApplier::Progress record() {
        return [this](const TidyEvent& event) { events.push_back(event); };
    }
    std::vector<std::string> failures() const { return testing::failuresIn(events); }
    std::vector<std::string> notices() const { return testing::noticesIn(events); }
    // The stopover the journal gave the folder's rename.
    std::string folderStopover(const fs::path& journal) const {
        std::istringstream lines(testing::readFile(journal));
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json value = json::parse(line);
            if (value.value("folder", false)) return value.at("stopover");
        }
        return {};
    }
};

// What an earlier undo, cut short or on a full disk, left: the next undo
// finds every file under either name of the folder and finishes the journal.
TEST(TidyRecovery, UndoFinishesWhatAnEarlierUndoLeft) {
    struct Case {
        const char* name;
        std::function<void(Album&, const fs::path& journal)> left;
    };
    const auto undoneButNotMarked = [](Album& album, const fs::path& journal) {
        EXPECT_EQ(album.undo(journal).failed, 0);
        fs::rename(journal.string() + ".undone", journal);
    };
    const std::vector<Case> cases = {
        {"the folder renamed back, the files inside not",
         [](Album& album, const fs::path&) {
             fs::rename(album.music / "a band/Night", album.music / "a band/night");
         }},
        {"everything restored, killed at the removal of an emptied folder",
         [&](Album& album, const fs::path& journal) {
             undoneButNotMarked(album, journal);
             fs::create_directories(album.music / "Other/Day");
         }},
        {"everything restored but the folder, killed between its two renames",
         [&](Album& album, const fs::path& journal) {
             undoneButNotMarked(album, journal);
             fs::rename(album.music / "a band/night",
                        album.music / "a band" / album.folderStopover(journal));
         }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Album album;
        const TidyResult applied = album.apply(album.plan());
        ASSERT_EQ(applied.failed, 0);
        EXPECT_TRUE(fs::exists(album.music / "a band/Night/01 A.wav"));
        c.left(album, *applied.journal);
        album.events.clear();
        EXPECT_EQ(album.undo(*applied.journal).failed, 0)
            << ::testing::PrintToString(album.failures());
        EXPECT_EQ(filesBelow(album.music), album.files);
        EXPECT_EQ(foldersBelow(album.music), (std::set<std::string>{"a band", "a band/night"}));
        EXPECT_TRUE(fs::exists(applied.journal->string() + ".undone"));
    }
}

// An apply killed right after it renamed the folder: the next apply of the
// same plan finds the tracks under the folder's new name.
TEST(TidyRecovery, ApplyAfterACrashFindsTheFoldersTheCrashedRunRenamed) {
    Album album;
    const TidyPlan plan = album.plan();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TidyApplier{}.apply(plan, album.journals, false,
                            [](const TidyEvent&) { ::_exit(9); },  // before the first track
                            {});
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
    ASSERT_TRUE(fs::exists(album.music / "a band/Night/01 a.wav"));

    EXPECT_EQ(album.apply(plan).failed, 0) << ::testing::PrintToString(album.failures());
    EXPECT_EQ(filesBelow(album.music), (Files{{"a band/Night/01 A.wav", "a"},
                                              {"a band/Night/02 b.wav", "b"},
                                              {"Other/Day/03 c.wav", "c"},
                                              {"a band/Night/cover.jpg", "cover"}}));
    for (const fs::path& journal : journalsIn(album.journals)) {
        EXPECT_EQ(album.undo(journal).failed, 0) << ::testing::PrintToString(album.failures());
    }
    EXPECT_EQ(filesBelow(album.music), album.files);
}

// A run killed after it made the folders of a move, before the move: the
// folders go, at the next undo or apply, and so does whatever the run left
// in any folder its journal names, also in one that came to nothing.
TEST(TidyRecovery, WhatAKilledRunMadeOrLeftIsRemovedByTheNextRun) {
    for (const bool byUndo : {true, false}) {
        SCOPED_TRACE(byUndo ? "undo" : "apply");
        Album album;
        fs::create_directories(album.journals);
        const fs::path journal = album.journals / "tidy-20240101-000000.jsonl";
        TidyJournalEntry move{.source = "a band/night/03 c.wav",
                              .target = "Other/Day/03 c.wav",
                              .moved = true,
                              .id = 1,
                              .pending = true,
                              .stopover = TidyApplier::newStopover(),
                              .made = {"Other", "Other/Day"}};
        // A tag write that came to nothing, in a folder no other line names.
        TidyJournalEntry tags{
            .source = "b side/04 d.wav", .target = "b side/04 d.wav", .tagsWritten = true};
        tags.id = 2;
        tags.pending = true;
        writeFile(journal, journalHeader(album.music.string(), {}) + "\n" + move.line() + "\n" +
                               tags.line() + "\n" + TidyJournalCompletion{2, false, false}.line() +
                               "\n");
        fs::create_directories(album.music / "Other/Day");
        Files files = album.files;
        files["b side/04 d.wav"] = "d";
        writeFile(album.music / "b side/04 d.wav", "d");
        writeFile(album.music / "b side/.tarvik-0A1B.part", "half a song");
        writeFile(album.music / "b side/.tarvik-tmp-04 d.wav", "half a song");

        if (byUndo) {
            EXPECT_EQ(album.undo(journal), (TidyResult{0, 0, std::nullopt}));
        } else {
            EXPECT_EQ(album.apply({album.music.string(), {}, {moving("x.wav", "y.wav")}}).done, 0);
        }
        EXPECT_EQ(filesBelow(album.music), files);
        EXPECT_EQ(foldersBelow(album.music),
                  (std::set<std::string>{"a band", "a band/night", "b side"}));
    }
}

// A run killed before its journal had a line changed nothing: its empty
// journal is removed with one notice, by whichever run comes next; a run
// that can't write that line (a full disk) leaves none.
TEST(TidyRecovery, EmptyJournalIsRemovedWithOneNotice) {
    {
        Album album;
        fs::create_directories(album.journals);
        testing::FileSizeLimit full(0);
        ASSERT_TRUE(full.active());
        EXPECT_THROW(album.apply(album.plan()), JournalError);
        EXPECT_EQ(journalsIn(album.journals), std::vector<fs::path>{});
    }
    for (const bool byUndo : {true, false}) {
        SCOPED_TRACE(byUndo ? "undo" : "apply");
        Album album;
        fs::create_directories(album.journals);
        const fs::path empty = album.journals / "tidy-20240101-000000.jsonl";
        writeFile(empty, "");
        const TidyPlan nothing{album.music.string(), {}, {moving("x.wav", "y.wav")}};
        if (byUndo) {
            EXPECT_EQ(album.undo(empty), TidyResult{});
        } else {
            album.apply(nothing);
        }
        EXPECT_FALSE(fs::exists(empty));
        album.apply(nothing);
        EXPECT_EQ(album.notices(), std::vector<std::string>{
                                       "何も変えずに終わった整理の空の記録ファイルを消しました: "
                                       "tidy-20240101-000000.jsonl"});
    }
}

// One run at a time per library: a second apply or an undo while a run
// goes on refuse at once and touch nothing; and a journal whose run still
// writes it (another version's, which takes no lock of this kind) is no
// interrupted run for the next one to finish.
TEST(TidyRecovery, SecondRunRefusesWhileOneGoesOnAndALiveJournalIsLeftAlone) {
    Album album;
    const TidyResult earlier = album.apply(
        {album.music.string(), {}, {moving("a band/night/cover.jpg", "a band/night/c.jpg")}});
    std::vector<std::string> refusals;
    Files during;
    int events = 0;
    const TidyPlan plan = album.plan();
    const TidyResult run =
        TidyApplier{}.apply(plan, album.journals, false,
                            [&](const TidyEvent&) {
                                if (++events != 2) return;
                                during = filesBelow(album.music);
                                refusals.push_back(testing::thrown<ConversionError>([&] {
                                    TidyApplier{}.apply(plan, album.journals, false, {}, {});
                                }));
                                refusals.push_back(testing::thrown<ConversionError>(
                                    [&] { TidyApplier{}.undo(*earlier.journal, {}, {}); }));
                                EXPECT_EQ(filesBelow(album.music), during);
                            },
                            {});
    EXPECT_EQ(run.failed, 0);
    EXPECT_EQ(refusals, std::vector<std::string>(2, std::string(anotherRunMessage)));
    EXPECT_EQ(album.undo(*run.journal).failed, 0);
    EXPECT_EQ(album.undo(*earlier.journal).failed, 0);
    EXPECT_EQ(filesBelow(album.music), album.files);

    // A live run's journal, its change announced and under way.
    const Files before = filesBelow(album.music);
    JournalWriter live(album.journals);
    live.append(journalHeader(album.music.string(), {}));
    TidyJournalEntry entry = {.source = "a band/night/01 a.wav",
                              .target = "a band/night/01 a.wav",
                              .tagsWritten = true,
                              .id = 1,
                              .pending = true};
    live.append(entry.line());
    const std::string written = testing::readFile(live.path());
    album.apply({album.music.string(), {}, {moving("x.wav", "y.wav")}});
    EXPECT_EQ(testing::readFile(live.path()), written);
    EXPECT_EQ(filesBelow(album.music), before);
}

// Within one journal a run's own word on its change stands over the
// judgement another run wrote into it, before or after it.
TEST(TidyJournal, RunsOwnCompletionStandsOverAJudgedOne) {
    const TidyJournalEntry folder{.source = "a/night",
                                  .target = "a/Night",
                                  .moved = true,
                                  .id = 1,
                                  .pending = true,
                                  .folder = true};
    const std::string own = TidyJournalCompletion{1, false, true}.line();
    const std::string judged = TidyJournalCompletion{1, false, false, {}, {}, true}.line();
    const testing::TempDir dir;
    for (const auto& [first, second] : {std::pair{judged, own}, std::pair{own, judged}}) {
        writeFile(dir / "tidy.jsonl", journalHeader("/m", {}) + "\n" + folder.line() + "\n" +
                                          first + "\n" + second + "\n");
        const JournalContents contents = readJournal(dir / "tidy.jsonl");
        ASSERT_EQ(contents.entries.size(), 1u);
        EXPECT_TRUE(contents.entries[0].moved);
        EXPECT_EQ(contents.entries[0].target, "a/Night");
    }
}

}  // namespace
}  // namespace tarvik
