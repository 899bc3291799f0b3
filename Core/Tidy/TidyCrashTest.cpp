// The tidy killed at every system call that changes the library, in turn:
// strace stops the applying (or undoing) process with SIGKILL just before
// its n-th call of one name, for each name in turn (strace counts the calls
// of each name apart). After each kill, an undo (or a second apply, then the
// undo of both) must give back every file as it was, leave no stopover name
// behind and report no failure. The killed process is this test program
// itself, started again in a role chosen by the environment.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

#include "Core/Convert/TagFields.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using Args = std::vector<std::string>;

constexpr const char* roleVariable = "TARVIK_TIDY_CRASH_ROLE";
// The system calls that change the library or the journal.
const std::vector<std::string> changing = {"renameat2", "rename", "unlink", "unlinkat",
                                           "mkdir",     "rmdir",  "write",  "pwrite64",
                                           "ftruncate", "fsync",  "fdatasync", "chmod"};

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
    } catch (...) {
        ::_exit(3);
    }
    ::_exit(0);
}();

bool hasStrace() {
    return ::access("/usr/bin/strace", X_OK) == 0;
}

struct Role {
    std::string name, a, b;
};

// Runs this program in `role` under strace with `options`; its exit code.
int traced(const Role& role, const Args& options) {
    ::setenv(roleVariable, role.name.c_str(), 1);
    ::setenv("TARVIK_TIDY_CRASH_A", role.a.c_str(), 1);
    ::setenv("TARVIK_TIDY_CRASH_B", role.b.c_str(), 1);
    Args words = {"/usr/bin/strace", "-qq"};
    words.insert(words.end(), options.begin(), options.end());
    words.push_back(fs::read_symlink("/proc/self/exe").string());
    const testing::ShellResult result = testing::runCommand(words);
    ::unsetenv(roleVariable);
    EXPECT_NE(result.exitCode, 3) << role.name << " failed";
    return result.exitCode;
}

// The changing calls a whole run makes, each as strace shows it (file
// descriptors with their paths), by name in order.
std::map<std::string, std::vector<std::string>> callsOf(const Role& role, const fs::path& log) {
    std::string names;
    for (const std::string& call : changing) names += (names.empty() ? "" : ",") + call;
    EXPECT_EQ(traced(role, {"-y", "-o", log.string(), "-e", "trace=" + names}), 0);
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

// Kills the role at each changing call in turn (`prepare` makes the library
// ready first, `check` judges what the kill left): the calls are those of a
// whole run. Returns the number of kills.
int killAtEveryCall(const Role& role, const fs::path& log, const std::function<void()>& prepare,
                    const std::function<void(const std::string&)>& check) {
    prepare();
    int kills = 0;
    for (const auto& [call, seen] : callsOf(role, log)) {
        for (std::size_t n = 1; n <= seen.size(); ++n) {
            if (!touchesAFile(seen[n - 1])) continue;
            prepare();
            const int code = traced(
                role, {"-o", "/dev/null", "-e", "trace=" + call, "-e",
                       "inject=" + call + ":signal=KILL:when=" + std::to_string(n)});
            EXPECT_NE(code, 0) << "not killed at " << seen[n - 1];
            ++kills;
            check("killed at " + seen[n - 1]);
            if (::testing::Test::HasFailure()) return kills;
        }
    }
    return kills;
}

void makeSong(const fs::path& file, const std::string& title) {
    fs::create_directories(file.parent_path());
    const testing::ShellResult made = testing::runCommand(
        {"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=duration=0.2",
         "-metadata", "title=" + title, "-metadata", "artist=a band", "-metadata",
         "album=Night", "-metadata", "track=1", file.string()});
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

struct Library : testing::TempDir {
    const fs::path pristine = *this / "pristine";
    const fs::path music = *this / "m";
    const fs::path journals = *this / "j";
    TidyPlan plan{music.string(), {}, {}};
    std::string pristineAudio;  // of the M4A, once known

    Library() {
        makeSong(pristine / "a band/Night/song.mp3", "song");
        makeSong(pristine / "a band/Night/two.flac", "two");
        makeSong(pristine / "a band/Night/three.m4a", "three");
        testing::writeFile(pristine / "a band/Night/cover.jpg", "cover");
        const auto item = [&](const std::string& source, const std::string& target,
                              bool retitle) {
            TidyItem planned;
            planned.source = source;
            planned.target = target;
            planned.old = *TidyFileState::currentRecord(pristine / source, nullptr, {});
            planned.new_ = planned.old;
            if (retitle) planned.new_.title += " (Live)";
            planned.status = TidyItem::Status::change;
            planned.tagsChange = retitle;
            planned.pathChange = source != target;
            planned.tagsEditable = true;
            plan.items.push_back(planned);
        };
        item("a band/Night/song.mp3", "a band/Night/Song.mp3", true);  // tags, letter case
        item("a band/Night/two.flac", "Other/Day/02 two.flac", false);  // between folders
        item("a band/Night/three.m4a", "a band/Night/three.m4a", true);  // M4A tags
    }

    // The library as before, planned as it now stands.
    void reset() {
        fs::remove_all(music);
        fs::remove_all(journals);
        fs::copy(pristine, music, fs::copy_options::recursive);
        for (TidyItem& item : plan.items) {
            const auto facts = TidyFileState::factsOf(music / item.source);
            item.size = facts->size;
            item.modified = facts->modified;
        }
        plan.save(*this / "plan.json");
    }

    std::vector<fs::path> journalsNewestFirst() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(journals)) {
            if (entry.path().extension() == ".jsonl") found.push_back(entry.path());
        }
        std::sort(found.rbegin(), found.rend());
        return found;
    }

    // Undoes every journal, newest first: nothing fails, each is marked undone,
    // and the library is as it was (M4A: its tags; TagLib renders it anew).
    void expectRestored(const std::string& when) {
        SCOPED_TRACE(when);
        for (const fs::path& journal : journalsNewestFirst()) {
            if (fs::file_size(journal) == 0) continue;  // killed before its header
            std::vector<std::string> failures;
            const TidyResult result = TidyApplier{}.undo(
                journal,
                [&](const TidyEvent& event) {
                    if (const auto* failed = std::get_if<TidyEvent::Failed>(&event.value)) {
                        failures.push_back(failed->source + ": " + failed->reason);
                    }
                },
                {});
            EXPECT_EQ(result.failed, 0) << ::testing::PrintToString(failures);
            EXPECT_TRUE(fs::exists(journal.string() + ".undone")) << journal;
        }
        EXPECT_EQ(stopovers(music), std::vector<std::string>{});
        auto now = filesBelow(music), before = filesBelow(pristine);
        const std::string m4a = "a band/Night/three.m4a";
        ASSERT_TRUE(now.contains(m4a));
        if (now.at(m4a) != before.at(m4a)) {
            EXPECT_EQ(TagFields::read(music / m4a), TagFields::read(pristine / m4a));
            if (pristineAudio.empty()) pristineAudio = audioDigest(pristine / m4a);
            EXPECT_EQ(audioDigest(music / m4a), pristineAudio);
        }
        now.erase(m4a);
        before.erase(m4a);
        EXPECT_TRUE(now == before) << "not byte for byte";
    }
};

TEST(TidyCrash, KilledAtEveryChangingCallTheApplyIsUndoneWhole) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib;
    int kills = 0;
    kills = killAtEveryCall(
        {"apply", (lib / "plan.json").string(), lib.journals.string()}, lib / "calls.txt",
        [&] { lib.reset(); },
        [&](const std::string& when) {
            // Every other time a second apply runs first and finishes the first run.
            if (++kills % 2 == 0 && fs::exists(lib.journals)) {
                TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"), lib.journals, false, {},
                                    {});
            }
            if (fs::exists(lib.journals)) lib.expectRestored(when);
        });
    EXPECT_GT(kills, 20);
}

TEST(TidyCrash, KilledAtEveryChangingCallTheUndoIsFinishedByTheNextUndo) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib;
    const fs::path journal = lib.journals / "tidy-0.jsonl";
    const int kills = killAtEveryCall(
        {"undo", journal.string(), ""}, lib / "calls.txt",
        [&] {
            lib.reset();
            const TidyResult applied = TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"),
                                                           lib.journals, false, {}, {});
            EXPECT_EQ(applied, (TidyResult{3, 0, applied.journal}));
            fs::rename(*applied.journal, journal);
        },
        [&](const std::string& when) {
            if (fs::exists(journal)) lib.expectRestored(when);
        });
    EXPECT_GT(kills, 10);
}

}  // namespace
}  // namespace tarvik
