// The planning pass: tags read four at a time, the selection, aliases, the
// catalogue's corrections, and a stop that ends the pass without a plan.
#include <gtest/gtest.h>

#include <random>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using namespace testing;

ConversionRunner runnerFor(const fs::path& ffmpeg, const fs::path& music,
                           std::set<std::string> artists = {},
                           std::shared_ptr<MusicCatalog> catalog = nullptr) {
    ConversionRunner runner = testing::runnerFor("/nonexistent/card", 1, ffmpeg, music);
    runner.artists = std::move(artists);
    runner.catalog = std::move(catalog);
    return runner;
}

// The plan, with every event of the pass in `events`; empty files are named
// after themselves by the stand-in.
ConversionPlan planOf(const ConversionRunner& runner, std::vector<E>& events,
                      std::stop_token stop = {}) {
    return runner.plan([&](const E& event) { events.push_back(event); }, std::move(stop));
}

void touch(const fs::path& music, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) writeFile(music / path, "");
}

TEST(TagReading, KeepsFourReadsInFlightReportsEveryFiftiethAndKeepsTheOrder) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
    for (const std::size_t count : {49, 120}) {
        std::vector<fs::path> files;
        for (std::size_t i = 0; i < count; ++i) {
            files.push_back(temp / std::to_string(count) / ("t" + std::to_string(i) + ".flac"));
            writeFile(files.back(), "fLaC");  // only regular files reach ffmpeg
        }
        std::vector<E> events;
        const std::vector<TrackMeta> records =
            ConversionRunner::readTags(files, std::make_shared<FFmpegRunner>(ffmpeg.program),
                                       [&](const E& event) { events.push_back(event); }, {});
        const std::vector<E> expected = {E::reading(50, 120), E::reading(100, 120)};
        EXPECT_EQ(events, count == 49 ? std::vector<E>{} : expected);
        // Whatever order the reads finished in, each record sits at its file's place.
        ASSERT_EQ(records.size(), count);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(records[i].title, "t" + std::to_string(i));
    }
    EXPECT_EQ(ffmpeg.peak(), 4);
}

TEST(PlanningPass, RealFilesArePlannedWithTheirTagsAndUnreadableOnesByName) {
    TempDir temp;
    const fs::path music = temp / "music";
    std::vector<std::pair<fs::path, TrackMeta>> expected;
    std::vector<std::pair<fs::path, ToneOptions>> tones;
    for (int n = 1; n <= 3; ++n) {
        const std::string album = std::to_string((n + 1) / 2), track = std::to_string(n);
        const TrackMeta meta("曲 " + track, "歌手 A", "歌手 A", "アルバム " + album, track, "1",
                             "2021", "J-Pop");
        expected.push_back(
            {music / "Artist Folder" / ("folder " + album) / (track + ".flac"), meta});
        tones.push_back({expected.back().first,
                         {.seconds = 0.5,
                          .metadata = {{"title", meta.title},
                                       {"artist", meta.artist},
                                       {"album_artist", meta.albumArtist},
                                       {"album", meta.album},
                                       {"track", track + "/30"},
                                       {"disc", "1/1"},
                                       {"date", "2021"},
                                       {"genre", "J-Pop"}}}});
    }
    makeTones(tones);
    // Random bytes that ffmpeg cannot read.
    std::string noise(4096, '\0');
    std::mt19937 random(12);
    for (char& c : noise) c = static_cast<char>(random());
    writeFile(music / "Artist Folder" / "folder 3" / "x.flac", noise);

    std::vector<E> events;
    const ConversionPlan plan = planOf(runnerFor("/usr/bin/ffmpeg", music), events);
    EXPECT_EQ(events, (std::vector<E>{E::scanning(), E::planning()}));
    ASSERT_EQ(plan.items.size(), 4U);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(plan.items[i].source, expected[i].first);
        EXPECT_EQ(plan.items[i].meta, expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(plan.items[3].meta,
              TrackMeta("x", "Artist Folder", "Artist Folder", "folder 3", "", "", "", ""));
    EXPECT_EQ(plan.items[3].relativePath, "MUSIC/Artist Folder/folder 3/x.mp3");
    EXPECT_EQ(plan.albums.size(), 3U);
}

TEST(PlanningPass, SelectionWithoutAudioFailsAfterScanning) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
    const fs::path music = temp / "music";
    touch(music, {"Band/Album/notes.txt", "Other/Album/01 a.flac"});
    fs::create_directories(temp / "empty");
    for (const auto& [folder, artists] :
         std::vector<std::pair<fs::path, std::set<std::string>>>{{temp / "missing", {}},
                                                                 {temp / "empty", {}},
                                                                 {music, {"Nobody"}},
                                                                 {music, {"Other/Nothing"}},
                                                                 {music, {"Band"}}}) {
        std::vector<E> events;
        const std::string label = folder.string() + " " + (artists.empty() ? "" : *artists.begin());
        try {
            planOf(runnerFor(ffmpeg.program, folder, artists), events);
            ADD_FAILURE() << label << ": planned";
        } catch (const ConversionError& error) {
            EXPECT_STREQ(error.what(),
                         "対象の曲が見つかりません。アーティストの選択を確認してください。")
                << label;
        }
        EXPECT_EQ(events, std::vector<E>{E::scanning()}) << label;
    }
    EXPECT_EQ(ffmpeg.peak(), 0);
}

TEST(PlanningPass, CatalogueCorrectionsAreReportedAndPlacedAgain) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    touch(temp / "music", {"A Band/First Album/sunrise.flac", "A Band/Night Drive/harbour.flac",
                           "A Band/Night Drive/meadow.flac"});
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["A Band|harbour"] = {{.wrapperType = "track",
                                         .artistName = "A Band",
                                         .collectionName = "Night Drive",
                                         .collectionArtistName = "A Band",
                                         .collectionId = 9,
                                         .trackName = "Harbour",
                                         .releaseDate = "2019-05-01T07:00:00Z",
                                         .primaryGenreName = "Rock"}};
    ConversionRunner runner = runnerFor(ffmpeg.program, temp / "music", {}, catalog);
    runner.options.lookup = false;  // the catalogue alone decides

    std::vector<E> events;
    const ConversionPlan plan = planOf(runner, events);
    const TrackMeta harbour("harbour", "A Band", "A Band", "Night Drive", "", "", "", "");
    const TrackMeta fixed("Harbour", "A Band", "A Band", "Night Drive", "", "", "2019", "Rock");
    EXPECT_EQ(events, (std::vector<E>{
                          E::scanning(), E::planning(), E::lookingUp(1, 2, "A Band / First Album"),
                          E::lookingUp(2, 2, "A Band / Night Drive"), E::renamed(harbour, fixed)}));
    ASSERT_EQ(plan.items.size(), 3U);
    EXPECT_EQ(plan.items[1].relativePath, "MUSIC/A Band/Night Drive/Harbour.mp3");
    EXPECT_EQ(plan.items[1].meta, fixed);
    EXPECT_EQ(plan.items[2].meta.title, "meadow");
}

TEST(PlanningPass, AliasesJoinWrittenFormsBeforeAlbumsAreFormed) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    touch(temp / "music", {"BAND-A/Live/a.flac", "Band A/Live/b.flac"});
    for (const bool aliased : {false, true}) {
        ConversionRunner runner = runnerFor(ffmpeg.program, temp / "music");
        if (aliased) runner.options.aliases.entries = {{"band-a", "Band A"}};
        const ConversionPlan plan = runner.plan(nullptr, {});
        const std::vector<AlbumKey> both = {{"Band A", "Live"}, {"BAND-A", "Live"}};
        EXPECT_EQ(plan.albums, aliased ? std::vector(both.begin(), both.begin() + 1) : both);
        EXPECT_EQ(plan.items.at(0).meta.title, "b");
    }
}

TEST(PlanningPass, LookupUndoneByTheAliasesChangesNothing) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    touch(temp / "music", {"Band A/Live/intro.flac"});
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["Band A|intro"] = {{.wrapperType = "track",
                                       .artistName = "BAND A",
                                       .collectionName = "Live",
                                       .collectionArtistName = "BAND A",
                                       .collectionId = 3,
                                       .trackName = "intro"}};
    ConversionRunner runner = runnerFor(ffmpeg.program, temp / "music", {}, catalog);
    runner.options.aliases.entries = {{"band a", "Band A"}};
    std::vector<E> events;
    const ConversionPlan plan = planOf(runner, events);
    EXPECT_EQ(catalog->questions(), std::vector<std::string>{"songs:Band A|intro"});
    EXPECT_EQ(events,
              (std::vector<E>{E::scanning(), E::planning(), E::lookingUp(1, 1, "Band A / Live")}));
    EXPECT_EQ(plan.items.at(0).meta,
              TrackMeta("intro", "Band A", "Band A", "Live", "", "", "", ""));
}

// Without a catalogue the pass would once have planned the files read after
// the stop from their names alone.
TEST(PlanningPass, StopWhileReadingEndsPromptlyWithoutPlanOrFurtherEvents) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    for (int i = 0; i < 120; ++i) {
        const std::string number = std::to_string(1000 + i).substr(1);
        writeFile(temp / "music/Band/Album" / ((i < 50 ? "" : "slow") + number + ".flac"), "");
    }
    std::stop_source stop;
    std::vector<E> events;
    std::chrono::steady_clock::time_point stoppedAt;
    EXPECT_THROW(runnerFor(ffmpeg.program, temp / "music")
                     .plan(
                         [&](const E& event) {
                             events.push_back(event);
                             if (event != E::reading(50, 120)) return;
                             stoppedAt = std::chrono::steady_clock::now();
                             stop.request_stop();
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
    std::stop_source stop;
    CatalogRecords searchAlbums(const std::string&, const std::string&, std::stop_token) override {
        stop.request_stop();
        return {};
    }
    CatalogRecords lookupTracks(std::int64_t, std::stop_token) override { return {}; }
    CatalogRecords searchSongs(const std::string&, const std::string&, std::stop_token) override {
        return {};
    }
};

TEST(PlanningPass, StopDuringTheLookupEndsBeforeTheNextAlbum) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    touch(temp / "music", {"Band/One/a.flac", "Band/One/b.flac", "Band/Two/c.flac"});
    const auto catalog = std::make_shared<StoppingCatalog>();
    std::vector<E> events;
    EXPECT_THROW(planOf(runnerFor(ffmpeg.program, temp / "music", {}, catalog), events,
                        catalog->stop.get_token()),
                 Cancelled);
    EXPECT_EQ(events,
              (std::vector<E>{E::scanning(), E::planning(), E::lookingUp(1, 2, "Band / One")}));
}

}  // namespace
}  // namespace tarvik
