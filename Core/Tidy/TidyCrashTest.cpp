// The tidy killed at every system call that changes the library, in turn:
// strace stops the applying (or undoing) process with SIGKILL just before
// its n-th such call. After each kill, an undo (or a second apply, then the
// undo of both) must give back every file as it was, leave no stopover name
// behind and report no failure. The killed process is this test program
// itself, started again in a role chosen by the environment.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

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
constexpr const char* changing =
    "rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,rmdir,write,pwrite64,ftruncate,"
    "fsync,fdatasync,fchmod,fchmodat,chmod";

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

// Runs this program in `role` under strace, killed with SIGKILL just before
// its n-th changing call. Whether it was killed: a run that ends first has
// no n-th call.
bool killedAt(const std::string& role, const std::string& a, const std::string& b, int n) {
    ::setenv(roleVariable, role.c_str(), 1);
    ::setenv("TARVIK_TIDY_CRASH_A", a.c_str(), 1);
    ::setenv("TARVIK_TIDY_CRASH_B", b.c_str(), 1);
    const testing::ShellResult result = testing::runCommand(
        {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e", std::string("trace=") + changing, "-e",
         std::string("inject=") + changing + ":signal=KILL:when=" + std::to_string(n),
         fs::read_symlink("/proc/self/exe").string()});
    ::unsetenv(roleVariable);
    EXPECT_NE(result.exitCode, 3) << role << " failed";
    return result.exitCode != 0;
}

// Bounds the runs: the few items make far fewer calls.
constexpr int mostCalls = 150;

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
            EXPECT_EQ(audioDigest(music / m4a), audioDigest(pristine / m4a));
        }
        now.erase(m4a);
        before.erase(m4a);
        EXPECT_TRUE(now == before) << "not byte for byte";
    }
};

TEST(TidyCrash, KilledAtEveryChangingCallTheApplyIsUndoneWhole) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib;
    int n = 1;
    for (; n <= mostCalls; ++n) {
        lib.reset();
        if (!killedAt("apply", (lib / "plan.json").string(), lib.journals.string(), n)) break;
        // Every other time a second apply runs first and finishes the first run.
        if (n % 2 == 0 && fs::exists(lib.journals)) {
            TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"), lib.journals, false, {}, {});
        }
        if (fs::exists(lib.journals)) lib.expectRestored("apply killed at call " + std::to_string(n));
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(n, 20);
    EXPECT_LE(n, mostCalls);
    lib.expectRestored("without a kill");
}

TEST(TidyCrash, KilledAtEveryChangingCallTheUndoIsFinishedByTheNextUndo) {
    if (!hasStrace()) GTEST_SKIP() << "strace is not installed";
    Library lib;
    int n = 1;
    for (; n <= mostCalls; ++n) {
        lib.reset();
        const TidyResult applied =
            TidyApplier{}.apply(TidyPlan::load(lib / "plan.json"), lib.journals, false, {}, {});
        ASSERT_EQ(applied, (TidyResult{3, 0, applied.journal}));
        if (!killedAt("undo", applied.journal->string(), "", n)) break;
        if (fs::exists(*applied.journal)) {
            lib.expectRestored("undo killed at call " + std::to_string(n));
        }
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(n, 5);
    EXPECT_LE(n, mostCalls);
    EXPECT_TRUE(fs::exists(lib.journals)) << "the undo that ran to its end";
}

}  // namespace
}  // namespace tarvik
