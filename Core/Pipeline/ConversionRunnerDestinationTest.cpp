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
using E = ConversionEvent;
using namespace testing;
using Files = std::map<std::string, std::string>;

// The desktop's junk and a user's files beside the card, which nothing may touch.
Files besideTheCard(const fs::path& parent) {
    const Files files = {{"Documents/._letter.txt", "fork"}, {"Photos/._beach.jpg", "fork"}};
    for (const auto& [path, content] : files) writeFile(parent / path, content);
    return files;
}

TEST(RunDestination, ProfileWithProblemsEndsTheRunBeforeAnythingIsWritten) {
    // An empty root here stands for an absolute one into the user's files.
    for (const auto& [root, reason] : std::vector<std::pair<std::string, std::string>>{
             {"..", "files.root: 「.」や「..」はフォルダ名にできません"},
             {"", "files.root: フォルダ名に使えない文字が入っています"}}) {
        for (const bool withPlan : {true, false}) {
            TempDir temp;
            const Files before = besideTheCard(temp.path());
            fs::create_directory(temp / "card");
            ConversionRunner runner = runnerFor(temp / "card");
            runner.profile.files.root = root.empty() ? (temp / "Photos").string() : root;
            ScriptedConverter converter;
            const std::vector<std::string> told = trace(runToTheEnd(
                runner, withPlan ? std::optional(separateAlbums(3)) : std::nullopt, converter));
            ASSERT_EQ(told.size(), 2U) << root << withPlan;
            EXPECT_TRUE(told[0].starts_with("failed /nonexistent/music: ")) << told[0];
            EXPECT_NE(told[0].find(reason), std::string::npos) << told[0];
            EXPECT_EQ(told[1], "done 0 skipped 0 failed 1");
            EXPECT_TRUE(converter.started().empty());
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
    const std::vector<E> events = runToTheEnd(runnerFor(temp / card), planOf({{"Caf\u00E9", 2}}));

    EXPECT_EQ(describe(events.back()), "done 1 skipped 1 failed 0");
    EXPECT_EQ(summaryOf(events).placed.size(), 2U);
    EXPECT_EQ(filesBelow(temp.path()), (Files{{album + "1 t1.mp3", "written by another computer"},
                                              {album + "2 t2.mp3", "converted t2"}}));
}

TEST(RunDestination, DestinationThatGoesAwayStopsTheRunAndNothingIsWrittenElsewhere) {
    enum class Card { folder, tmpfs, exfat };
    enum class When { beforeTheRun, beforeTheThirdTrack, duringTheThirdTrack };
    const std::vector<std::tuple<Card, When, std::size_t>> cases = {
        // and the tracks started
        {Card::folder, When::beforeTheRun, 0},        {Card::folder, When::beforeTheThirdTrack, 2},
        {Card::folder, When::duringTheThirdTrack, 3}, {Card::tmpfs, When::beforeTheThirdTrack, 2},
        {Card::tmpfs, When::duringTheThirdTrack, 3},  {Card::exfat, When::duringTheThirdTrack, 3},
    };
    for (const auto& [kind, when, started] : cases) {
        const std::string label = std::to_string(int(kind)) + "/" + std::to_string(int(when));
        TempDir temp;
        fs::path card = temp / "card";
        fs::create_directory(card);
        std::string whyNot;
        std::unique_ptr<CardImage> image;
        if (kind == Card::exfat && !(image = CardImage::make(16 << 20, whyNot))) {
            GTEST_SKIP() << "no real exFAT card: " << whyNot;
        }
        if (image) card = image->root();
        if (kind == Card::tmpfs && ::mount("tmpfs", card.c_str(), "tmpfs", 0, "size=1m") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
        const auto takeAway = [&] {
            if (image) return image->pull();
            if (kind == Card::tmpfs) return void(::umount2(card.c_str(), MNT_DETACH));
            fs::remove_all(card);
        };
        ConversionRunner runner = runnerFor(card);
        ScriptedConverter converter;
        if (when == When::duringTheThirdTrack) {
            converter.onStart([&](const Converter::Job& job) {
                if (job.source.filename() == "3.flac") takeAway();
            });
        }
        if (when == When::beforeTheThirdTrack) {
            // The room is asked for once per track, just before it starts.
            runner.options.freeSpace = [&, asked = std::make_shared<int>(0)](const fs::path&) {
                if (++*asked == 3) takeAway();
                return std::optional<std::int64_t>();
            };
        }
        if (when == When::beforeTheRun) takeAway();
        const std::vector<E> events = runToTheEnd(runner, separateAlbums(5), converter);

        // Once the destination is gone, nothing more starts and the
        // carry-over of earlier cards stays as it was (a stopped run).
        const std::vector<std::string> told = trace(events);
        EXPECT_EQ(std::ranges::count_if(told, [](auto& t) { return t.starts_with("failed"); }), 1);
        EXPECT_NE(
            std::ranges::find(told, "failed " + card.string() + ": " +
                                        std::string(ConversionRunner::destinationLostMessage)),
            told.end())
            << label;
        EXPECT_EQ(converter.started().size(), started) << label;
        EXPECT_EQ(told.back(), "done " + std::to_string(started == 3 ? 2 : started) +
                                   " skipped 0 failed 1 stopped")
            << label;
        // Nothing landed in the empty mount folder or in a folder made anew.
        EXPECT_EQ(filesBelow(temp.path()), Files{}) << label;
        EXPECT_EQ(fs::exists(card), kind != Card::folder) << label;
        EXPECT_TRUE(kind == Card::folder || fs::is_empty(card)) << label;
    }
}

TEST(RunDestination, LinksInsideTheDestinationAreNotFollowed) {
    TempDir temp;
    const Files outside = besideTheCard(temp / "outside");
    fs::create_directories(temp / "card" / "MUSIC");
    fs::create_directory_symlink(temp / "outside", temp / "card" / "MUSIC" / "Album 1");
    fs::create_directory_symlink(temp / "outside" / "Documents", temp / "card" / "MUSIC" / "Docs");
    const std::vector<E> events = runToTheEnd(runnerFor(temp / "card"), separateAlbums(2));
    EXPECT_EQ(filesBelow(temp / "outside"), outside);
    EXPECT_EQ(describe(events.back()), "done 1 skipped 0 failed 1");  // the track through the link

    // A card root that is itself a link is not swept either.
    fs::remove_all(temp / "card" / "MUSIC");
    fs::create_directory_symlink(temp / "outside" / "Photos", temp / "card" / "MUSIC");
    runToTheEnd(runnerFor(temp / "card"), separateAlbums(1));
    EXPECT_EQ(filesBelow(temp / "outside"), outside);
}

TEST(RunDestination, TakingBackAPartialAlbumDeletesNothingThroughALink) {
    // Album B's first track is written; while its second finds the card full,
    // the album's folder is swapped for a link to a folder of the user's.
    TempDir temp;
    fs::create_directory(temp / "card");
    ScriptedConverter converter;
    converter.script("3.flac", {ScriptedConverter::Ending::noSpace});
    converter.onStart([&](const Converter::Job& job) {
        if (job.source.filename() != "3.flac") return;
        fs::rename(temp / "card" / "MUSIC" / "B", temp / "mine");
        fs::create_directory_symlink(temp / "mine", temp / "card" / "MUSIC" / "B");
    });
    const auto events =
        runToTheEnd(runnerFor(temp / "card"), planOf({{"A", 1}, {"B", 2}}), converter);
    EXPECT_TRUE(summaryOf(events).cardFull);
    EXPECT_EQ(filesBelow(temp / "mine"), (Files{{"2 t2.mp3", "converted t2"}}));
}

TEST(RunDestination, NoRoomForAFolderIsAFullCardAndLeavesNoEmptyAlbum) {
    // Root, MUSIC, a folder of the user's, then album 1 with its track, album
    // 2 with its track: 7 leaves no room for album 3's folder, 8 none for its track.
    for (const int inodes : {7, 8}) {
        TempDir temp;
        const fs::path card = temp / "card";
        fs::create_directory(card);
        const std::string options = "size=1m,nr_inodes=" + std::to_string(inodes);
        if (::mount("tmpfs", card.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
        fs::create_directories(card / "MUSIC" / "Mine");
        const std::vector<E> events =
            runToTheEnd(runnerFor(card),
                        planOf({{"Album 1", 1}, {"Album 2", 1}, {"Album 3", 1}, {"Album 4", 1}}));
        EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0 cardFull") << inodes;
        std::set<std::string> folders;
        for (const auto& entry : fs::directory_iterator(card / "MUSIC")) {
            folders.insert(entry.path().filename());
        }
        EXPECT_EQ(folders, (std::set<std::string>{"Album 1", "Album 2", "Mine"})) << inodes;
        ::umount2(card.c_str(), MNT_DETACH);
    }
}

}  // namespace
}  // namespace tarvik
