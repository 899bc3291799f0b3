// Copies into an atomic sink from files that change under them, edits in
// place that another program's save overtakes (at the last moment too,
// killed or not), and what a replaced file hands on to its new content.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"
#include "Core/Testing/Traced.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr const char* editVariable = "TARVIK_TEST_EDIT";
// The child's exit codes: committed, another program's save kept, failed.
constexpr int committed = 0, yielded = 3, failed = 4;

// The child: "!" appended in place to the file $TARVIK_TEST_EDIT, before
// the tests run.
const bool editing = [] {
    const char* song = ::getenv(editVariable);
    if (song == nullptr) return false;
    testing::saveOnSignal();
    try {
        FileSource source(song);
        AtomicFileSink sink(song);
        sink.copy(source, 0, source.size());
        sink.append(std::vector<std::uint8_t>{'!'});
        sink.commit();
    } catch (const FileChangedMeanwhile&) {
        ::_exit(yielded);
    } catch (...) {
        ::_exit(failed);
    }
    ::_exit(committed);
}();

constexpr std::size_t mebibyte = 1 << 20;

// Through an atomic sink, which skips holes, or read whole in memory.
std::string copied(const fs::path& from, const fs::path& to, const std::function<void()>& meanwhile,
                   bool inMemory = false) {
    FileSource source(from);
    meanwhile();
    AtomicFileSink sink(to);
    if (inMemory) {
        sink.append(source.read(0, static_cast<std::size_t>(source.size())));
    } else {
        sink.copy(source, 0, source.size());
    }
    sink.commit();
    return testing::readFile(to);
}

// A file cut shorter while it is copied is an error, not a copy padded with
// zeros; one that ends in a hole keeps its length, and its hole.
TEST(FileStreams, CopyFailsForAFileCutShorterAndKeepsAHoleAtTheEnd) {
    struct Case {
        const char* name;
        std::size_t data, size, cutTo;  // cutTo 0: not cut
    };
    for (const Case& c :
         std::vector<Case>{{"ends in a hole", mebibyte, 3 * mebibyte, 0},
                           {"cut into its data", 3 * mebibyte, 3 * mebibyte, mebibyte},
                           {"cut into its hole", mebibyte, 3 * mebibyte, 2 * mebibyte}}) {
        SCOPED_TRACE(c.name);
        const testing::TempDir dir;
        const fs::path song = dir / "song.flac", copy = dir / "copy.flac";
        testing::writeFile(song, std::string(c.data, 'a'));
        fs::resize_file(song, c.size);
        const auto cut = [&] {
            if (c.cutTo != 0) fs::resize_file(song, c.cutTo);
        };
        if (c.cutTo != 0) {
            for (const bool inMemory : {false, true}) {
                EXPECT_EQ(
                    testing::thrown<ConversionError>([&] { copied(song, copy, cut, inMemory); }),
                    "読み込めません: song.flac（読んでいる間にファイルが短くなりました）");
                fs::resize_file(song, c.size);
            }
            EXPECT_EQ(testing::filesBelow(dir.path()).size(), 1u);  // no copy, no temporary
            continue;
        }
        EXPECT_EQ(copied(song, copy, cut),
                  std::string(c.data, 'a') + std::string(c.size - c.data, '\0'));
        struct stat facts {};
        ASSERT_EQ(::stat(copy.c_str(), &facts), 0);
        EXPECT_LT(static_cast<std::size_t>(facts.st_blocks) * 512, c.size);  // still sparse
    }
}

// A song saved by another program while an edit copied it keeps that save,
// also on exFAT, which can't exchange two names in one step.
TEST(FileStreams, InPlaceEditYieldsToASaveMadeWhileItCopied) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> save;  // nothing: nobody else saves
        Files after;
    };
    const std::vector<Case> cases = {
        {"nobody else", {}, {{"song.mp3", "ours..!"}}},
        {"a copy renamed over it",
         [](const fs::path& song) {
             testing::writeFile(song.parent_path() / "saved", "theirs");
             fs::rename(song.parent_path() / "saved", song);
         },
         {{"song.mp3", "theirs"}}},
        {"written in place, same size",
         [](const fs::path& song) { testing::writeFile(song, "theirs"); },
         {{"song.mp3", "theirs"}}},
        {"removed", [](const fs::path& song) { fs::remove(song); }, {}}};
    const testing::TempDir temp;
    std::string whyNoCard;
    const auto card = testing::CardImage::make(std::uint64_t{8} << 20, whyNoCard);
    std::vector<fs::path> folders = {temp.path()};
    if (card) folders.push_back(card->root());
    for (const fs::path& folder : folders) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in " + folder.string());
            const fs::path dir = folder / "x";
            fs::create_directory(dir);
            const fs::path song = dir / "song.mp3";
            testing::writeFile(song, "ours..");
            // Saved a while ago: a save now gives it another time, however coarse the clock.
            const timespec past[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, song.c_str(), past, 0), 0);
            std::string refusal;
            {
                FileSource source(song);
                AtomicFileSink sink(song);
                sink.copy(source, 0, source.size());
                sink.append(std::vector<std::uint8_t>{'!'});
                if (c.save) c.save(song);
                try {
                    sink.commit();
                } catch (const FileChangedMeanwhile& changed) {
                    refusal = changed.what();
                }
            }
            EXPECT_EQ(
                refusal,
                c.save ? "書き換えている間に別のプログラムがファイルを変えました: song.mp3" : "");
            EXPECT_EQ(testing::filesBelow(dir), c.after);
            fs::remove_all(dir);
        }
    }
    if (!card) GTEST_SKIP() << "not tried on exFAT: " << whyNoCard;
}

// An in-place edit never leaves a song empty, and one whose source was
// checked compares what it opens with what was checked.
TEST(FileStreams, InPlaceEditRefusesAnEmptyResultAndASourceSavedSinceItWasChecked) {
    const testing::TempDir dir;
    const fs::path song = dir / "song.mp3";
    struct stat facts {};
    const auto seen = [&] {
        EXPECT_EQ(::lstat(song.c_str(), &facts), 0);
        return FileIdentity::of(facts);
    };
    testing::writeFile(song, "");
    const FileIdentity empty = seen();
    EXPECT_EQ(testing::thrown<EmptyEdit>([&] {
                  FileSource source(song, empty);
                  AtomicFileSink sink(song);
                  sink.copy(source, 0, source.size());
                  sink.commit();
              }),
              "書き換えた結果が空のため、書き換えませんでした: song.mp3");
    testing::writeFile(song, "ours..");
    EXPECT_EQ(testing::thrown<FileChangedMeanwhile>([&] { FileSource source(song, empty); }),
              "書き換えている間に別のプログラムがファイルを変えました: song.mp3");
    EXPECT_EQ(testing::filesBelow(dir.path()), (Files{{"song.mp3", "ours.."}}));
}

// Another program saves the song right after the edit's last look at it,
// before the new content takes its place: its save is kept, however it
// saved, also on exFAT, where the check right before the rename is all
// there is. Killed at a step of the commit, with or without such a save,
// the leftover is put right: nothing either side wrote is lost, and the
// new content is known as such also once the card was mounted again.
TEST(FileStreams, SaveAtTheLastMomentIsKeptAndAKilledCommitIsPutRight) {
    if (const std::string missing = testing::missingProgram({testing::stracePath});
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    using Held = InPlaceLeftover::Held;
    enum class Kill { no, atTheExchange, atTheExchangeBack, atTheRemoval };
    enum class Where { anywhere, whereNamesExchange, onTheCard };
    struct Case {
        const char* name;
        bool save, inPlace;
        Kill kill;
        int exitCode;
        std::optional<Held> leftover;  // what the kill left, put right
        std::string songAfter;         // empty: no song
        bool newContentGone = false;   // before the leftover is put right
        Where where = Where::anywhere;
        bool mountedAgain = false;  // between the kill and the putting right
    };
    const std::string ours = "ours..", edited = "ours..!", theirs = "theirs";
    const int killed = 128 + SIGKILL;
    const std::vector<Case> cases = {
        {"saved over it", true, false, Kill::no, yielded, std::nullopt, theirs},
        {"written into it", true, true, Kill::no, yielded, std::nullopt, theirs},
        {"killed at the exchange", false, false, Kill::atTheExchange, killed, Held::unplaced, ours},
        {"killed at the exchange, the card mounted again", false, false, Kill::atTheExchange,
         killed, Held::unplaced, ours, false, Where::onTheCard, true},
        {"killed before the song that came out goes", false, false, Kill::atTheRemoval, killed,
         Held::replaced, edited, false, Where::whereNamesExchange},
        {"saved, killed before the save goes back", true, false, Kill::atTheExchangeBack, killed,
         Held::putBack, theirs, false, Where::whereNamesExchange},
        {"saved, killed, and the new content gone since", true, false, Kill::atTheExchangeBack,
         killed, Held::anotherSave, "", true, Where::whereNamesExchange}};

    const testing::TempDir temp, work;
    std::string whyNoCard;
    const auto card = testing::CardImage::make(std::uint64_t{8} << 20, whyNoCard);
    std::vector<std::pair<fs::path, bool>> places = {{temp.path(), true}};  // and exchanges names
    if (card) places.emplace_back(card->root() / "x", false);
    for (const auto& [dir, exchanges] : places) {
        SCOPED_TRACE(dir.string());
        fs::create_directories(dir);
        const fs::path song = dir / "song.mp3", saved = dir / "saved";
        const auto reset = [&](bool save) {
            for (const auto& entry : fs::directory_iterator(dir)) fs::remove(entry.path());
            testing::writeFile(song, ours);
            // Saved a while ago: a save now gives it another time, however coarse the clock.
            const timespec past[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, song.c_str(), past, 0), 0);
            if (save) testing::writeFile(saved, theirs);
            // A card numbers its files as it meets them: these take numbers
            // the card, once mounted again, gives to others.
            for (int i = 0; i < 8 && !exchanges; ++i) {
                testing::writeFile(dir / "met", "");
                fs::remove(dir / "met");
            }
        };
        const testing::Environment role = {{editVariable, song.string()}};
        reset(false);
        std::vector<std::string> names = testing::lookAndRenameCalls;
        names.insert(names.end(), {"unlink", "unlinkat"});
        const std::vector<std::string> calls = testing::tracedCalls(role, names, work / "calls");
        ASSERT_EQ(testing::readFile(song), edited);
        const auto first = testing::firstRenameOf(calls, song);
        ASSERT_TRUE(first) << "the song is never renamed";
        const auto removal = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
            return call.starts_with("unlink") &&
                   call.find(InPlaceLeftover::prefix) != std::string::npos;
        });
        ASSERT_EQ(removal != calls.end(), exchanges);

        for (const Case& c : cases) {
            if ((c.where == Where::whereNamesExchange && !exchanges) ||
                (c.where == Where::onTheCard && exchanges)) {
                continue;
            }
            SCOPED_TRACE(c.name);
            reset(c.save);
            testing::Environment environment = role;
            std::vector<std::string> options = {"-o", "/dev/null"};
            if (c.save) {
                const testing::Environment saving = testing::savingOnSignal(saved, song, c.inPlace);
                environment.insert(environment.end(), saving.begin(), saving.end());
                options.insert(options.end(),
                               {"-e", testing::injectAt(calls, first->lastLook, "signal=USR1")});
            }
            if (c.kill == Kill::atTheRemoval) {
                const auto at = static_cast<std::size_t>(removal - calls.begin());
                options.insert(options.end(), {"-e", testing::injectAt(calls, at, "signal=KILL")});
            } else if (c.kill != Kill::no) {
                const int later = c.kill == Kill::atTheExchangeBack ? 1 : 0;
                options.insert(options.end(), {"-e", testing::injectAt(calls, first->rename,
                                                                       "signal=KILL", later)});
            }
            EXPECT_EQ(testing::runSelfTraced(environment, options).exitCode, c.exitCode);
            fs::remove(saved);  // the other program's own copy
            if (c.newContentGone) fs::remove(song);
            std::vector<fs::path> leftovers;
            for (const auto& entry : fs::directory_iterator(dir)) leftovers.push_back(entry.path());
            std::erase(leftovers, song);
            ASSERT_EQ(leftovers.size(), c.leftover ? 1u : 0u);
            if (c.mountedAgain) {
                const std::uint64_t before = FileIdentity::at(leftovers[0])->inode;
                ASSERT_TRUE(card->unmount() && card->mount());
                ASSERT_NE(FileIdentity::at(leftovers[0])->inode, before)
                    << "the card gave the leftover its number again";
            }
            Files expected;
            if (c.leftover) {
                EXPECT_EQ(InPlaceLeftover::settle(leftovers[0]), c.leftover);
                if (c.leftover == Held::anotherSave) {
                    expected[leftovers[0].filename().string()] = theirs;
                }
            }
            if (!c.songAfter.empty()) expected["song.mp3"] = c.songAfter;
            EXPECT_EQ(testing::filesBelow(dir), expected);
        }
    }
    if (!card) GTEST_SKIP() << "not tried on exFAT: " << whyNoCard;
}

// The new content of a file takes over its owner, group, mode and
// extended attributes; a new file gets the usual ones.
TEST(FileStreams, ReplacedFileHandsOnOwnerGroupModeAndExtendedAttributes) {
    const testing::TempDir dir;
    const fs::path file = dir / "song.mp3";
    testing::writeFile(file, "old");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const std::string note("kept\0 as it was", 15), other = "too";
    if (::setxattr(file.c_str(), "user.tarvik.note", note.data(), note.size(), 0) != 0 ||
        ::setxattr(file.c_str(), "user.tarvik.other", other.data(), other.size(), 0) != 0) {
        GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
    }
    writeFileAtomically(file, "new");
    EXPECT_EQ(testing::readFile(file), "new");
    struct stat facts {};
    ASSERT_EQ(::stat(file.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(facts.st_uid, 1234u);
        EXPECT_EQ(facts.st_gid, 5678u);
    }
    for (const auto& [name, value] :
         {std::pair{"user.tarvik.note", note}, std::pair{"user.tarvik.other", other}}) {
        std::string read(64, '\0');
        const ssize_t length = ::getxattr(file.c_str(), name, read.data(), read.size());
        ASSERT_GE(length, 0) << name;
        EXPECT_EQ(read.substr(0, static_cast<std::size_t>(length)), value) << name;
    }
    writeFileAtomically(dir / "new.json", "{}");
    ASSERT_EQ(::stat((dir / "new.json").c_str(), &facts), 0);
    EXPECT_EQ(facts.st_uid, ::geteuid());
}

}  // namespace
}  // namespace tarvik
