// A plan applied a second time: the second run finds everything done and
// changes nothing, its journal claims nothing, and undoing both runs, newest
// first, gives the library back byte for byte, names included: a folder
// named in NFD comes back in NFD, not in the NFC the plan spelled it in. A
// run killed after it renamed a folder whole and the run that finished it
// are undone in either order.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "Core/Platform/Text.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::moving;
using testing::retitling;

// The whole tree below a folder: every name as bytes, with its content.
struct Tree {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    bool operator==(const Tree&) const = default;
};

Tree treeOf(const fs::path& root) {
    return {testing::filesBelow(root), testing::foldersBelow(root)};
}

// Names with their bytes beyond ASCII shown, so that NFD and NFC differ.
std::string shown(const std::string& name) {
    std::string out;
    for (const char byte : name) {
        static constexpr char hex[] = "0123456789abcdef";
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80) {
            out += byte;
        } else {
            out += {'\\', 'x', hex[value >> 4], hex[value & 15]};
        }
    }
    return out;
}

void PrintTo(const Tree& tree, std::ostream* out) {
    for (const std::string& folder : tree.folders) *out << "\n  " << shown(folder) << "/";
    for (const auto& [file, content] : tree.files) {
        *out << "\n  " << shown(file) << " (" << content.size() << " bytes)";
    }
}

struct Library : testing::TempDir {
    const fs::path music = *this / "m", journals = *this / "j";
    std::vector<TidyEvent> events;

    void song(const std::string& relative, const std::string& title) {
        fs::create_directories((music / relative).parent_path());
        testing::makeTone(music / relative,
                          {.seconds = 0.2, .metadata = {{"title", title}, {"artist", "a band"}}});
    }
    TidyResult apply(const TidyPlan& plan) {
        return TidyApplier{}.apply(plan, journals, false, record(), {});
    }
    TidyResult undo(const fs::path& journal) { return TidyApplier{}.undo(journal, record(), {}); }
    TidyApplier::Progress record() {
        return [this](const TidyEvent& event) { events.push_back(event); };
    }
    std::string failures() const { return ::testing::PrintToString(testing::failuresIn(events)); }
};

// The lines of a journal after its header.
std::size_t entriesIn(const fs::path& journal) {
    const std::string text = testing::readFile(journal);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) - 1;
}

TEST(TidyReapply, PlanAppliedTwiceChangesNothingTheSecondTimeAndBothUndosGiveEveryByteBack) {
    const std::string nfd = "cafe\u0301", nfc = "Caf\u00E9";
    struct Case {
        const char* name;
        std::string folder, renamed;  // a folder renamed whole
    };
    const std::vector<Case> cases = {
        {"letter case", "night", "Night"},
        {"normal form and letter case", nfd, nfc},
        {"normal form alone", nfd, "caf\u00E9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Library lib;
        const std::string from = "a band/" + c.folder + "/", to = "a band/" + c.renamed + "/";
        lib.song(from + "01 a.mp3", "a");
        lib.song(from + "02 b.flac", "b");
        testing::writeFile(lib.music / (from + "cover.jpg"), "cover");
        lib.song("loose/" + nfd + ".mp3", "c");
        lib.song(nfd + " live/04 d.wav", "d");  // its folder goes, and comes back
        const TidyPlan plan{
            lib.music.string(),
            {},
            {retitling(lib.music, from + "01 a.mp3", to + "01 A.mp3", "A"),
             moving(from + "02 b.flac", to + "02 b.flac", lib.music),
             retitling(lib.music, "loose/" + nfd + ".mp3", "loose/" + nfc + ".mp3", "C"),
             moving(nfd + " live/04 d.wav", "Other/04 d.wav", lib.music)}};
        const Tree before = treeOf(lib.music);

        const TidyResult first = lib.apply(plan);
        ASSERT_EQ(first, (TidyResult{4, 0, first.journal})) << lib.failures();
        const Tree applied = treeOf(lib.music);
        // A name in another normal form alone is the same folder: it stays.
        EXPECT_TRUE(applied.folders.contains("a band/" + c.renamed) ||
                    text::equivalent(c.folder, c.renamed))
            << ::testing::PrintToString(applied);

        const TidyResult second = lib.apply(plan);
        ASSERT_TRUE(second.journal && second.journal != first.journal);
        EXPECT_EQ(treeOf(lib.music), applied);
        EXPECT_EQ(entriesIn(*second.journal), 0U) << testing::readFile(*second.journal);

        lib.events.clear();
        EXPECT_EQ(lib.undo(*second.journal).failed, 0) << lib.failures();
        EXPECT_EQ(treeOf(lib.music), applied);
        EXPECT_EQ(lib.undo(*first.journal).failed, 0) << lib.failures();
        EXPECT_EQ(treeOf(lib.music), before);
    }
}

// The first run is killed after it renamed the album's folder whole, before
// any track; the second finds the folder under its new name and does the
// tracks. Its journal names them there, so the undo that comes second,
// whichever it is, finds them under the name the other one gave back.
TEST(TidyReapply, RunFinishedAfterACrashAndTheCrashedRunAreUndoneInEitherOrder) {
    for (const bool newestFirst : {true, false}) {
        SCOPED_TRACE(newestFirst ? "newest first" : "oldest first");
        Library lib;
        const std::string from = "a band/cafe\u0301/", to = "a band/Caf\u00E9/";
        lib.song(from + "01 a.mp3", "a");
        lib.song(from + "02 b.wav", "b");
        const TidyPlan plan{lib.music.string(),
                            {},
                            {retitling(lib.music, from + "01 a.mp3", to + "01 A.mp3", "A"),
                             moving(from + "02 b.wav", to + "02 b.wav", lib.music)}};
        const Tree before = treeOf(lib.music);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TidyApplier{}.apply(plan, lib.journals, false, [](const TidyEvent&) { ::_exit(9); },
                                {});
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
        const std::vector<fs::path> crashed = testing::journalsIn(lib.journals);
        ASSERT_EQ(crashed.size(), 1U);
        ASSERT_TRUE(treeOf(lib.music).folders.contains("a band/Caf\u00E9"));

        const TidyResult finished = lib.apply(plan);
        ASSERT_EQ(finished, (TidyResult{2, 0, finished.journal})) << lib.failures();
        std::vector<fs::path> order = {*finished.journal, crashed.front()};
        if (!newestFirst) std::swap(order.front(), order.back());
        for (const fs::path& journal : order) {
            EXPECT_EQ(lib.undo(journal).failed, 0) << journal.filename() << lib.failures();
        }
        EXPECT_EQ(treeOf(lib.music), before);
    }
}

}  // namespace
}  // namespace tarvik
