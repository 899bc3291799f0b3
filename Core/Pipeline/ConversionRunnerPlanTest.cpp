// The planning pass: tags read four at a time, the selection, aliases, the
// catalogue's corrections, and a stop that ends the pass without a plan.
#include <gtest/gtest.h>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using E = ConversionEvent;
using Texts = std::vector<std::string>;

// A pass over `music` whose tag reads are the stand-in's: each empty file is
// titled after its own name. Every event is told into `told`; a stop is
// asked for at the event told as `stopAt`.
ConversionPlan planOf(const CountingFFmpeg& ffmpeg, const fs::path& music, Texts& told,
                      const std::function<void(ConversionRunner&)>& adjust = {},
                      const std::string& stopAt = "") {
    ConversionRunner runner = runnerFor("/nonexistent/card", 1, ffmpeg.program, music);
    if (adjust) adjust(runner);
    std::stop_source stop;
    return runner.plan(
        [&](const E& event) {
            told.push_back(describe(event));
            if (told.back() == stopAt) stop.request_stop();
        },
        stop.get_token());
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
        Texts told;
        const std::vector<TrackMeta> records = ConversionRunner::readTags(
            files, std::make_shared<FFmpegRunner>(ffmpeg.program),
            [&](const E& event) { told.push_back(describe(event)); }, {});
        EXPECT_EQ(told, (count == 49 ? Texts{} : Texts{"reading 50/120", "reading 100/120"}));
        // Whatever order the reads finished in, each record sits at its file's place.
        ASSERT_EQ(records.size(), count);
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_EQ(records[i].title, "t" + std::to_string(i));
    }
    EXPECT_EQ(ffmpeg.peak(), 4);
}

TEST(PlanningPass, SelectionWithoutAudioFailsAfterScanning) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
    writeFile(temp / "music/Band/Album/notes.txt", "");
    writeFile(temp / "music/Other/Album/01 a.flac", "");
    fs::create_directories(temp / "empty");
    for (const auto& [folder, artist] :
         std::vector<std::pair<std::string, std::string>>{{"missing", ""},
                                                          {"empty", ""},
                                                          {"music", "Nobody"},
                                                          {"music", "Other/Nothing"},
                                                          {"music", "Band"}}) {
        Texts told;
        const auto select = [&](ConversionRunner& runner) {
            if (!artist.empty()) runner.artists = {artist};
        };
        try {
            planOf(ffmpeg, temp / folder, told, select);
            ADD_FAILURE() << folder << " " << artist << ": planned";
        } catch (const ConversionError& error) {
            EXPECT_STREQ(error.what(),
                         "対象の曲が見つかりません。アーティストの選択を確認してください。");
        }
        EXPECT_EQ(told, Texts{"scanning"}) << folder << " " << artist;
    }
    EXPECT_EQ(ffmpeg.peak(), 0);
}

// Aliases join written forms before albums are formed, and undo the
// catalogue's "BAND A" again: that track is not renamed. A stop during the
// lookup ends the pass before half an answer is reported.
TEST(PlanningPass, AliasesAndCatalogueCorrectionsArePlacedAgainUnlessStopped) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    for (const char* file :
         {"A Band/First Album/sunrise.flac", "A Band/Night Drive/harbour.flac",
          "A Band/Night Drive/meadow.flac", "Band A/Live/intro.flac", "BAND-A/Live/outro.flac"}) {
        writeFile(temp / "music" / file, "");
    }
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["A Band|harbour"] = {{.wrapperType = "track",
                                         .artistName = "A Band",
                                         .collectionName = "Night Drive",
                                         .collectionArtistName = "A Band",
                                         .collectionId = 9,
                                         .trackName = "Harbour",
                                         .releaseDate = "2019-05-01T07:00:00Z",
                                         .primaryGenreName = "Rock"}};
    catalog->songs["Band A|intro"] = {{.wrapperType = "track",
                                       .artistName = "BAND A",
                                       .collectionName = "Live",
                                       .collectionArtistName = "BAND A",
                                       .collectionId = 3,
                                       .trackName = "intro"}};
    const auto adjust = [&](ConversionRunner& runner) {
        runner.catalog = catalog;
        runner.options.aliases.entries = {{"band a", "Band A"}, {"band-a", "Band A"}};
    };
    Texts told;
    const ConversionPlan plan = planOf(ffmpeg, temp / "music", told, adjust);
    EXPECT_EQ(told, (Texts{"scanning", "planning", "lookingUp 1/3 A Band / First Album",
                           "lookingUp 2/3 A Band / Night Drive", "renamed harbour -> Harbour",
                           "lookingUp 3/3 Band A / Live"}));
    EXPECT_TRUE(std::ranges::count(catalog->questions(), "songs:Band A|intro"));
    ASSERT_EQ(plan.items.size(), 5U);
    EXPECT_EQ(plan.items[1].relativePath, "MUSIC/A Band/Night Drive/Harbour.mp3");
    EXPECT_EQ(plan.items[1].meta,
              TrackMeta("Harbour", "A Band", "A Band", "Night Drive", "", "", "2019", "Rock"));
    EXPECT_EQ(plan.items[2].meta.title, "meadow");
    EXPECT_EQ(plan.items[3].meta, TrackMeta("intro", "Band A", "Band A", "Live", "", "", "", ""));
    EXPECT_EQ(plan.items[4].meta, TrackMeta("outro", "Band A", "Band A", "Live", "", "", "", ""));

    told.clear();
    EXPECT_THROW(planOf(ffmpeg, temp / "music", told, adjust, "lookingUp 2/3 A Band / Night Drive"),
                 Cancelled);
    EXPECT_EQ(told.back(), "lookingUp 2/3 A Band / Night Drive");
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
    Texts told;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(planOf(ffmpeg, temp / "music", told, {}, "reading 50/120"), Cancelled);
    // 70 hanging reads, four at a time, would take ten minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(told, (Texts{"scanning", "reading 50/120"}));
}

}  // namespace
}  // namespace tarvik
