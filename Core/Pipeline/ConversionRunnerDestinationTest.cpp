// A run writes only where the user pointed: the destination as given, the
// card root below it, a profile that passed the validator; a destination
// that goes away, links and full cards never send the writes elsewhere.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using testing::drain;
using testing::filesBelow;
using testing::planOf;
using testing::ScriptedConverter;
using testing::separateAlbums;
using testing::TempDir;
using testing::writeFile;
using Files = std::map<std::string, std::string>;

const std::string lostReason =
    "書き出し先が見つかりません。SD カードかフォルダを選び直してください。";

ConversionRunner runnerFor(const fs::path& card) {
    ConversionRunner runner{"/nonexistent/ffmpeg",
                            DeviceProfile("test", "Test"),
                            "/nonexistent/music",
                            card,
                            {},
                            RunOptions{},
                            nullptr};
    runner.options.jobs = 1;
    runner.options.loudnessTarget = std::nullopt;
    runner.options.freeSpace = [](const fs::path&) { return std::optional<std::int64_t>(); };
    return runner;
}

std::vector<E> runToTheEnd(const ConversionRunner& runner, std::optional<ConversionPlan> plan,
                           const ScriptedConverter& converter = {}) {
    ConversionRunner::Handle handle = runner.start(std::move(plan), converter.function());
    return drain(handle);
}

const E::Summary& summaryOf(const std::vector<E>& events) {
    return *events.back().as<E::Summary>();
}

std::vector<E::Track::Failed> failuresOf(const std::vector<E>& events) {
    std::vector<E::Track::Failed> failures;
    for (const E& event : events) {
        if (const auto* failed = event.trackAs<E::Track::Failed>()) failures.push_back(*failed);
    }
    return failures;
}

// The desktop's junk and a user's files beside the card, which nothing may touch.
Files besideTheCard(const fs::path& parent) {
    const Files files = {{"Documents/._letter.txt", "fork"},
                         {"Documents/.DS_Store", "desktop"},
                         {"Photos/._beach.jpg", "fork"}};
    for (const auto& [path, content] : files) writeFile(parent / path, content);
    return files;
}

TEST(RunDestination, ProfileWithProblemsEndsTheRunBeforeAnythingIsWritten) {
    struct Case {
        std::string name;
        std::function<void(DeviceProfile&, const fs::path&)> spoil;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"top folder ..", [](DeviceProfile& p, const fs::path&) { p.files.root = ".."; },
         "files.root: 「.」や「..」はフォルダ名にできません"},
        {"absolute top folder",
         [](DeviceProfile& p, const fs::path& temp) { p.files.root = (temp / "Photos").string(); },
         "files.root: フォルダ名に使えない文字が入っています"},
        {"bit rate beyond any range",
         [](DeviceProfile& p, const fs::path&) {
             p.audio.bitrate = std::numeric_limits<std::int64_t>::max();
         },
         "audio.bitrate: 96/128/160/192/256/320 kbps から選んでください"},
        {"names of no length", [](DeviceProfile& p, const fs::path&) { p.files.nameMax = 0; },
         "files.nameMax: 8〜200 文字にしてください"},
    };
    for (const Case& test : cases) {
        for (const bool withPlan : {true, false}) {
            TempDir temp;
            const Files before = besideTheCard(temp.path());
            fs::create_directory(temp / "card");
            ConversionRunner runner = runnerFor(temp / "card");
            test.spoil(runner.profile, temp.path());
            ScriptedConverter converter;
            const std::vector<E> events = runToTheEnd(
                runner, withPlan ? std::optional(separateAlbums(3)) : std::nullopt, converter);

            const std::string label = test.name + (withPlan ? ", with a plan" : ", planning");
            ASSERT_EQ(events.size(), 2U) << label;
            const auto* failed = events[0].trackAs<E::Track::Failed>();
            ASSERT_NE(failed, nullptr) << label;
            EXPECT_EQ(failed->source, "/nonexistent/music") << label;
            EXPECT_NE(failed->reason.find(test.reason), std::string::npos)
                << label << ": " << failed->reason;
            const E::Summary& summary = summaryOf(events);
            EXPECT_EQ(summary.progress.failed, 1) << label;
            EXPECT_FALSE(summary.stopped || summary.cardFull) << label;
            EXPECT_TRUE(converter.started().empty()) << label;
            EXPECT_EQ(filesBelow(temp.path()), before) << label;
        }
    }
}

TEST(RunDestination, NFDNamedDestinationReceivesTheFiles) {
    TempDir temp;
    const std::string nfd = "SD \u304F\u3099\u308B\u307E";  // くるま with a separate dakuten
    writeFile(temp / nfd / "MUSIC" / "._junk", "fork");
    const ConversionPlan plan = separateAlbums(2);
    const std::vector<E> events = runToTheEnd(runnerFor(temp / nfd), plan);

    EXPECT_EQ(summaryOf(events).progress.done, 2);
    EXPECT_EQ(filesBelow(temp.path()),
              (Files{{nfd + "/" + plan.items[0].relativePath, "converted t1"},
                     {nfd + "/" + plan.items[1].relativePath, "converted t2"}}));
}

TEST(RunDestination, NFDFoldersAlreadyOnTheCardAreReused) {
    TempDir card;
    const std::string nfc = "Caf\u00E9", nfd = "Cafe\u0301";
    const ConversionPlan plan = planOf({{nfc, 3}});  // MUSIC/Café/<n> t<n>.mp3
    writeFile(card / "MUSIC" / nfd / "1 t1.mp3", "written by another computer");
    ScriptedConverter converter;
    const std::vector<E> events = runToTheEnd(runnerFor(card.path()), plan, converter);

    const E::Summary& summary = summaryOf(events);
    EXPECT_EQ(summary.progress.skipped, 1);
    EXPECT_EQ(summary.progress.done, 2);
    EXPECT_EQ(summary.placed.size(), 3U);
    EXPECT_EQ(filesBelow(card.path()),
              (Files{{"MUSIC/" + nfd + "/1 t1.mp3", "written by another computer"},
                     {"MUSIC/" + nfd + "/2 t2.mp3", "converted t2"},
                     {"MUSIC/" + nfd + "/3 t3.mp3", "converted t3"}}));
}

TEST(RunDestination, DestinationThatGoesAwayStopsTheRunAndNothingIsWrittenElsewhere) {
    enum class When { beforeTheRun, beforeTheThirdTrack, duringTheThirdTrack };
    struct Case {
        std::string name;
        bool mounted;  // the destination is a volume of its own
        When when;
        std::vector<std::string> started;
    };
    const std::vector<std::string> three = {"1.flac", "2.flac", "3.flac"};
    const std::vector<Case> cases = {
        {"card unmounted during the third track", true, When::duringTheThirdTrack, three},
        {"card unmounted before the third track",
         true,
         When::beforeTheThirdTrack,
         {"1.flac", "2.flac"}},
        {"folder deleted during the third track", false, When::duringTheThirdTrack, three},
        {"folder deleted before the third track",
         false,
         When::beforeTheThirdTrack,
         {"1.flac", "2.flac"}},
        {"folder missing from the start", false, When::beforeTheRun, {}},
    };
    for (const Case& test : cases) {
        TempDir temp;
        const fs::path card = temp / "card";
        fs::create_directory(card);
        if (test.mounted && ::mount("tmpfs", card.c_str(), "tmpfs", 0, "size=1m") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
        const auto takeAway = [&] {
            if (test.mounted) {
                ::umount2(card.c_str(), MNT_DETACH);
            } else {
                fs::remove_all(card);
            }
        };
        ConversionRunner runner = runnerFor(card);
        ScriptedConverter converter;
        if (test.when == When::duringTheThirdTrack) {
            converter.onStart([&](const Converter::Job& job) {
                if (job.source.filename() == "3.flac") takeAway();
            });
        }
        if (test.when == When::beforeTheThirdTrack) {
            // The room is asked for once per track, just before it starts.
            auto asked = std::make_shared<int>(0);
            runner.options.freeSpace = [&, asked](const fs::path&) {
                if (++*asked == 3) takeAway();
                return std::optional<std::int64_t>();
            };
        }
        if (test.when == When::beforeTheRun) takeAway();
        const std::vector<E> events = runToTheEnd(runner, separateAlbums(5), converter);

        const std::vector<E::Track::Failed> failures = failuresOf(events);
        ASSERT_EQ(failures.size(), 1U) << test.name;
        EXPECT_EQ(failures[0].source, card.string()) << test.name;
        EXPECT_EQ(failures[0].reason, lostReason) << test.name;
        EXPECT_EQ(converter.started(), test.started) << test.name;
        const E::Summary& summary = summaryOf(events);
        EXPECT_TRUE(summary.stopped) << test.name;  // the carry-over stays as it was
        EXPECT_FALSE(summary.cardFull) << test.name;
        // Nothing landed in the empty mount folder or in a folder made anew.
        EXPECT_EQ(filesBelow(temp.path()), Files{}) << test.name;
        EXPECT_EQ(fs::exists(card), test.mounted) << test.name;
        if (test.mounted) {
            EXPECT_TRUE(fs::is_empty(card)) << test.name;
        }
    }
}

TEST(RunDestination, RealExfatCardPulledDuringARunLeavesTheSystemDiskAlone) {
    std::string whyNot;
    const auto card = testing::CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    ScriptedConverter converter;
    converter.onStart([&](const Converter::Job& job) {
        if (job.source.filename() == "3.flac") card->pull();
    });
    const std::vector<E> events =
        runToTheEnd(runnerFor(card->root()), separateAlbums(5), converter);

    const std::vector<E::Track::Failed> failures = failuresOf(events);
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].reason, lostReason);
    EXPECT_TRUE(summaryOf(events).stopped);
    EXPECT_EQ(converter.started(), (std::vector<std::string>{"1.flac", "2.flac", "3.flac"}));
    EXPECT_TRUE(fs::is_empty(card->root()));
}

TEST(RunDestination, LinksInsideTheDestinationAreNotFollowed) {
    TempDir temp;
    const Files outside = besideTheCard(temp / "outside");
    fs::create_directories(temp / "card" / "MUSIC");
    fs::create_directory_symlink(temp / "outside", temp / "card" / "MUSIC" / "Album 1");
    fs::create_directory_symlink(temp / "outside" / "Documents", temp / "card" / "MUSIC" / "Docs");
    const std::vector<E> events = runToTheEnd(runnerFor(temp / "card"), separateAlbums(2));

    EXPECT_EQ(filesBelow(temp / "outside"), outside);
    EXPECT_EQ(failuresOf(events).size(), 1U);  // the track that would go through the link
    EXPECT_EQ(summaryOf(events).progress.done, 1);

    // A card root that is itself a link is not swept either.
    ConversionRunner linked = runnerFor(temp / "card");
    fs::remove_all(temp / "card" / "MUSIC");
    fs::create_directory_symlink(temp / "outside" / "Photos", temp / "card" / "MUSIC");
    runToTheEnd(linked, separateAlbums(1));
    EXPECT_EQ(filesBelow(temp / "outside"), outside);
}

TEST(RunDestination, TakingBackAPartialAlbumDeletesNothingThroughALink) {
    // Album B's first track is written; while its second finds the card full,
    // the album's folder is swapped for a link to a folder of the user's.
    TempDir temp;
    fs::create_directory(temp / "card");
    const ConversionPlan plan = planOf({{"A", 1}, {"B", 2}});
    ScriptedConverter converter;
    converter.script("3.flac", {ScriptedConverter::Ending::noSpace});
    converter.onStart([&](const Converter::Job& job) {
        if (job.source.filename() != "3.flac") return;
        fs::rename(temp / "card" / "MUSIC" / "B", temp / "mine");
        fs::create_directory_symlink(temp / "mine", temp / "card" / "MUSIC" / "B");
    });
    const std::vector<E> events = runToTheEnd(runnerFor(temp / "card"), plan, converter);

    EXPECT_TRUE(summaryOf(events).cardFull);
    EXPECT_EQ(filesBelow(temp / "mine"), (Files{{"2 t2.mp3", "converted t2"}}));
}

// A card with room for `inodes` files and folders, its own root included.
class TinyCard : public ::testing::Test {
protected:
    bool mountWith(int inodes) {
        fs::create_directory(card_);
        const std::string options = "size=1m,nr_inodes=" + std::to_string(inodes);
        mounted_ = ::mount("tmpfs", card_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }
    void TearDown() override {
        if (mounted_) ::umount2(card_.c_str(), MNT_DETACH);
    }

    TempDir temp_;
    fs::path card_ = temp_ / "card";
    bool mounted_ = false;
};

TEST_F(TinyCard, NoRoomForAFolderIsAFullCardAndLeavesNoEmptyAlbum) {
    // Root, MUSIC, a folder of the user's, then album 1 with its track, album
    // 2 with its track: the ninth inode never comes.
    struct Case {
        std::string name;
        int inodes;
    };
    for (const Case& test : {Case{"no room for album 3's folder", 7},
                             Case{"album 3's folder made, no room for its track", 8}}) {
        if (!mountWith(test.inodes)) GTEST_SKIP() << "cannot mount a tmpfs here";
        fs::create_directories(card_ / "MUSIC" / "Mine");
        const ConversionPlan plan =
            planOf({{"Album 1", 1}, {"Album 2", 1}, {"Album 3", 1}, {"Album 4", 1}});
        const std::vector<E> events = runToTheEnd(runnerFor(card_), plan);

        const E::Summary& summary = summaryOf(events);
        EXPECT_TRUE(summary.cardFull) << test.name;
        EXPECT_FALSE(summary.stopped) << test.name;
        EXPECT_EQ(summary.progress.failed, 0) << test.name;
        EXPECT_EQ(summary.progress.done, 2) << test.name;
        std::vector<std::string> folders;
        for (const auto& entry : fs::directory_iterator(card_ / "MUSIC")) {
            folders.push_back(entry.path().filename());
        }
        std::sort(folders.begin(), folders.end());
        EXPECT_EQ(folders, (std::vector<std::string>{"Album 1", "Album 2", "Mine"})) << test.name;
        ::umount2(card_.c_str(), MNT_DETACH);
        mounted_ = false;
    }
}

}  // namespace
}  // namespace tarvik
