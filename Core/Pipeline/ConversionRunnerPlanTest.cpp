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

// Aliases join written forms before albums are formed; tags are read four
// at a time, each record kept at its file's place; the catalogue's
// corrections are reported and placed again. A stop during the lookup ends
// the pass before half an answer is reported.
TEST(PlanningPass, AliasesAndCatalogueCorrectionsArePlacedAgainUnlessStopped) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
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
    const auto adjust = [&](ConversionRunner& runner) {
        runner.catalog = catalog;
        runner.options.aliases.entries = {{"band-a", "Band A"}};
    };
    Texts told;
    const ConversionPlan plan = planOf(ffmpeg, temp / "music", told, adjust);
    EXPECT_EQ(told, (Texts{"scanning", "planning", "lookingUp 1/3 A Band / First Album",
                           "lookingUp 2/3 A Band / Night Drive", "renamed harbour -> Harbour",
                           "lookingUp 3/3 Band A / Live"}));
    EXPECT_EQ(ffmpeg.peak(), 4);
    std::string titles;
    for (const auto& item : plan.items)
        titles += item.meta.title + " " + item.meta.albumArtist + ";";
    EXPECT_EQ(titles, "sunrise A Band;Harbour A Band;meadow A Band;intro Band A;outro Band A;");
    EXPECT_EQ(plan.items[1].relativePath, "MUSIC/A Band/Night Drive/Harbour.mp3");
    EXPECT_EQ(plan.items[1].meta,
              TrackMeta("Harbour", "A Band", "A Band", "Night Drive", "", "", "2019", "Rock"));

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
