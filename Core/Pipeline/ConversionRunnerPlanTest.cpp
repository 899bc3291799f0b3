#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using testing::CountingFFmpeg;
using testing::RecordingCatalog;
using testing::TempDir;
using testing::writeFile;

ConversionRunner runnerFor(const fs::path& ffmpeg, const fs::path& music,
                           std::set<std::string> artists = {},
                           std::shared_ptr<MusicCatalog> catalog = nullptr) {
    return ConversionRunner{ffmpeg,
                            DeviceProfile("test", "Test"),
                            music,
                            "/nonexistent/card",
                            std::move(artists),
                            RunOptions{},
                            std::move(catalog)};
}

struct Outcome {
    std::vector<E> events;
    ConversionPlan plan;
};

Outcome planAndCollect(const ConversionRunner& runner, std::stop_token stop = {}) {
    Outcome outcome;
    outcome.plan =
        runner.plan([&](const E& event) { outcome.events.push_back(event); }, std::move(stop));
    return outcome;
}

// Empty files: the stand-in names each track after its file.
void touch(const fs::path& music, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) writeFile(music / path, "");
}

std::vector<std::string> titles(const ConversionPlan& plan) {
    std::vector<std::string> result;
    for (const auto& item : plan.items) result.push_back(item.meta.title);
    return result;
}

TEST(PlanningPass, RealLibraryIsPlannedWithItsTagsAndUnreadableFilesByName) {
    TempDir temp;
    const fs::path music = temp / "music";
    struct Generated {
        fs::path file;
        TrackMeta expected;
    };
    std::vector<Generated> generated;
    for (int album = 1; album <= 4; ++album) {
        for (int track = 1; track <= 30 && generated.size() < 119; ++track) {
            const std::string number = (track < 10 ? "0" : "") + std::to_string(track);
            const std::string title = "曲 " + std::to_string(album) + "-" + number;
            const std::string albumTitle = "アルバム " + std::to_string(album);
            generated.push_back(
                {music / "Artist Folder" / ("folder " + std::to_string(album)) / (number + ".flac"),
                 TrackMeta(title, "歌手 A", "歌手 A", albumTitle, std::to_string(track), "1",
                           "2021", "J-Pop")});
        }
    }
    {
        BoundedGroup<bool> makers(4);
        for (const Generated& g : generated) {
            makers.spawn([&g](std::stop_token) {
                testing::makeTone(g.file, {.seconds = 1.0,
                                           .metadata = {{"title", g.expected.title},
                                                        {"artist", g.expected.artist},
                                                        {"album_artist", g.expected.albumArtist},
                                                        {"album", g.expected.album},
                                                        {"track", g.expected.track + "/30"},
                                                        {"disc", "1/1"},
                                                        {"date", "2021"},
                                                        {"genre", "J-Pop"}}});
                return true;
            });
        }
        while (makers.next()) {
        }
    }
    // Random bytes that ffmpeg cannot read, as the 120th file.
    std::string noise(4096, '\0');
    std::mt19937 random(12);
    for (char& c : noise) c = static_cast<char>(random());
    writeFile(music / "Artist Folder" / "folder 4" / "x.flac", noise);

    const Outcome outcome = planAndCollect(runnerFor("/usr/bin/ffmpeg", music));
    EXPECT_EQ(outcome.events, (std::vector<E>{E::scanning(), E::reading(50, 120),
                                              E::reading(100, 120), E::planning()}));
    ASSERT_EQ(outcome.plan.items.size(), 120U);
    for (const Generated& g : generated) {
        const auto item =
            std::find_if(outcome.plan.items.begin(), outcome.plan.items.end(),
                         [&](const ConversionPlan::Item& i) { return i.source == g.file; });
        ASSERT_NE(item, outcome.plan.items.end()) << g.file;
        EXPECT_EQ(item->meta, g.expected) << g.file;
    }
    const ConversionPlan::Item& unreadable = outcome.plan.items.back();
    EXPECT_EQ(unreadable.meta.title, "x");
    EXPECT_EQ(unreadable.meta.artist, "Artist Folder");
    EXPECT_EQ(unreadable.meta.album, "folder 4");
    EXPECT_EQ(unreadable.relativePath, "MUSIC/Artist Folder/folder 4/x.mp3");
    EXPECT_EQ(outcome.plan.albums.size(), 5U);
}

TEST(PlanningPass, SelectionWithoutAudioFailsAfterScanning) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
    const fs::path music = temp / "music";
    touch(music, {"Band/Album/notes.txt", "Other/Album/01 a.flac"});
    fs::create_directories(temp / "empty");
    struct Case {
        std::string name;
        fs::path music;
        std::set<std::string> artists;
    };
    const std::vector<Case> cases = {
        {"missing music folder", temp / "missing", {}},
        {"empty music folder", temp / "empty", {}},
        {"selected artist folder is missing", music, {"Nobody"}},
        {"selected album folder is missing", music, {"Other/Nothing"}},
        {"selected artist holds no audio", music, {"Band"}},
    };
    for (const Case& test : cases) {
        std::vector<E> events;
        try {
            runnerFor(ffmpeg.program, test.music, test.artists)
                .plan([&](const E& event) { events.push_back(event); }, {});
            ADD_FAILURE() << test.name << ": planned";
        } catch (const ConversionError& error) {
            EXPECT_STREQ(error.what(),
                         "対象の曲が見つかりません。アーティストの選択を確認してください。")
                << test.name;
        }
        EXPECT_EQ(events, std::vector<E>{E::scanning()}) << test.name;
    }
    EXPECT_EQ(ffmpeg.peak(), 0);
}

TEST(PlanningPass, CatalogueCorrectionsAreReportedAndPlacedAgain) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    const fs::path music = temp / "music";
    touch(music, {"A Band/First Album/sunrise.flac", "A Band/First Album/thunder.flac",
                  "A Band/Night Drive/harbour.flac", "A Band/Night Drive/lantern.flac",
                  "A Band/Night Drive/meadow.flac"});
    auto catalog = std::make_shared<RecordingCatalog>();
    for (const char* title : {"Harbour", "Lantern"}) {
        catalog->songs[std::string("A Band|") + char(std::tolower(title[0])) + (title + 1)] = {
            {.wrapperType = "track",
             .artistName = "A Band",
             .collectionName = "Night Drive",
             .collectionArtistName = "A Band",
             .collectionId = 9,
             .trackName = title,
             .releaseDate = "2019-05-01T07:00:00Z",
             .primaryGenreName = "Rock"}};
    }
    ConversionRunner runner = runnerFor(ffmpeg.program, music, {}, catalog);
    runner.options.lookup = false;  // the catalogue alone decides

    const Outcome outcome = planAndCollect(runner);
    const TrackMeta harbour("harbour", "A Band", "A Band", "Night Drive", "", "", "", "");
    const TrackMeta lantern("lantern", "A Band", "A Band", "Night Drive", "", "", "", "");
    TrackMeta harbourFixed = harbour, lanternFixed = lantern;
    harbourFixed.title = "Harbour";
    lanternFixed.title = "Lantern";
    for (TrackMeta* fixed : {&harbourFixed, &lanternFixed}) {
        fixed->date = "2019";
        fixed->genre = "Rock";
    }
    EXPECT_EQ(
        outcome.events,
        (std::vector<E>{E::scanning(), E::planning(), E::lookingUp(1, 2, "A Band / First Album"),
                        E::lookingUp(2, 2, "A Band / Night Drive"),
                        E::renamed(harbour, harbourFixed), E::renamed(lantern, lanternFixed)}));
    EXPECT_EQ(titles(outcome.plan),
              (std::vector<std::string>{"sunrise", "thunder", "Harbour", "Lantern", "meadow"}));
    EXPECT_EQ(outcome.plan.items[2].relativePath, "MUSIC/A Band/Night Drive/Harbour.mp3");
    EXPECT_EQ(outcome.plan.items[2].meta, harbourFixed);
}

TEST(PlanningPass, AliasesJoinWrittenFormsBeforeAlbumsAreFormed) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    const fs::path music = temp / "music";
    touch(music, {"BAND-A/Live/a.flac", "Band A/Live/b.flac"});
    struct Case {
        std::string name;
        std::vector<ArtistAliases::Entry> entries;
        std::vector<AlbumKey> albums;
    };
    const std::vector<Case> cases = {
        {"no aliases", {}, {{"Band A", "Live"}, {"BAND-A", "Live"}}},
        {"one alias", {{"band-a", "Band A"}}, {{"Band A", "Live"}}},
    };
    for (const Case& test : cases) {
        ConversionRunner runner = runnerFor(ffmpeg.program, music);
        runner.options.aliases.entries = test.entries;
        const ConversionPlan plan = runner.plan(nullptr, {});
        EXPECT_EQ(plan.albums, test.albums) << test.name;
        EXPECT_EQ(titles(plan), (std::vector<std::string>{"b", "a"})) << test.name;
    }
}

TEST(PlanningPass, LookupUndoneByTheAliasesChangesNothing) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    const fs::path music = temp / "music";
    touch(music, {"Band A/Live/intro.flac"});
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["Band A|intro"] = {{.wrapperType = "track",
                                       .artistName = "BAND A",
                                       .collectionName = "Live",
                                       .collectionArtistName = "BAND A",
                                       .collectionId = 3,
                                       .trackName = "intro"}};
    ConversionRunner runner = runnerFor(ffmpeg.program, music, {}, catalog);
    runner.options.aliases.entries = {{"band a", "Band A"}};
    const Outcome outcome = planAndCollect(runner);
    EXPECT_EQ(catalog->questions(), std::vector<std::string>{"songs:Band A|intro"});
    EXPECT_EQ(outcome.events,
              (std::vector<E>{E::scanning(), E::planning(), E::lookingUp(1, 1, "Band A / Live")}));
    EXPECT_EQ(outcome.plan.items.at(0).meta,
              TrackMeta("intro", "Band A", "Band A", "Live", "", "", "", ""));
}

// Without a catalogue the pass would once have planned the files read after
// the stop from their names alone.
TEST(PlanningPass, StopWhileReadingEndsPromptlyWithoutPlanOrFurtherEvents) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    const fs::path music = temp / "music";
    std::vector<std::string> paths;
    for (int i = 0; i < 120; ++i) {
        const std::string number = std::to_string(1000 + i).substr(1);
        paths.push_back("Band/Album/" + (i < 50 ? number : "slow" + number) + ".flac");
    }
    touch(music, paths);

    std::stop_source stop;
    std::vector<E> events;
    std::chrono::steady_clock::time_point stoppedAt;
    EXPECT_THROW(runnerFor(ffmpeg.program, music)
                     .plan(
                         [&](const E& event) {
                             events.push_back(event);
                             if (event == E::reading(50, 120)) {
                                 stoppedAt = std::chrono::steady_clock::now();
                                 stop.request_stop();
                             }
                         },
                         stop.get_token()),
                 Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(1));
    EXPECT_EQ(events, (std::vector<E>{E::scanning(), E::reading(50, 120)}));
}

// A catalogue that is stopped answers nothing; its empty answers must not
// pass for "no corrections".
class StoppingCatalog final : public MusicCatalog {
public:
    explicit StoppingCatalog(std::stop_source stop) : stop_(std::move(stop)) {}
    CatalogRecords searchAlbums(const std::string&, const std::string&, std::stop_token) override {
        stop_.request_stop();
        return {};
    }
    CatalogRecords lookupTracks(std::int64_t, std::stop_token) override { return {}; }
    CatalogRecords searchSongs(const std::string&, const std::string&, std::stop_token) override {
        return {};
    }

private:
    std::stop_source stop_;
};

TEST(PlanningPass, StopDuringTheLookupEndsBeforeTheNextAlbum) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    const fs::path music = temp / "music";
    touch(music, {"Band/One/a.flac", "Band/One/b.flac", "Band/Two/c.flac", "Band/Two/d.flac"});
    std::stop_source stop;
    std::vector<E> events;
    EXPECT_THROW(runnerFor(ffmpeg.program, music, {}, std::make_shared<StoppingCatalog>(stop))
                     .plan([&](const E& event) { events.push_back(event); }, stop.get_token()),
                 Cancelled);
    EXPECT_EQ(events,
              (std::vector<E>{E::scanning(), E::planning(), E::lookingUp(1, 2, "Band / One")}));
}

}  // namespace
}  // namespace tarvik
