// Exports by the real converter whose titles are looked up in a catalogue
// service stood in on 127.0.0.1, with albums as stores list them: what the
// card then holds is read back by ffprobe.

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using namespace testing;

// What a card file says of itself: "title|album|track|date|seconds", the
// length rounded to whole seconds, so that each song shows its own audio.
std::string cardTrack(const fs::path& file) {
    const ShellResult probe = runCommand({"ffprobe", "-v", "error", "-show_entries",
                                          "format=duration:format_tags=title,album,track,date",
                                          "-of", "json", file.string()});
    EXPECT_EQ(probe.exitCode, 0) << file;
    const nlohmann::json format = nlohmann::json::parse(probe.output).at("format");
    const nlohmann::json tags = format.value("tags", nlohmann::json::object());
    const auto tag = [&](const char* name) { return tags.value(name, std::string()); };
    const long seconds = std::lround(std::stod(format.at("duration").get<std::string>()));
    return tag("title") + "|" + tag("album") + "|" + tag("track") + "|" + tag("date") + "|" +
           std::to_string(seconds);
}

// Every file of the card below `folder`, as cardTrack tells it, in name order.
Texts cardTracks(const fs::path& card, const std::string& folder) {
    Texts told;
    for (const std::string& path : pathsBelow(card)) {
        if (fs::path(path).parent_path() == folder) told.push_back(cardTrack(card / path));
    }
    return told;
}

// "album folder|title|track|seconds" rows of one year's tones by A Band.
void makeSongs(const fs::path& music, const std::string& year, const Texts& rows) {
    for (const std::string& row : rows) {
        Texts f(1);
        for (const char c : row) c == '|' ? f.emplace_back() : f.back() += c;
        makeTone(music / "A Band" / f[0] / (f[2] + ".flac"), {.seconds = std::stod(f[3]),
                                                              .metadata = {{"title", f[1]},
                                                                           {"artist", "A Band"},
                                                                           {"album", f[0]},
                                                                           {"track", f[2]},
                                                                           {"date", year}}});
    }
}

CatalogRecord storeSong(const std::string& title, std::int64_t number, const std::string& album,
                        std::int64_t id, const std::string& year) {
    return {"track", "A Band", album, "A Band", id, title, number, 1, year + "-01-01", "Rock"};
}

CatalogRecord storeAlbum(const std::string& album, std::int64_t id) {
    return {.wrapperType = "collection",
            .artistName = "A Band",
            .collectionName = album,
            .collectionId = id};
}

std::vector<ConversionEvent> exportLookingUp(const fs::path& card, const fs::path& music,
                                             const StandInCatalogService& service,
                                             const std::string& album) {
    return exportTo(card, music, [&](ConversionRunner& runner) {
        runner.profile = deliveredProfile("generic-mp3");
        runner.artists = {"A Band/" + album};
        runner.catalog = service.client();
    });
}

// The store's edition lacks the first part: each part still reaches the
// card under its own title with its own audio, and none is a duplicate.
TEST(LookupRun, AnEditionWithoutTheFirstPartLeavesEveryPartItsOwnSong) {
    if (const std::string missing = missingProgram({"ffmpeg", "ffprobe"}); !missing.empty())
        GTEST_SKIP() << missing;
    TempDir temp;
    makeSongs(temp / "music", "1999",
              {"Night Suite|Night Suite Part 1|1|1", "Night Suite|Night Suite Part 2|2|2",
               "Night Suite|Daybreak|3|3"});
    StandInCatalogService service;
    service.answer(ITunesURL::albumSearch("A Band", "Night Suite"), {storeAlbum("Night Suite", 7)});
    service.answer(
        ITunesURL::lookup(7),
        {storeAlbum("Night Suite", 7), storeSong("Night Suite Part 2", 2, "Night Suite", 7, "2001"),
         storeSong("Daybreak", 3, "Night Suite", 7, "2001")});

    const auto events = exportLookingUp(temp / "card", temp / "music", service, "Night Suite");
    EXPECT_EQ(describe(events.back()), "done 3 skipped 0 failed 0");
    EXPECT_EQ(events.back().as<ConversionEvent::Summary>()->progress.duplicates, 0);
    EXPECT_EQ(cardTracks(temp / "card", "MUSIC/A Band/Night Suite"),
              (Texts{"Night Suite Part 1|Night Suite|1|1999|1",
                     "Night Suite Part 2|Night Suite|2|2001|2", "Daybreak|Night Suite|3|2001|3"}));
}

// The store knows the tour only a year earlier. Exported after that album,
// the later one still lands as itself: its own folder, name, numbers, year
// and audio, beside the earlier one.
TEST(LookupRun, ALiveAlbumTheStoreKnowsOnlyAYearEarlierLandsAsItself) {
    if (const std::string missing = missingProgram({"ffmpeg", "ffprobe"}); !missing.empty())
        GTEST_SKIP() << missing;
    TempDir temp;
    const std::string early = "Live in Tokyo 1985", late = "Live in Tokyo 1986";
    makeSongs(temp / "music", "1985",
              {early + "|Intro|1|1", early + "|Rain (Live)|2|1", early + "|Encore|3|1"});
    makeSongs(temp / "music", "1986",
              {late + "|Intro|1|2", late + "|Encore|2|2", late + "|Rain (Live)|3|2"});
    StandInCatalogService service;
    for (const std::string& album : {early, late})
        service.answer(ITunesURL::albumSearch("A Band", album), {storeAlbum(early, 85)});
    service.answer(ITunesURL::lookup(85),
                   {storeAlbum(early, 85), storeSong("Intro", 1, early, 85, "1985"),
                    storeSong("Rain (Live)", 2, early, 85, "1985"),
                    storeSong("Encore", 3, early, 85, "1985")});

    EXPECT_EQ(describe(exportLookingUp(temp / "card", temp / "music", service, early).back()),
              "done 3 skipped 0 failed 0");
    EXPECT_EQ(describe(exportLookingUp(temp / "card", temp / "music", service, late).back()),
              "done 3 skipped 0 failed 0");
    EXPECT_EQ(cardTracks(temp / "card", "MUSIC/A Band/" + late),
              (Texts{"Intro|" + late + "|1|1986|2", "Encore|" + late + "|2|1986|2",
                     "Rain (Live)|" + late + "|3|1986|2"}));
    EXPECT_EQ(cardTracks(temp / "card", "MUSIC/A Band/" + early).size(), 3U);
    EXPECT_GT(service.requestCount(), 0U);
}

}  // namespace
}  // namespace tarvik
