// The tidy killed at every system call that changes the library, in turn:
// strace stops the applying (or undoing) process with SIGKILL just before
// its n-th call of one name, for each name in turn (strace counts the calls
// of each name apart). After each kill, an undo (or a second apply, then the
// undo of both) must give back every file as it was, leave no stopover name
// and no folder behind and report no failure. The killed process is this
// test program itself, started again in a role chosen by the environment;
// now and then a second one runs beside it on the same library. The same
// again on a disk too full for any tag to be written, on an exFAT card, and
// on songs whose tags other writers left in forms the tidy adds to.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "Core/Convert/TagFields.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Mounting.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyLock.hpp"
#include "Core/Tidy/TidySongTesting.hpp"
#include "Core/Tidy/TidyTesting.hpp"

extern char** environ;

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::foldersBelow;
using Args = std::vector<std::string>;

constexpr const char* roleVariable = "TARVIK_TIDY_CRASH_ROLE";
// The system calls that change the library or the journal.
const std::vector<std::string> changing = {"renameat2", "rename", "unlink",   "unlinkat",  "mkdir",
                                           "rmdir",     "write",  "pwrite64", "ftruncate", "fsync",
                                           "fdatasync", "fchmod", "fchown",   "fsetxattr"};
// A role's exit codes: done, failed, refused while another run went on.
constexpr int succeeded = 0, failedRun = 3, refused = 4;

// The child: "apply PLAN JOURNALS" or "undo JOURNAL", before the tests run.
const bool child = [] {
    const char* role = ::getenv(roleVariable);
    if (role == nullptr) return false;
    const std::string what = role;
    const char* first = ::getenv("TARVIK_TIDY_CRASH_A");
    const char* second = ::getenv("TARVIK_TIDY_CRASH_B");
    try {
        if (what == "apply") {
            TidyApplier{}.apply(TidyPlan::load(first), second, false, {}, {});
        } else {
            TidyApplier{}.undo(first, {}, {});
        }
    } catch (const ConversionError& error) {
        if (error.what() == anotherRunMessage) ::_exit(refused);
        // The undo that ran beside it was quicker and has undone the journal.
        if (what == "undo" && fs::exists(std::string(first) + ".undone")) ::_exit(refused);
        std::fprintf(stderr, "%s: %s\n", what.c_str(), error.what());
        ::_exit(failedRun);
    } catch (...) {
        ::_exit(failedRun);
    }
    ::_exit(succeeded);
}();

bool hasStrace() {
    return ::access("/usr/bin/strace", X_OK) == 0;
}

struct Role {
    std::string name, a, b;
};

void setRole(const Role& role) {
    ::setenv(roleVariable, role.name.c_str(), 1);
    ::setenv("TARVIK_TIDY_CRASH_A", role.a.c_str(), 1);
    ::setenv("TARVIK_TIDY_CRASH_B", role.b.c_str(), 1);
}

// Runs this program in `role` under strace with `options`; its exit code.
int traced(const Role& role, const Args& options) {
    setRole(role);
    Args words = {"/usr/bin/strace", "-qq"};
    words.insert(words.end(), options.begin(), options.end());
    words.push_back(fs::read_symlink("/proc/self/exe").string());
    const testing::ShellResult result = testing::runCommand(words);
    ::unsetenv(roleVariable);
    EXPECT_NE(result.exitCode, failedRun) << role.name << " failed";
    return result.exitCode;
}

// Starts this program in `role`, not traced, and returns at once.
pid_t started(const Role& role) {
    setRole(role);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    char* const words[] = {const_cast<char*>(self.c_str()), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, self.c_str(), nullptr, nullptr, words, environ), 0);
    ::unsetenv(roleVariable);
    return pid;
}

int exitCodeOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The calls of `names` a whole run makes, each as strace shows it (file
// descriptors with their paths), by name in order.
std::map<std::string, std::vector<std::string>> callsOf(const Role& role, const fs::path& log,
                                                        const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& call : names) list += (list.empty() ? "" : ",") + call;
    EXPECT_EQ(traced(role, {"-y", "-o", log.string(), "-e", "trace=" + list}), 0);
    std::map<std::string, std::vector<std::string>> calls;
    std::istringstream lines(testing::readFile(log));
    for (std::string line; std::getline(lines, line);) {
        if (const std::size_t open = line.find('('); open != std::string::npos) {
            calls[line.substr(0, open)].push_back(line);
        }
    }
    return calls;
}

// Whether the call changes a file: the sanitizers probe memory by writing
// it into pipes, and a kill there is a kill before the next real change.
bool touchesAFile(const std::string& call) {
    return call.find("<pipe:") == std::string::npos && !call.starts_with("write(2,");
}

// Kills the role at each call of `names` in turn (`prepare` makes the
// library ready first, `check` judges what the kill left): the calls are
// those of a whole run. Every `besideEvery`-th time another run in `beside`
// starts at the same moment: whichever is first runs, the other refuses at
// once. Returns the number of kills.
int killAtEveryCall(const Role& role, const fs::path& log, const std::function<void()>& prepare,
                    const std::function<void(const std::string&)>& check,
                    const std::optional<Role>& beside = std::nullopt, int besideEvery = 3,
                    const std::vector<std::string>& names = changing) {
    prepare();
    int kills = 0;
    for (const auto& [call, seen] : callsOf(role, log, names)) {
        for (std::size_t n = 1; n <= seen.size(); ++n) {
            if (!touchesAFile(seen[n - 1])) continue;
            prepare();
            const bool two = beside && kills % besideEvery == 0;
            const pid_t other = two ? started(*beside) : -1;
            const int code =
                traced(role, {"-o", "/dev/null", "-e", "trace=" + call, "-e",
                              "inject=" + call + ":signal=KILL:when=" + std::to_string(n)});
            if (two) {
                const int otherCode = exitCodeOf(other);
                EXPECT_TRUE(otherCode == succeeded || otherCode == refused) << otherCode;
            } else {
                EXPECT_NE(code, 0) << "not killed at " << seen[n - 1];
            }
            ++kills;
            check("killed at " + seen[n - 1] + (two ? ", another run beside it" : ""));
            if (::testing::Test::HasFailure()) return kills;
        }
    }
    return kills;
}

void makeSong(const fs::path& file, const std::string& title) {
    fs::create_directories(file.parent_path());
    const testing::ShellResult made = testing::runCommand(
        {"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=duration=0.2", "-metadata",
         "title=" + title, "-metadata", "artist=a band", "-metadata", "album=Night", "-metadata",
         "track=1", file.string()});
    ASSERT_EQ(made.exitCode, 0) << file;
}

std::string audioDigest(const fs::path& file) {
    return testing::runCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-map",
                                "0:a", "-c", "copy", "-f", "md5", "-"})
        .output;
}

// Every name below `root`, hidden ones too, that this program uses for a stopover.
std::vector<std::string> stopovers(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().starts_with(".tarvik-")) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

// Two albums: in one a song is retagged and renamed in letter case, one
// moves to another folder and an M4A is retagged; the other's folder, named
// in NFD, is renamed whole in NFC and letter case, with a song retagged in
// it. On the system's disk, on a small disk that can be filled up, or on an
// exFAT card, which is mounted again after each kill.
struct Library : testing::TempDir {
    enum class Disk { system, small, card };
    const fs::path pristine = *this / "pristine";
    std::unique_ptr<testing::Tmpfs> small;
    std::unique_ptr<testing::CardImage> card;
    const fs::path disk;
    const fs::path music = disk / "m";
    const fs::path journals = *this / "j";
    TidyPlan plan{music.string(), {}, {}};
    std::string pristineAudio;  // of the M4A, once known

    // A small disk or a card is mounted, or why not is said in `whyNot`
    // (then neither is there).
    explicit Library(Disk kind = Disk::system, std::string* whyNot = nullptr)
        : card(kind == Disk::card ? testing::CardImage::make(16 << 20, *whyNot) : nullptr),
          disk(card ? card->root() : *this / "disk") {
        fs::create_directories(disk);
        if (kind == Disk::small) small = testing::Tmpfs::mount(disk, "size=1m", *whyNot);
        makeSongs();
    }

    // Songs whose tags other writers left in forms the tidy adds to or
    // reads past (see TidyUndoWholeTagsTest), one of them also renamed.
    struct OfOtherWriters {};
    explicit Library(OfOtherWriters) : disk(*this / "disk") {
        fs::create_directories(disk);
        const fs::path album = pristine / "a band/Night";
        testing::makeTone(*this / "genre.m4a", {.seconds = 0.2, .metadata = {{"title", "g"}}});
        testing::writeFile(album / "genre.m4a",
                           testing::m4a::withItem(testing::readFile(*this / "genre.m4a"),
                                                  testing::numericGenre(8)));
        testing::makeTone(*this / "bare.m4a", {.seconds = 0.2});
        testing::writeFile(album / "bare.m4a",
                           testing::withoutItemList(testing::readFile(*this / "bare.m4a"), "udta"));
        for (const std::string name : {"cover.mp3", "utf8.mp3"}) {
            testing::makeTone(
                album / name,
                {.seconds = 0.2,
                 .metadata = {{"title", "Caf\u00E9"}, {"artist", "a band"}, {"album", "Night"}},
                 .extraArguments = {"-write_id3v1", "1"}});
        }
        testing::makePicture(*this / "cover.jpg", 8, 8);
        testing::putTextlessTag(album / "cover.mp3", *this / "cover.jpg");
        testing::removeID3v2(album / "utf8.mp3");
        item("a band/Night/genre.m4a", "a band/Night/genre.m4a", false);
        plan.items.back().new_.genre = "Blues";
        plan.items.back().tagsChange = true;
        item("a band/Night/bare.m4a", "a band/Night/bare.m4a", true);
        item("a band/Night/cover.mp3", "a band/Night/Cover.mp3", true);
        item("a band/Night/utf8.mp3", "a band/Night/utf8.mp3", true);
    }

    // A plan item for the song at `source`, moving it to `target` and,
    // where `retitle`, giving it a new title.
    void item(const std::string& source, const std::string& target, bool retitle) {
        // A WAV has no record: it is planned without one, to be moved only.
        const std::optional<TrackMeta> record =
            TidyFileState::currentRecord(pristine / source, nullptr, {});
        ASSERT_EQ(record.has_value(), !source.ends_with(".wav")) << source;
        TidyItem planned;
        planned.source = source;
        planned.target = target;
        planned.old = record.value_or(TrackMeta{});
        planned.new_ = planned.old;
        if (retitle) planned.new_.title += " (Live)";
        planned.status = TidyItem::Status::change;
        planned.tagsChange = retitle;
        planned.pathChange = source != target;
        planned.tagsEditable = record.has_value();
        plan.items.push_back(planned);
    }

    void makeSongs() {
        makeSong(pristine / "a band/Night/song.mp3", "song");
        makeSong(pristine / "a band/Night/two.flac", "two");
        makeSong(pristine / "a band/Night/three.m4a", "three");
        testing::writeFile(pristine / "a band/Night/cover.jpg", "cover");
        makeSong(pristine / "a band/da\u0301y x/four.mp3", "four");
        makeSong(pristine / "a band/da\u0301y x/five.wav", "five");
        item("a band/Night/song.mp3", "a band/Night/Song.mp3", true);    // tags, letter case
        item("a band/Night/two.flac", "Other/Day/02 two.flac", false);   // between folders
        item("a band/Night/three.m4a", "a band/Night/three.m4a", true);  // M4A tags
        // The folder whole, its name from NFD to NFC and letter case.
        item("a band/da\u0301y x/four.mp3", "a band/D\u00E1y X/four.mp3", true);
        item("a band/da\u0301y x/five.wav", "a band/D\u00E1y X/05 five.wav", false);
    }

    // The library as before, planned as it now stands; on a small disk,
    // with the disk full.
    void reset() {
        fs::remove_all(music);
        fs::remove_all(journals);
        fs::remove(disk / "filler");
        fs::copy(pristine, music, fs::copy_options::recursive);
        for (TidyItem& item : plan.items) {
            const auto facts = FileIdentity::at(music / item.source);
            item.size = facts->size;
            item.modified = facts->modified;
        }
        plan.save(*this / "plan.json");
        if (small) fill();
    }

    void fill() const {
        std::ofstream filler(disk / "filler", std::ios::binary | std::ios::app);
        const std::string block(16 << 10, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }

    // The card taken out after a kill and put back: its files get other
    // numbers.
    void mountAgain() const {
        if (card) {
            ASSERT_TRUE(card->unmount() && card->mount());
        }
    }

    // Undoes every journal, newest first, on a disk with room again: nothing
    // fails, each is marked undone (an empty one, of a run killed before it
    // changed anything, goes), and the library is as it was, its folders
    // too (M4A: its tags and audio; TagLib renders it anew).
    void expectRestored(const std::string& when) {
        SCOPED_TRACE(when);
        fs::remove(disk / "filler");
        for (const fs::path& journal : testing::journalsIn(journals)) {
            if (!fs::exists(journal)) continue;  // an empty one, gone with an earlier undo
            const bool empty = fs::file_size(journal) == 0;
            std::vector<TidyEvent> events;
            const TidyResult result = TidyApplier{}.undo(
                journal, [&](const TidyEvent& event) { events.push_back(event); }, {});
            EXPECT_EQ(result.failed, 0) << ::testing::PrintToString(testing::failuresIn(events));
            EXPECT_EQ(fs::exists(journal.string() + ".undone"), !empty) << journal;
        }
        EXPECT_EQ(stopovers(music), std::vector<std::string>{});
        EXPECT_EQ(foldersBelow(music), foldersBelow(pristine));
        auto now = filesBelow(music), before = filesBelow(pristine);
        const std::string m4a = "a band/Night/three.m4a";
        if (before.contains(m4a)) {
            ASSERT_TRUE(now.contains(m4a));
            if (now.at(m4a) != before.at(m4a)) {
                EXPECT_EQ(TagFields::read(music / m4a), TagFields::read(pristine / m4a));
                if (pristineAudio.empty()) pristineAudio = audioDigest(pristine / m4a);
                EXPECT_EQ(audioDigest(music / m4a), pristineAudio);
            }
            now.erase(m4a);
            before.erase(m4a);
        }
        EXPECT_TRUE(now == before) << "not byte for byte";
    }
};

Role applying(const Library& lib) {
    return {"apply", (lib / "plan.json").string(), lib.journals.string()};
}

// After each kill, every other time a second apply runs first and
// finishes the first run; then the undo of every journal. Returns the
// number of kills.
int killTheApplyAtEveryCall(Library& lib, const std::vector<std::string>& names = changing) {
    int checks = 0;
    return killAtEveryCall(
        applying(lib), lib / "calls.txt", [&] { lib.reset(); },
        [&](const std::string& when) {
            lib.mountAgain();
            if (++checks % 2 == 0 && fs::exists(lib.journals)) {
                fs::remove(lib.disk / "filler");
                TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"), lib.journals, false, {}, {});
            }
            if (fs::exists(lib.journals)) lib.expectRestored(when);
        },
        applying(lib), 3, names);
}

// The undo of a whole apply killed at each call; the next undo finishes
// it. Returns the number of kills.
int killTheUndoAtEveryCall(Library& lib, const std::vector<std::string>& names = changing) {
    const fs::path journal = lib.journals / "tidy-0.jsonl";
    const Role undoing{"undo", journal.string(), ""};
    return killAtEveryCall(
        undoing, lib / "calls.txt",
        [&] {
            lib.reset();
            fs::remove(lib.disk / "filler");
            const TidyResult applied =
                TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"), lib.journals, false, {}, {});
            const auto items = static_cast<std::int64_t>(lib.plan.items.size());
            EXPECT_EQ(applied, (TidyResult{items, 0, applied.journal}));
            fs::rename(*applied.journal, journal);
            if (lib.small) lib.fill();
        },
        [&](const std::string& when) {
            lib.mountAgain();
            if (fs::exists(journal)) lib.expectRestored(when);
        },
        undoing, 3, names);
}

TEST(TidyCrash, KilledAtEveryChangingCallTheApplyIsUndoneWhole) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib;
    EXPECT_GT(killTheApplyAtEveryCall(lib), 20);
}

TEST(TidyCrash, KilledAtEveryChangingCallTheUndoIsFinishedByTheNextUndo) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib;
    EXPECT_GT(killTheUndoAtEveryCall(lib), 10);
}

// Tags of other writers that the tidy adds to (an M4A's list and what
// holds it, frames carried from an ID3v1 trailer) or holds in two items
// (a numeric genre): killed where a song's content or the journal changes,
// apply and undo still lose nothing and leave nothing added.
TEST(TidyCrash, KilledWhereSongsOfOtherWritersChangeTheirTagsComeBackWhole) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib(Library::OfOtherWriters{});
    // Where a song's content takes its place, a journal line is written, a
    // leftover goes: a kill at the calls around them falls between the same
    // two of these.
    const std::vector<std::string> names = {"renameat2", "rename", "write", "unlink"};
    EXPECT_GT(killTheApplyAtEveryCall(lib, names), 20);
    EXPECT_GT(killTheUndoAtEveryCall(lib, names), 10);
}

// No tag can be written on a full disk: apply and undo fail those items,
// move the rest, and a kill at any call still loses nothing.
TEST(TidyCrash, KilledAtEveryChangingCallOnAFullDiskNothingIsLost) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    std::string whyNot;
    Library lib(Library::Disk::small, &whyNot);
    if (!lib.small) GTEST_SKIP() << whyNot;
    lib.reset();
    const TidyResult full =
        TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"), lib.journals, false, {}, {});
    EXPECT_EQ(full.failed, 3);  // every tag
    EXPECT_GT(killTheApplyAtEveryCall(lib), 10);
    EXPECT_GT(killTheUndoAtEveryCall(lib), 10);
}

// On exFAT no two names are exchanged in one step, and the card mounted
// again after the kill numbers its files anew: a kill at any call still
// loses nothing and leaves nothing to be shown under a name of its own.
TEST(TidyCrash, KilledAtEveryChangingCallOnACardMountedAgainNothingIsLost) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    std::string whyNot;
    Library lib(Library::Disk::card, &whyNot);
    if (!lib.card) GTEST_SKIP() << whyNot;
    EXPECT_GT(killTheApplyAtEveryCall(lib), 20);
    EXPECT_GT(killTheUndoAtEveryCall(lib), 10);
}

}  // namespace
}  // namespace tarvik
