// Exports by the real converter whose titles are looked up in a catalogue
// service stood in on 127.0.0.1, with albums as stores list them: what the
// card then holds is read back by ffprobe.

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/Text.hpp"

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

// "album folder|title|track|seconds[|disc]" rows of one year's tones by A Band.
void makeSongs(const fs::path& music, const std::string& year, const Texts& rows) {
    for (const std::string& row : rows) {
        Texts f(1);
        for (const char c : row) c == '|' ? f.emplace_back() : f.back() += c;
        std::vector<std::pair<std::string, std::string>> tags = {{"title", f[1]},
                                                                 {"artist", "A Band"},
                                                                 {"album", f[0]},
                                                                 {"track", f[2]},
                                                                 {"date", year}};
        if (f.size() > 4) tags.emplace_back("disc", f[4]);
        const std::string name = (f.size() > 4 ? f[4] + "-" : "") + f[2] + ".flac";
        makeTone(music / "A Band" / f[0] / name, {.seconds = std::stod(f[3]), .metadata = tags});
    }
}

CatalogRecord storeSong(const std::string& title, std::int64_t number, const std::string& album,
                        std::int64_t id, const std::string& year) {
    return {"track", "A Band", album, "A Band", id, title, number, 1, year + "-01-01", "Rock"};
}

// The names of the card's files in one album folder, in the order the unit plays them.
Texts cardNames(const fs::path& card, const std::string& folder) {
    Texts names;
    for (const std::string& path : pathsBelow(card)) {
        if (fs::path(path).parent_path() == folder) names.push_back(fs::path(path).filename());
    }
    return names;
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

// The store knows only the first night. The second, exported after the
// first or before it, still lands as itself in its own folder beside it: its
// name, numbers, year and audio, its titles in the store's writing.
TEST(LookupRun, TheSecondNightLandsBesideTheFirstInEitherOrder) {
    if (const std::string missing = missingProgram({"ffmpeg", "ffprobe"}); !missing.empty())
        GTEST_SKIP() << missing;
    const std::string first = "Live at the Budokan", second = "Live at the Budokan II";
    for (const bool secondFirst : {false, true}) {
        TempDir temp;
        makeSongs(temp / "music", "1978",
                  {first + "|blue sky|1|1", first + "|anchor|2|1", first + "|closing|3|1"});
        makeSongs(temp / "music", "1979",
                  {second + "|blue sky|1|2", second + "|anchor|2|2", second + "|closing|3|2"});
        StandInCatalogService service;
        const CatalogRecords songs = {storeSong("Blue Sky", 1, first, 70, "1978"),
                                      storeSong("Anchor", 2, first, 70, "1978"),
                                      storeSong("Closing", 3, first, 70, "1978")};
        for (const std::string& album : {first, second})
            service.answer(ITunesURL::albumSearch("A Band", album), {storeAlbum(first, 70)});
        CatalogRecords lookup = songs;
        lookup.insert(lookup.begin(), storeAlbum(first, 70));
        service.answer(ITunesURL::lookup(70), lookup);
        // Each song as the store would find it, asked in the library's writing.
        for (const CatalogRecord& song : songs)
            service.answer(ITunesURL::songSearch("A Band", text::lower(*song.trackName)), {song});

        for (const std::string& album : secondFirst ? Texts{second, first} : Texts{first, second}) {
            EXPECT_EQ(
                describe(exportLookingUp(temp / "card", temp / "music", service, album).back()),
                "done 3 skipped 0 failed 0")
                << album << (secondFirst ? ", the second night first" : "");
        }
        EXPECT_EQ(cardTracks(temp / "card", "MUSIC/A Band/" + second),
                  (Texts{"Blue Sky|" + second + "|1|1979|2", "Anchor|" + second + "|2|1979|2",
                         "Closing|" + second + "|3|1979|2"}));
        EXPECT_EQ(cardTracks(temp / "card", "MUSIC/A Band/" + first),
                  (Texts{"Blue Sky|" + first + "|1|1978|1", "Anchor|" + first + "|2|1978|1",
                         "Closing|" + first + "|3|1978|1"}));
    }
}

// The store's edition of a two-disc album is one disc and lacks a song: the
// songs it knows take its titles, but every song keeps the library's disc
// and number, so no two share a number and the unit plays the album in its
// order.
TEST(LookupRun, AnEditionLackingASongLeavesTheAlbumInItsOrder) {
    if (const std::string missing = missingProgram({"ffmpeg", "ffprobe"}); !missing.empty())
        GTEST_SKIP() << missing;
    TempDir temp;
    makeSongs(temp / "music", "2012",
              {"Harbours|rise|1|1|1", "Harbours|fall|2|1|1", "Harbours|Walk|3|1|1",
               "Harbours|dawn|1|1|2", "Harbours|drift|2|1|2"});
    StandInCatalogService service;
    service.answer(ITunesURL::albumSearch("A Band", "Harbours"), {storeAlbum("Harbours", 31)});
    service.answer(
        ITunesURL::lookup(31),
        {storeAlbum("Harbours", 31), storeSong("Rise", 1, "Harbours", 31, "2012"),
         storeSong("Fall", 2, "Harbours", 31, "2012"), storeSong("Dawn", 3, "Harbours", 31, "2012"),
         storeSong("Drift", 4, "Harbours", 31, "2012")});

    const auto events = exportLookingUp(temp / "card", temp / "music", service, "Harbours");
    EXPECT_EQ(describe(events.back()), "done 5 skipped 0 failed 0");
    EXPECT_EQ(
        cardNames(temp / "card", "MUSIC/A Band/Harbours"),
        (Texts{"01 Rise.mp3", "02 Fall.mp3", "03 Walk.mp3", "2-01 Dawn.mp3", "2-02 Drift.mp3"}));
}

}  // namespace
}  // namespace tarvik
