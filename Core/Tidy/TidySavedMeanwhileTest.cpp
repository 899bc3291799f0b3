// Another program saves a song between the moment the tidy checks it and
// the moment its tags are written: apply and undo leave the save as it was
// and say the file changed. Apply is overtaken while ffmpeg reads the tags
// (a stand-in ffmpeg saves first); undo right after it moved the song back
// (strace signals the undo, run as a child of this program, as the move's
// rename is entered, and the child saves). A save at the last moment of an
// apply killed right then is given back by the next run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Traced.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

constexpr const char* undoVariable = "TARVIK_TEST_UNDO";
constexpr const char* applyVariable = testing::applyRoleVariable;

// The child: undoes the journal $TARVIK_TEST_UNDO, or applies the plan
// $TARVIK_TEST_APPLY, prints each failure's reason and exits with the
// number of failures.
const bool running = [] {
    const char* journal = ::getenv(undoVariable);
    const char* plan = ::getenv(applyVariable);
    if (journal == nullptr && plan == nullptr) return false;
    testing::saveOnSignal();
    const auto print = [](const TidyEvent& event) {
        if (const auto* failed = std::get_if<TidyEvent::Failed>(&event.value)) {
            std::printf("%s\n", failed->reason.c_str());
        }
    };
    try {
        const TidyResult result =
            journal != nullptr
                ? TidyApplier{}.undo(journal, print, {})
                : TidyApplier{}.apply(TidyPlan::load(plan), fs::path(plan).parent_path() / "j",
                                      false, print, {});
        std::fflush(stdout);
        ::_exit(static_cast<int>(result.failed));
    } catch (...) {
        ::_exit(100);
    }
}();

// The song as another program saved it: a free atom more at the end, which
// every format reads past and no tag reader compares.
std::string savedVersionOf(const fs::path& song) {
    return readFile(song) + std::string("\0\0\0\x08", 4) + "free";
}

// The save took place (`scratch`, its copy, went) and stands whole and
// alone in the library.
void expectKept(const fs::path& music, const fs::path& song, const std::string& saved,
                const fs::path& scratch) {
    EXPECT_FALSE(fs::exists(scratch)) << "the save never happened";
    EXPECT_TRUE(readFile(song) == saved) << "the save was lost or overwritten";
    EXPECT_EQ(testing::filesBelow(music).size(), 1u);
}

// A song of each editable kind, tagged as a ripper leaves it.
const std::vector<std::string> kinds = {"mp3", "flac", "m4a"};
fs::path makeSong(const fs::path& music, const std::string& kind) {
    const fs::path song = music / "a band/Night" / ("song." + kind);
    fs::create_directories(song.parent_path());
    testing::makeTone(
        song, {.seconds = 0.2,
               .metadata = {
                   {"title", "song"}, {"artist", "a band"}, {"album", "Night"}, {"track", "1"}}});
    return song;
}

// A song of the kind made in `dir`/Music and retitled "Song" by an apply,
// moved to `target` where one is given; its journal.
struct Retitled {
    fs::path music, song;
    std::string source;
    std::optional<fs::path> journal;  // nothing where the apply failed
};
Retitled retitled(const fs::path& dir, const std::string& kind, const std::string& target = {}) {
    Retitled run{dir / "Music", makeSong(dir / "Music", kind), {}, {}};
    run.source = run.song.lexically_relative(run.music).generic_string();
    const TidyResult applied = TidyApplier{}.apply(
        {run.music.string(),
         {},
         {testing::retitling(run.music, run.source, target.empty() ? run.source : target, "Song")}},
        dir / "journals", false, {}, {});
    if (applied.done == 1) run.journal = applied.journal;
    return run;
}

// A stand-in for ffmpeg that, the first time it runs, saves the song as
// another program would (`saved` renamed over it, or written into it),
// then runs the real one.
fs::path savingFFmpeg(const fs::path& folder, const fs::path& saved, const fs::path& song,
                      bool inPlace) {
    const std::string from = testing::shellQuote(saved.string());
    const std::string to = testing::shellQuote(song.string());
    const std::string save =
        inPlace ? "cat " + from + " > " + to + " && rm " + from : "mv " + from + " " + to;
    const fs::path script = folder / "ffmpeg";
    testing::writeFile(script, "#!/bin/sh\nif [ -e " + from + " ]; then " + save +
                                   "; fi\nexec /usr/bin/ffmpeg \"$@\"\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

TEST(TidySavedMeanwhile, ApplyKeepsASaveMadeWhileItReadTheTags) {
    for (const std::string& kind : kinds) {
        for (const bool inPlace : {false, true}) {
            SCOPED_TRACE(kind + (inPlace ? ", written into it" : ", saved over it"));
            const testing::TempDir dir;
            const fs::path music = dir / "Music";
            const fs::path song = makeSong(music, kind);
            const std::string source = song.lexically_relative(music).generic_string();
            TidyItem item = testing::moving(source, source, music);
            const auto ffmpeg = std::make_shared<const FFmpegRunner>("/usr/bin/ffmpeg");
            item.old = item.new_ = *TidyFileState::currentRecord(song, ffmpeg, {});
            item.new_.title = "Song";
            item.tagsChange = item.tagsEditable = true;

            const std::string saved = savedVersionOf(song);
            testing::writeFile(dir / "saved", saved);
            std::vector<TidyEvent> events;
            const TidyApplier applier{savingFFmpeg(dir.path(), dir / "saved", song, inPlace)};
            const TidyResult result =
                applier.apply({music.string(), {}, {item}}, dir / "journals", false,
                              [&](const TidyEvent& event) { events.push_back(event); }, {});
            EXPECT_EQ(result.done, 0);
            EXPECT_EQ(testing::failuresIn(events),
                      std::vector<std::string>{source + ": 計画のあとでファイルが変わっています"});
            expectKept(music, song, saved, dir / "saved");
        }
    }
}

TEST(TidySavedMeanwhile, UndoKeepsASaveMadeRightAfterItMovedTheSongBack) {
    if (const std::string missing = testing::missingProgram({testing::stracePath});
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        const testing::TempDir dir;
        const std::string target = "a band/Day/song." + kind;
        const auto [music, song, source, journal] = retitled(dir.path(), kind, target);
        ASSERT_TRUE(journal);

        const std::string saved = savedVersionOf(music / target);
        testing::writeFile(dir / "saved", saved);
        testing::Environment environment = testing::savingOnSignal(dir / "saved", song, false);
        environment.emplace_back(undoVariable, journal->string());
        // The first rename onto the way back is the move.
        const testing::TracedRun run =
            testing::runSelfTraced(environment, {"-o", "/dev/null", "-P", song.string(), "-e",
                                                 "inject=renameat2,rename:signal=USR1:when=1"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.output, "記録のあとでファイルが変わっています: song." + kind + "\n");
        expectKept(music, song, saved, dir / "saved");
    }
}

// The save lands right after the rewrite's last look at the song, and the
// apply is killed before it gives the save back: the undo that follows
// gives it back, says so, and, since the song was never retagged, leaves it
// alone, failing it as changed since it was recorded (the killed run never
// said so). Where another save has taken the new content's place since,
// the first save can't go back: it is shown under a name of its own, and
// the undo keeps the later one.
TEST(TidySavedMeanwhile, SaveAtTheLastMomentOfAKilledApplyIsGivenBack) {
    if (const std::string missing = testing::missingProgram({testing::stracePath});
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const testing::TempDir dir;
    const fs::path music = dir / "Music";
    const fs::path song = makeSong(music, "mp3");
    const std::string pristine = readFile(song);
    const std::string source = song.lexically_relative(music).generic_string();
    // The song as it was made, planned as it stands (again after the traced run).
    const auto reset = [&] {
        fs::remove_all(dir / "j");
        for (const auto& entry : fs::directory_iterator(song.parent_path())) {
            fs::remove(entry.path());
        }
        testing::writeFile(song, pristine);
        const TidyPlan plan{
            music.string(), {}, {testing::retitling(music, source, source, "Song")}};
        plan.save(dir / "plan.json");
    };
    reset();
    const testing::Environment role = {{applyVariable, (dir / "plan.json").string()}};
    const std::vector<std::string> calls =
        testing::tracedCalls(role, testing::lookAndRenameCalls, dir / "calls");
    const auto first = testing::firstRenameOf(calls, song);
    ASSERT_TRUE(first) << "the song is never renamed";
    // A copy of the song as it stands with another title, saved as another
    // tagger saves: an undo that took the save for its own rewrite would
    // write the old title back over it.
    const auto retitledCopy = [&](const fs::path& copy, const std::string& title) {
        fs::copy_file(song, copy);
        TagFields::patch(copy, {{TagFields::Field::title, title}}, copy);
        return readFile(copy);
    };

    for (const bool savedAgain : {false, true}) {
        SCOPED_TRACE(savedAgain ? "saved again since" : "nobody saved since");
        reset();
        const fs::path theirs = dir / "saved.mp3";
        fs::remove(theirs);
        const std::string saved = retitledCopy(theirs, "Their title");
        testing::Environment environment = testing::savingOnSignal(theirs, song, false);
        environment.insert(environment.end(), role.begin(), role.end());
        const testing::TracedRun run = testing::runSelfTraced(
            environment,
            {"-o", "/dev/null", "-e", testing::injectAt(calls, first->lastLook, "signal=USR1"),
             "-e", testing::injectAt(calls, first->rename, "signal=KILL", 1)});
        ASSERT_EQ(run.exitCode, 128 + 9);
        EXPECT_FALSE(readFile(song) == saved) << "the kill came before the save went back";
        std::string later;
        if (savedAgain) {
            later = retitledCopy(song.parent_path() / "later.mp3", "Later title");
            fs::rename(song.parent_path() / "later.mp3", song);
        }

        std::vector<TidyEvent> events;
        const TidyResult undone =
            TidyApplier{}.undo(testing::journalsIn(dir / "j").at(0),
                               [&](const TidyEvent& event) { events.push_back(event); }, {});
        const std::vector<std::string> notices = testing::noticesIn(events);
        const std::vector<std::string> changed = {
            source + ": 記録のあとでファイルが変わっています: song.mp3"};
        if (!savedAgain) {
            EXPECT_EQ(undone, (TidyResult{0, 1, std::nullopt}));
            EXPECT_EQ(testing::failuresIn(events), changed);
            EXPECT_TRUE(std::count(notices.begin(), notices.end(),
                                   "別のプログラムが保存したファイルを元の名前に戻しました: " +
                                       song.parent_path().string()) == 1)
                << ::testing::PrintToString(notices);
            expectKept(music, song, saved, theirs);
            continue;
        }
        // The song took the run's write, then the later save.
        EXPECT_EQ(undone, (TidyResult{0, 1, std::nullopt}));
        EXPECT_EQ(testing::failuresIn(events), changed);
        std::map<std::string, std::string> shown;
        for (const auto& [name, content] : testing::filesBelow(song.parent_path())) {
            if (name != "song.mp3") shown[name.substr(0, name.find('-'))] = content;
        }
        EXPECT_TRUE(readFile(song) == later) << "the later save was overwritten";
        EXPECT_TRUE(shown == (std::map<std::string, std::string>{{"tarvik", saved}}))
            << "the first save is not shown, or not alone";
        EXPECT_EQ(std::count_if(notices.begin(), notices.end(),
                                [](const std::string& notice) {
                                    return notice.starts_with(
                                        "元の名前が分からないファイルを見えるようにしました: ");
                                }),
                  1)
            << ::testing::PrintToString(notices);
    }
}

// Another tagger saves a title of the same length into the song the apply
// retagged (or only moved), keeping its size and its time, as many can:
// written into it, or a copy renamed over it. The undo knows the song by
// the bytes the apply journaled, keeps the save and says so.
TEST(TidySavedMeanwhile, UndoKeepsASaveThatKeptTheSongsSizeAndTime) {
    struct Case {
        std::string kind;
        bool retagged;
    };
    for (const Case& c :
         {Case{"mp3", true}, Case{"flac", true}, Case{"m4a", true}, Case{"mp3", false}}) {
        for (const bool inPlace : {false, true}) {
            SCOPED_TRACE(c.kind + (c.retagged ? "" : ", moved only") +
                         (inPlace ? ", written into it" : ", a copy renamed over it"));
            const testing::TempDir dir;
            const std::string target = "a band/Day/song." + c.kind;
            Retitled run{dir / "Music", makeSong(dir / "Music", c.kind), {}, {}};
            run.source = run.song.lexically_relative(run.music).generic_string();
            TidyItem item = testing::retitling(run.music, run.source, target, "Song");
            if (!c.retagged) item.new_ = item.old;
            item.tagsChange = c.retagged;
            const TidyResult applied =
                TidyApplier{}.apply({run.music.string(), {}, {item}}, dir / "j", false, {}, {});
            ASSERT_EQ(applied.done, 1);

            const fs::path song = run.music / target;
            const std::string copy = (dir / ("copy." + c.kind)).string();
            fs::copy_file(song, copy);
            TagFields::patch(copy, {{TagFields::Field::title, "Mine"}}, copy);
            const std::string saved = readFile(copy);
            ASSERT_EQ(saved.size(), fs::file_size(song)) << "the save changed the size";
            struct stat facts {};
            ASSERT_EQ(::stat(song.c_str(), &facts), 0);
            if (inPlace) {
                testing::writeFile(song, saved);
                fs::remove(copy);
            } else {
                fs::rename(copy, song);
            }
            const timespec times[2] = {facts.st_atim, facts.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, song.c_str(), times, 0), 0);

            std::vector<TidyEvent> events;
            const TidyResult undone = TidyApplier{}.undo(
                *applied.journal, [&](const TidyEvent& event) { events.push_back(event); }, {});
            EXPECT_EQ(undone, (TidyResult{0, 1, std::nullopt}));
            EXPECT_EQ(testing::failuresIn(events),
                      std::vector<std::string>{
                          target + ": 記録のあとでファイルが変わっています: song." + c.kind});
            EXPECT_TRUE(readFile(song) == saved) << "the save was lost";
        }
    }
}

// An apply killed after it retagged a song, before it said so, is finished
// by the next run; a save made after that is the user's own: the undo
// leaves it alone and says the file changed.
TEST(TidySavedMeanwhile, SaveAfterAKilledApplyWasFinishedIsKeptByItsUndo) {
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        const testing::TempDir dir;
        const auto [music, song, source, journal] = retitled(dir.path(), kind);
        ASSERT_TRUE(journal);
        // Killed right before its completion line.
        std::string lines = readFile(*journal);
        lines.erase(lines.rfind("{\"completes\""));
        testing::writeFile(*journal, lines);
        testing::writeFile(music / "other.wav", "other");
        const TidyResult next = TidyApplier{}.apply(
            {music.string(), {}, {testing::moving("other.wav", "Other.wav", music)}},
            dir / "journals", false, {}, {});
        ASSERT_EQ(next.done, 1);

        const std::string saved = savedVersionOf(song);
        testing::writeFile(song, saved);
        std::vector<TidyEvent> events;
        const TidyResult undone = TidyApplier{}.undo(
            *journal, [&](const TidyEvent& event) { events.push_back(event); }, {});
        EXPECT_EQ(undone.failed, 1);
        EXPECT_EQ(testing::failuresIn(events),
                  std::vector<std::string>{source +
                                           ": 記録のあとでファイルが変わっています: song." + kind});
        EXPECT_TRUE(readFile(song) == saved) << "the save was overwritten";
    }
}

}  // namespace
}  // namespace tarvik
