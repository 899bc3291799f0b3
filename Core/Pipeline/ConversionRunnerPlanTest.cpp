// The planning pass: tags read four at a time, aliases, the catalogue's
// corrections, and a stop that ends the pass without a plan.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using namespace testing;

// Aliases join written forms before albums are formed; tags are read four
// at a time by the stand-in, which titles each empty file after its name,
// each record kept at its file's place; the catalogue's corrections are
// reported and placed again. A stop during the lookup ends the pass before
// half an answer is reported.
TEST(PlanningPass, AliasesAndCatalogueCorrectionsArePlacedAgainUnlessStopped) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
    for (const char* file :
         {"A Band/First Album/sunrise.flac", "A Band/Night Drive/harbour.flac",
          "A Band/Night Drive/meadow.flac", "Band A/Live/intro.flac", "BAND-A/Live/outro.flac"}) {
        writeFile(temp / "music" / file, "");
    }
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["A Band|harbour"] = {CatalogRecord::fromJson(nlohmann::json::parse(R"({
        "wrapperType": "track", "artistName": "A Band", "collectionName": "Night Drive",
        "collectionArtistName": "A Band", "collectionId": 9, "trackName": "Harbour",
        "releaseDate": "2019-05-01T07:00:00Z", "primaryGenreName": "Rock"})"))};
    ConversionRunner runner = runnerFor("/nonexistent/card", 1, ffmpeg.program, temp / "music");
    runner.catalog = catalog;
    runner.options.aliases.entries = {{"band-a", "Band A"}};
    Texts told;
    const auto pass = [&](const std::string& stopAt) {
        told.clear();
        std::stop_source stop;
        const auto tell = [&](const ConversionEvent& event) {
            told.push_back(describe(event));
            if (told.back() == stopAt) stop.request_stop();
        };
        return runner.plan(tell, stop.get_token());
    };

    const ConversionPlan plan = pass("");
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

    EXPECT_THROW(pass("lookingUp 2/3 A Band / Night Drive"), Cancelled);
    EXPECT_EQ(told.back(), "lookingUp 2/3 A Band / Night Drive");
}

}  // namespace
}  // namespace tarvik
