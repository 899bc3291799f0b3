// A run writes only where the user pointed: the destination as given, the
// card root below it, a profile that passed the validator; a destination
// that goes away, links and full cards never send the writes elsewhere.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Files = std::map<std::string, std::string>;
using Texts = std::vector<std::string>;

// The desktop's junk and a user's files beside the card, which nothing may touch.
Files besideTheCard(const fs::path& parent) {
    const Files files = {{"Documents/._letter.txt", "fork"}, {"Photos/._beach.jpg", "fork"}};
    for (const auto& [path, content] : files) writeFile(parent / path, content);
    return files;
}

// A tmpfs of `options` on `folder`, taken away again with the object.
struct Tmpfs {
    fs::path folder;
    bool mounted;
    Tmpfs(const fs::path& at, const std::string& options)
        : folder(at), mounted(::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0) {}
    ~Tmpfs() { ::umount2(folder.c_str(), MNT_DETACH); }
};

// An empty root here stands for an absolute one into the user's files.
TEST(RunDestination, ProfileWithProblemsEndsTheRunBeforeAnythingIsWritten) {
    for (const auto& [root, reason] : std::vector<std::pair<std::string, std::string>>{
             {"..", "files.root: 「.」や「..」はフォルダ名にできません"},
             {"", "files.root: フォルダ名に使えない文字が入っています"}}) {
        for (const bool withPlan : {true, false}) {
            TempDir temp;
            const Files before = besideTheCard(temp.path());
            fs::create_directory(temp / "card");
            ConversionRunner runner = runnerFor(temp / "card");
            runner.profile.files.root = root.empty() ? (temp / "Photos").string() : root;
            const Texts told = trace(
                runToTheEnd(runner, withPlan ? std::optional(separateAlbums(3)) : std::nullopt));
            ASSERT_EQ(told.size(), 2U) << root << withPlan;
            EXPECT_TRUE(told[0].starts_with("failed /nonexistent/music: ")) << told[0];
            EXPECT_NE(told[0].find(reason), std::string::npos) << told[0];
            EXPECT_EQ(told[1], "done 0 skipped 0 failed 1");
            EXPECT_EQ(filesBelow(temp.path()), before) << root << withPlan;
        }
    }
}

TEST(RunDestination, NFDNamedDestinationAndNFDFoldersOnItAreUsedAsTheyAre) {
    TempDir temp;
    const std::string card = "SD \u304F\u3099\u308B\u307E";  // くるま with a separate dakuten
    const std::string album = card + "/MUSIC/Cafe\u0301/";
    writeFile(temp / album / "1 t1.mp3", "written by another computer");
    writeFile(temp / card / "MUSIC" / "._junk", "fork");
    const auto events = runToTheEnd(runnerFor(temp / card), planOf({{"Caf\u00E9", 2}}));
    EXPECT_EQ(describe(events.back()), "done 1 skipped 1 failed 0");
    EXPECT_EQ(summaryOf(events).placed.size(), 2U);
    EXPECT_EQ(filesBelow(temp.path()), (Files{{album + "1 t1.mp3", "written by another computer"},
                                              {album + "2 t2.mp3", "converted t2"}}));
}

// The card goes before the run, when the room for track 3 is asked for (just
// before it starts) or while track 3 converts: once it is gone nothing more
// starts, nothing lands in the empty mount folder or a folder made anew, and
// the run ends as a stopped one, so the carry-over of earlier cards stays.
TEST(RunDestination, DestinationThatGoesAwayStopsTheRunAndNothingIsWrittenElsewhere) {
    enum Card { folder, tmpfs, exfat };
    using Case = std::pair<Card, std::size_t>;  // and the tracks started before it went
    for (const auto& [kind, started] : {Case{folder, 0}, Case{folder, 2}, Case{folder, 3},
                                        Case{tmpfs, 2}, Case{tmpfs, 3}, Case{exfat, 3}}) {
        const std::string label = std::to_string(kind) + "/" + std::to_string(started);
        TempDir temp;
        fs::create_directory(temp / "card");
        std::string whyNot;
        const auto image = kind == exfat ? CardImage::make(16 << 20, whyNot) : nullptr;
        if (kind == exfat && !image) GTEST_SKIP() << "no real exFAT card: " << whyNot;
        const fs::path card = image ? image->root() : temp / "card";
        const std::optional<Tmpfs> mounted =
            kind == tmpfs ? std::optional<Tmpfs>(std::in_place, card, "size=1m") : std::nullopt;
        if (mounted && !mounted->mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
        const auto takeAway = [&] {
            if (image) return image->pull();
            if (kind == tmpfs) return void(::umount2(card.c_str(), MNT_DETACH));
            fs::remove_all(card);
        };
        ConversionRunner runner = runnerFor(card);
        runner.options.freeSpace = [&, asked = std::make_shared<std::size_t>(0)](const fs::path&) {
            if (++*asked == 3 && started == 2) takeAway();
            return std::optional<std::int64_t>();
        };
        ScriptedConverter converter;
        converter.onStart([&](const Converter::Job& job) {
            if (started == 3 && job.source.filename() == "3.flac") takeAway();
        });
        if (started == 0) takeAway();
        const Texts told = trace(runToTheEnd(runner, separateAlbums(5), converter));

        Texts failures;
        std::ranges::copy_if(told, std::back_inserter(failures),
                             [](const std::string& t) { return t.starts_with("failed"); });
        const std::string lost(ConversionRunner::destinationLostMessage);
        EXPECT_EQ(failures, Texts{"failed " + card.string() + ": " + lost}) << label;
        EXPECT_EQ(converter.started().size(), started) << label;
        EXPECT_EQ(told.back(), "done " + std::to_string(std::min<std::size_t>(started, 2)) +
                                   " skipped 0 failed 1 stopped")
            << label;
        EXPECT_EQ(filesBelow(temp.path()), Files{}) << label;
        EXPECT_EQ(fs::exists(card), kind != folder) << label;
        EXPECT_TRUE(kind == folder || fs::is_empty(card)) << label;
    }
}

TEST(RunDestination, LinksInsideTheDestinationAreNeitherFollowedNorSwept) {
    TempDir temp;
    const Files outside = besideTheCard(temp / "outside");
    fs::create_directories(temp / "card/MUSIC");
    fs::create_directory_symlink(temp / "outside", temp / "card/MUSIC/Album 1");
    fs::create_directory_symlink(temp / "outside/Documents", temp / "card/MUSIC/Docs");
    const auto events = runToTheEnd(runnerFor(temp / "card"), separateAlbums(2));
    EXPECT_EQ(describe(events.back()), "done 1 skipped 0 failed 1");  // the track through the link
    EXPECT_EQ(filesBelow(temp / "outside"), outside);

    // A card root that is itself a link is not swept either.
    fs::remove_all(temp / "card/MUSIC");
    fs::create_directory_symlink(temp / "outside/Photos", temp / "card/MUSIC");
    runToTheEnd(runnerFor(temp / "card"), separateAlbums(1));
    EXPECT_EQ(filesBelow(temp / "outside"), outside);

    // Album B's first track is written; while its second finds the card full,
    // the album's folder is swapped for a link to a folder of the user's:
    // taking back the partial album deletes nothing through it.
    fs::remove(temp / "card/MUSIC");
    ScriptedConverter converter;
    converter.script("3.flac", {ScriptedConverter::Ending::noSpace});
    converter.onStart([&](const Converter::Job& job) {
        if (job.source.filename() != "3.flac") return;
        fs::rename(temp / "card/MUSIC/B", temp / "mine");
        fs::create_directory_symlink(temp / "mine", temp / "card/MUSIC/B");
    });
    EXPECT_EQ(trace(runToTheEnd(runnerFor(temp / "card"), planOf({{"A", 1}, {"B", 2}}), converter))
                  .back(),
              "done 2 skipped 0 failed 0 cardFull");
    EXPECT_EQ(filesBelow(temp / "mine"), (Files{{"2 t2.mp3", "converted t2"}}));
}

// Root, MUSIC, a folder of the user's, then album 1 with its track, album 2
// with its track: 7 inodes leave no room for album 3's folder, 8 none for its
// track, and the folder made for it goes again.
TEST(RunDestination, NoRoomForAFolderIsAFullCardAndLeavesNoEmptyAlbum) {
    for (const int inodes : {7, 8}) {
        TempDir temp;
        fs::create_directory(temp / "card");
        const Tmpfs card(temp / "card", "size=1m,nr_inodes=" + std::to_string(inodes));
        if (!card.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
        fs::create_directories(temp / "card/MUSIC/Mine");
        const auto events = runToTheEnd(runnerFor(temp / "card"),
                                        planOf({{"A1", 1}, {"A2", 1}, {"A3", 1}, {"A4", 1}}));
        EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0 cardFull") << inodes;
        const auto folders = fs::directory_iterator(temp / "card/MUSIC");
        EXPECT_EQ(std::distance(begin(folders), end(folders)), 3) << inodes;
        EXPECT_TRUE(fs::exists(temp / "card/MUSIC/A2/2 t2.mp3")) << inodes;
    }
}

}  // namespace
}  // namespace tarvik
