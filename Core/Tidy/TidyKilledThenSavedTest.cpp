// An apply killed with a song in flight, that song then saved by another
// program before the next run: the undo keeps the save and fails the song
// as changed since it was recorded, whatever the kill left (the new content
// whole beside the song, announced in the journal or not, or in the song's
// place), whether the save was a copy renamed over the song or written into
// it; without a save the song comes back whole, and one never written is
// nothing to undo.
// The same on an exFAT card mounted again between the kill and the save,
// whose file numbers then mean nothing. strace kills the apply (this
// program started again in its apply role) at calls found in a whole run.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Traced.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

enum class Kill { beforeItsAnnouncement, atTheExchange, afterTheExchange };
enum class Save { none, copyRenamedOverIt, writtenIntoIt };

// A song retitled by a plan in `music`; the plan and journals in `work`.
struct Song {
    fs::path music, work;
    std::string source = "a band/Night/song.mp3";
    fs::path path = music / source;
    std::string pristine;

    Song(fs::path musicFolder, fs::path workFolder)
        : music(std::move(musicFolder)), work(std::move(workFolder)) {
        testing::makeTone(
            path,
            {.seconds = 0.2,
             .metadata = {
                 {"title", "song"}, {"artist", "a band"}, {"album", "Night"}, {"track", "1"}}});
        pristine = readFile(path);
    }
    // The song as it was made, planned as it stands, no journal. On a card,
    // files made and removed first take the numbers the card, once mounted
    // again, gives to others.
    void reset(bool card) {
        fs::remove_all(work / "j");
        testing::writeFile(path, pristine);
        for (int i = 0; card && i < 8; ++i) {
            testing::writeFile(path.parent_path() / "met", "");
            fs::remove(path.parent_path() / "met");
        }
        TidyPlan{music.string(), {}, {testing::retitling(music, source, source, "Song")}}.save(
            work / "plan.json");
    }
    testing::Environment role() const {
        return {{testing::applyRoleVariable, (work / "plan.json").string()}};
    }
    // Another tagger saves the song as it finds it, with another title.
    std::string save(Save how) const {
        if (how == Save::none) return readFile(path);
        const fs::path theirs = path.parent_path() / "saving.mp3";
        fs::copy_file(path, theirs);
        TagFields::patch(theirs, {{TagFields::Field::title, "Their title"}}, theirs);
        if (how == Save::copyRenamedOverIt) {
            fs::rename(theirs, path);
        } else {
            const std::string bytes = readFile(theirs);
            fs::remove(theirs);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        }
        return readFile(path);
    }
};

bool isRename(const std::string& call) {
    return call.starts_with("rename(") || call.starts_with("renameat(") ||
           call.starts_with("renameat2(");
}

// Where in a whole run's calls (looks, renames, fsyncs) the kill comes.
std::string killAt(const std::vector<std::string>& calls, const fs::path& song, Kill kill) {
    const auto first = testing::firstRenameOf(calls, song);
    EXPECT_TRUE(first) << "the song is never renamed";
    if (!first) return {};
    std::size_t at = first->rename;  // the exchange, refused or not
    if (kill == Kill::beforeItsAnnouncement) {
        // The finished content taking its leftover name.
        do {
            --at;
        } while (at > 0 &&
                 !(isRename(calls[at]) && calls[at].find(".part\"") != std::string::npos));
    } else if (kill == Kill::afterTheExchange) {
        // The song has the new content; its folder is being made durable.
        while (at + 1 < calls.size() && !calls[at].starts_with("fsync(")) ++at;
    }
    return testing::injectAt(calls, at, "signal=KILL");
}

// Every name below `root` holding "tarvik-swap-", hidden or shown.
std::vector<std::string> swapNames(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find("tarvik-swap-") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

// What the kill left beside the song: ".part" for an unfinished temporary,
// the prefix for a named leftover.
std::vector<std::string> leftoverKinds(const fs::path& folder) {
    std::vector<std::string> kinds;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(InPlaceLeftover::prefix)) {
            kinds.emplace_back(InPlaceLeftover::prefix);
        } else if (name.starts_with(".tarvik-")) {
            kinds.push_back(entry.path().extension().string());
        }
    }
    return kinds;
}

// A journal's header and its first entry line, as a run wrote them ahead.
std::pair<std::string, std::string> headerAndEntry(const fs::path& journal) {
    std::istringstream lines(readFile(journal));
    std::string header, entry;
    std::getline(lines, header);
    std::getline(lines, entry);
    return {header, entry};
}

void killSaveAndUndo(Song& song, testing::CardImage* card) {
    std::vector<std::string> names = testing::lookAndRenameCalls;
    names.push_back("fsync");
    song.reset(card != nullptr);
    const std::vector<std::string> calls =
        testing::tracedCalls(song.role(), names, song.work / "calls");
    for (const Kill kill :
         {Kill::beforeItsAnnouncement, Kill::atTheExchange, Kill::afterTheExchange}) {
        for (const Save save : {Save::none, Save::copyRenamedOverIt, Save::writtenIntoIt}) {
            SCOPED_TRACE("kill " + std::to_string(static_cast<int>(kill)) + ", save " +
                         std::to_string(static_cast<int>(save)));
            song.reset(card != nullptr);
            const testing::TracedRun run = testing::runSelfTraced(
                song.role(), {"-o", "/dev/null", "-e", killAt(calls, song.path, kill)});
            ASSERT_EQ(run.exitCode, 128 + 9);
            ASSERT_EQ(leftoverKinds(song.path.parent_path()),
                      kill == Kill::beforeItsAnnouncement ? std::vector<std::string>{".part"}
                      : kill == Kill::atTheExchange
                          ? std::vector<std::string>{std::string(InPlaceLeftover::prefix)}
                          : std::vector<std::string>{})
                << "not killed where meant";
            if (card) {
                ASSERT_TRUE(card->unmount() && card->mount());
            }
            const std::string saved = song.save(save);

            std::vector<TidyEvent> events;
            const TidyResult undone =
                TidyApplier{}.undo(testing::journalsIn(song.work / "j").at(0),
                                   [&](const TidyEvent& event) { events.push_back(event); }, {});
            // Written or not, a save is kept and said to be there.
            const bool written = kill == Kill::afterTheExchange;
            std::vector<std::string> failures;
            if (save != Save::none) {
                failures.push_back(song.source +
                                   ": 記録のあとでファイルが変わっています: song.mp3");
            }
            EXPECT_EQ(testing::failuresIn(events), failures);
            EXPECT_EQ(undone,
                      (TidyResult{written && save == Save::none ? 1 : 0,
                                  static_cast<std::int64_t>(failures.size()), std::nullopt}));
            EXPECT_EQ(swapNames(song.music), std::vector<std::string>{});
            const std::string whole = save == Save::none ? song.pristine : saved;
            EXPECT_TRUE(testing::filesBelow(song.music) ==
                        (std::map<std::string, std::string>{{song.source, whole}}))
                << "the song is not whole";
        }
    }
}

TEST(TidyKilledThenSaved, UndoKeepsASaveMadeAfterTheKill) {
    if (const std::string missing = testing::missingProgram({testing::stracePath});
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const testing::TempDir dir;
    Song song(dir / "Music", dir.path());
    killSaveAndUndo(song, nullptr);
}

TEST(TidyKilledThenSaved, UndoKeepsASaveOnACardMountedAgainAfterTheKill) {
    if (const std::string missing = testing::missingProgram({testing::stracePath});
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    std::string whyNot;
    const auto card = testing::CardImage::make(std::uint64_t{16} << 20, whyNot, "music");
    if (!card) GTEST_SKIP() << whyNot;
    const testing::TempDir dir;
    Song song(card->root(), dir.path());
    killSaveAndUndo(song, card.get());
}

// A song a killed run never wrote is judged when the next run finishes the
// killed one: saved by then, its undo fails it and keeps the save; saved
// only after, it is a song that run never touched, which its undo leaves
// alone without a word.
TEST(TidyKilledThenSaved, NeverWrittenSongIsJudgedWhenTheNextRunFinishesTheKilledOne) {
    for (const bool savedBefore : {true, false}) {
        SCOPED_TRACE(savedBefore ? "saved before the next run" : "saved after it");
        const testing::TempDir dir;
        Song song(dir / "Music", dir.path());
        song.reset(false);
        const TidyResult applied =
            TidyApplier{}.apply(TidyPlan::load(dir / "plan.json"), dir / "j", false, {}, {});
        ASSERT_EQ(applied.done, 1);
        // Killed before it wrote the song: its entry line alone, the song as it was.
        const auto [header, entry] = headerAndEntry(*applied.journal);
        testing::writeFile(*applied.journal, header + "\n" + entry + "\n");
        testing::writeFile(song.path, song.pristine);
        std::string saved = savedBefore ? song.save(Save::writtenIntoIt) : "";
        testing::writeFile(song.music / "other.wav", "other");
        const TidyPlan next{
            song.music.string(), {}, {testing::moving("other.wav", "Other.wav", song.music)}};
        ASSERT_EQ(TidyApplier{}.apply(next, dir / "j", false, {}, {}).done, 1);
        if (!savedBefore) saved = song.save(Save::copyRenamedOverIt);

        std::vector<TidyEvent> events;
        const TidyResult undone = TidyApplier{}.undo(
            *applied.journal, [&](const TidyEvent& event) { events.push_back(event); }, {});
        EXPECT_EQ(undone, (TidyResult{0, savedBefore ? 1 : 0, std::nullopt}));
        EXPECT_EQ(testing::failuresIn(events).size(), savedBefore ? 1u : 0u);
        EXPECT_TRUE(readFile(song.path) == saved) << "the save was not kept";
    }
}

// A journal of the previous version, whose run was killed with a song in
// flight, announced no content: its song is judged by inode as before,
// written where the inode changed (undone whole), never written where it
// didn't (a save in place since is kept).
TEST(TidyKilledThenSaved, OlderJournalsSongIsJudgedAsBefore) {
    for (const bool rewritten : {true, false}) {
        SCOPED_TRACE(rewritten ? "rewritten" : "never rewritten");
        const testing::TempDir dir;
        Song song(dir / "Music", dir.path());
        song.reset(false);
        const std::uint64_t inodeBefore = FileIdentity::at(song.path)->inode;
        const TidyResult applied =
            TidyApplier{}.apply(TidyPlan::load(dir / "plan.json"), dir / "j", false, {}, {});
        ASSERT_EQ(applied.done, 1);
        std::string saved;
        std::uint64_t inode = inodeBefore;
        if (!rewritten) {
            std::ofstream(song.path, std::ios::binary | std::ios::trunc) << song.pristine;
            inode = FileIdentity::at(song.path)->inode;
            saved = song.save(Save::writtenIntoIt);
        }
        // Its entry line alone, as that version wrote it ahead.
        auto [header, entry] = headerAndEntry(*applied.journal);
        const std::string announces = R"("announcesContent":true)";
        ASSERT_NE(entry.find(announces), std::string::npos);
        entry.replace(entry.find(announces), announces.size(),
                      R"("inodeBefore":)" + std::to_string(inode));
        testing::writeFile(*applied.journal, header + "\n" + entry + "\n");

        EXPECT_EQ(TidyApplier{}.undo(*applied.journal, {}, {}),
                  (TidyResult{rewritten ? 1 : 0, 0, std::nullopt}));
        EXPECT_TRUE(readFile(song.path) == (rewritten ? song.pristine : saved))
            << "not the song as it was";
    }
}

}  // namespace
}  // namespace tarvik
