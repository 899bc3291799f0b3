#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Core/Catalog/CachedCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Catalog/TitleFixer.hpp"

namespace tarvik::TitleFixer {
namespace {

// An album of the search is taken when half its tracks match, and at least
// two; a compilation artist passes for the album's. Its names then go to
// every track, matched or not. The catalogue answers from stored answers.
TEST(TitleFixer, AlbumIsTakenAtHalfItsTracksAndAtLeastTwo) {
    const std::string band = "A Band";
    // Tracks, matches among them, whether the album is taken, its artist.
    // clang-format off
    const std::vector<std::tuple<std::size_t, std::size_t, bool, std::string>> cases = {
        {2, 1, false, band}, {2, 2, true, band}, {3, 2, true, band}, {4, 2, true, band},
        {5, 2, false, band}, {5, 3, true, band}, {2, 2, true, "Various Artists"},
        {2, 2, false, "Various Artist"}, {2, 2, true, "ウ\u3099ァリアス・アーティスト"}};  // decomposed
    // clang-format on
    const std::vector<std::string> titles = {"Sunrise", "Harbour", "Lantern", "Meadow", "Thunder"};
    for (const auto& [count, matches, taken, artist] : cases) {
        CachedCatalog::Responses answers = {
            {ITunesURL::albumSearch("a band", "night drive"),
             {{.artistName = artist, .collectionName = "Night Drive", .collectionId = 7}}}};
        std::vector<TrackMeta> tracks;
        for (std::size_t i = 0; i < count; ++i) {
            tracks.emplace_back(titles[i], "a band", "a band", "night drive", "", "", "", "");
            if (i < matches) {
                answers[ITunesURL::lookup(7)].push_back({.wrapperType = "track",
                                                         .collectionName = "Night Drive",
                                                         .trackName = titles[i] + "!"});
            }
        }
        CachedCatalog catalog(std::move(answers));
        const Outcome outcome = fix(tracks, catalog, {});
        EXPECT_EQ(outcome.matched.size(), taken ? matches : 0) << count << artist;
        EXPECT_EQ(outcome.metas.back().album, taken ? "Night Drive" : "night drive");
    }
}

// A name is only ever replaced by the same text, and an empty one is never
// filled in; year and genre are taken.
TEST(TitleFixer, CorrectedReplacesOnlyTheSameText) {
    const TrackMeta base("blue sky", "a band", "a band", "night drive", "5", "", "1990", "Jazz");
    // clang-format off
    const std::vector<std::tuple<TrackMeta, CatalogRecord, bool, TrackMeta>> cases = {
        {base, {{}, "A Band", "Night Drive - Single", {}, {}, "Blue Sky (2011 Remaster)", 0, 2,
                "2011-03-04T07:00:00Z", "Rock"},
         true, TrackMeta("Blue Sky", "A Band", "A Band", "Night Drive", "5", "2", "2011", "Rock")},
        // Another album keeps album and numbers, and a short date the year.
        {base, {.collectionName = "Greatest Hits", .trackNumber = 7, .releaseDate = "201"},
         true, base},
        // But a compilation album artist is taken.
        {TrackMeta(), {{}, "X", "Y", "Various Artists", {}, "Z", 1, {}, {}, ""},
         true, TrackMeta("", "", "Various Artists", "", "", "", "", "")},
        // The year counts user-perceived characters.
        {base, {.releaseDate = "２０１１年"},
         false, TrackMeta("blue sky", "a band", "a band", "night drive", "5", "", "２０１１", "Jazz")}};
    // clang-format on
    for (const auto& [track, record, albumToo, expected] : cases) {
        EXPECT_EQ(corrected(track, record, albumToo), expected) << expected.title;
    }
}

const std::string band = "Tears for Fears";

// A catalogue song of album `album` (`id`), released in `year`.
CatalogRecord song(const std::string& title, std::int64_t number, std::int64_t disc,
                   const std::string& album, std::int64_t id, const std::string& year) {
    return {"track", band, album, band, id, title, number, disc, year + "-02-25T08:00:00Z", "Pop"};
}

// A user's track: title, number, disc, album, year; the rest is the band's.
TrackMeta mine(const std::string& title, const std::string& number, const std::string& disc,
               const std::string& album, const std::string& year) {
    return TrackMeta(title, band, band, album, number, disc, year, "");
}

// The same, as the catalogue fills it in where it found the song.
TrackMeta found(const std::string& title, const std::string& number, const std::string& disc,
                const std::string& album, const std::string& year) {
    return TrackMeta(title, band, band, album, number, disc, year, "Pop");
}

struct Shelf {
    std::string what;
    std::vector<TrackMeta> tracks;
    CatalogRecords albums;                           // what the album search finds
    std::map<std::int64_t, CatalogRecords> lookups;  // what each lookup answers
    std::vector<TrackMeta> expected;
};

// Albums as stores list them: an edition without the first part, the same
// tour a year earlier, a deluxe edition's live takes beside the studio songs,
// an answer about another album, two titles one record fits, a record whose
// whole title is the track's after one that is equal only without brackets,
// and a reissue. Each song is another song's record at most once, and only
// its own album lends an album its name, numbers and year.
TEST(TitleFixer, AlbumsAsStoresListThemKeepWhatIsNotTheSameSong) {
    const std::string suite = "Night Suite", big = "Big Chair (Deluxe Edition)";
    const std::vector<Shelf> shelves = {
        {"an edition without the first part",
         {mine("Night Suite Part 1", "1", "", suite, "1999"),
          mine("Night Suite Part 2", "2", "", suite, "1999"),
          mine("daybreak", "3", "", suite, "1999")},
         {{.artistName = band, .collectionName = suite, .collectionId = 7}},
         {{7,
           {song("Night Suite Part 2", 2, 1, suite, 7, "2001"),
            song("Daybreak", 3, 1, suite, 7, "2001")}}},
         {mine("Night Suite Part 1", "1", "", suite, "1999"),
          found("Night Suite Part 2", "2", "1", suite, "2001"),
          found("Daybreak", "3", "1", suite, "2001")}},
        {"the same tour a year earlier",
         {mine("Intro", "1", "", "Live in Tokyo 1986", "1986"),
          mine("Rain (Live)", "2", "", "Live in Tokyo 1986", "1986"),
          mine("Encore", "3", "", "Live in Tokyo 1986", "1986")},
         {{.artistName = band, .collectionName = "Live in Tokyo 1985", .collectionId = 85}},
         {{85,
           {song("Intro", 1, 1, "Live in Tokyo 1985", 85, "1985"),
            song("Encore", 2, 1, "Live in Tokyo 1985", 85, "1985"),
            song("Rain (Live)", 3, 1, "Live in Tokyo 1985", 85, "1985")}}},
         {mine("Intro", "1", "", "Live in Tokyo 1986", "1986"),
          mine("Rain (Live)", "2", "", "Live in Tokyo 1986", "1986"),
          mine("Encore", "3", "", "Live in Tokyo 1986", "1986")}},
        {"a deluxe edition's live takes",
         {mine("Shout", "1", "1", big, ""), mine("Mad World", "2", "1", big, ""),
          mine("Shout (Live)", "5", "2", big, ""), mine("Mad World (Live)", "6", "2", big, ""),
          mine("Head over Heels (Live)", "7", "2", big, "")},
         {{.artistName = band, .collectionName = big, .collectionId = 9}},
         {{9,
           {song("Shout", 1, 1, big, 9, "1985"), song("Mad World", 2, 1, big, 9, "1985"),
            song("Shout (Live at Massey Hall, 1985)", 9, 2, big, 9, "1985"),
            song("Mad World (Live at Massey Hall, 1985)", 10, 2, big, 9, "1985"),
            song("Head Over Heels (Live)", 8, 2, big, 9, "1985")}}},
         {found("Shout", "1", "1", big, "1985"), found("Mad World", "2", "1", big, "1985"),
          mine("Shout (Live)", "5", "2", big, ""), mine("Mad World (Live)", "6", "2", big, ""),
          found("Head Over Heels (Live)", "8", "2", big, "1985")}},
        {"an answer about another album",
         {mine("Harbour", "1", "", "Night Drive", ""), mine("Meadow", "2", "", "Night Drive", "")},
         {{.artistName = band, .collectionName = "Night Drive", .collectionId = 7}},
         {{7,
           {song("Harbour", 1, 1, "Night Drive", 8, "2019"),
            song("Meadow", 2, 1, "Night Drive", 8, "2019")}}},
         {mine("Harbour", "1", "", "Night Drive", ""), mine("Meadow", "2", "", "Night Drive", "")}},
        {"two titles that one record fits",
         {mine("Yesterday", "1", "", "Days", ""), mine("Yesterdays", "2", "", "Days", ""),
          mine("Tomorrow", "3", "", "Days", "")},
         {{.artistName = band, .collectionName = "Days", .collectionId = 3}},
         {{3,
           {song("Yesterday", 1, 1, "Days", 3, "1990"),
            song("Tomorrow", 3, 1, "Days", 3, "1990")}}},
         {found("Yesterday", "1", "1", "Days", "1990"), mine("Yesterdays", "2", "", "Days", ""),
          found("Tomorrow", "3", "1", "Days", "1990")}},
        {"the whole title after a bracket-stripped one",
         {mine("Sowing (feat. Oleta)", "4", "", "Seeds", ""), mine("Famous", "5", "", "Seeds", "")},
         {{.artistName = band, .collectionName = "Seeds", .collectionId = 4}},
         {{4,
           {song("Sowing", 1, 1, "Seeds", 4, "1989"),
            song("Sowing (feat. Oleta)", 2, 1, "Seeds", 4, "1989"),
            song("Famous", 3, 1, "Seeds", 4, "1989")}}},
         {found("Sowing (feat. Oleta)", "2", "1", "Seeds", "1989"),
          found("Famous", "3", "1", "Seeds", "1989")}},
        {"the album itself after its deluxe edition",
         {mine("Sowing", "1", "", "Seeds", "1990"), mine("Famous", "2", "", "Seeds", "1990")},
         {{.artistName = band, .collectionName = "Seeds (Deluxe)", .collectionId = 12},
          {.artistName = band, .collectionName = "Seeds", .collectionId = 4}},
         {{12,
           {song("Sowing", 3, 1, "Seeds (Deluxe)", 12, "2020"),
            song("Famous", 4, 1, "Seeds (Deluxe)", 12, "2020")}},
          {4,
           {song("Sowing", 5, 1, "Seeds", 4, "1989"), song("Famous", 6, 1, "Seeds", 4, "1989")}}},
         {found("Sowing", "5", "1", "Seeds", "1989"), found("Famous", "6", "1", "Seeds", "1989")}},
        {"a reissue",
         {mine("Pale Shelter", "1", "", "The Hurting", "1983"),
          mine("Change", "2", "", "The Hurting", "1983")},
         {{.artistName = band, .collectionName = "The Hurting (Super Deluxe)", .collectionId = 5}},
         {{5,
           {song("Pale Shelter", 3, 1, "The Hurting (Super Deluxe)", 5, "2013"),
            song("Change", 4, 1, "The Hurting (Super Deluxe)", 5, "2013")}}},
         {found("Pale Shelter", "1", "", "The Hurting", "1983"),
          found("Change", "2", "", "The Hurting", "1983")}},
    };
    for (const Shelf& shelf : shelves) {
        CachedCatalog::Responses answers = {
            {ITunesURL::albumSearch(band, shelf.tracks.front().album), shelf.albums}};
        for (const auto& [id, songs] : shelf.lookups) answers[ITunesURL::lookup(id)] = songs;
        CachedCatalog catalog(std::move(answers));
        const std::vector<TrackMeta> fixed = fix(shelf.tracks, catalog, {}).metas;
        ASSERT_EQ(fixed.size(), shelf.expected.size()) << shelf.what;
        for (std::size_t i = 0; i < fixed.size(); ++i)
            EXPECT_EQ(fixed[i], shelf.expected[i]) << shelf.what << ": " << fixed[i].title;
    }
}

// A live take that the store knows only as the studio song stays live, on
// its own numbers, whether it is a single song or one of an album whose
// album the store does not know.
TEST(TitleFixer, ALiveTakeIsNeverTheStudioSong) {
    const std::string title = "Everybody Wants to Rule the World (Live)";
    const std::string studio = "Songs from the Big Chair";
    const CatalogRecords songs = {
        song("Everybody Wants to Rule the World", 3, 1, studio, 9, "1985"),
        song("Head over Heels", 4, 1, studio, 9, "1985")};
    const std::vector<std::vector<TrackMeta>> albums = {
        {mine(title, "5", "2", studio, "")},
        {mine(title, "5", "2", "Live at Massey Hall", ""),
         mine("Head over Heels (Live)", "6", "2", "Live at Massey Hall", "")}};
    for (const std::vector<TrackMeta>& tracks : albums) {
        CachedCatalog::Responses answers;
        for (const TrackMeta& track : tracks)
            answers[ITunesURL::songSearch(band, track.title)] = songs;
        CachedCatalog catalog(std::move(answers));
        const Outcome outcome = fix(tracks, catalog, {});
        EXPECT_EQ(outcome.metas, tracks) << tracks.size();
        EXPECT_TRUE(outcome.matched.empty());
    }
}

}  // namespace
}  // namespace tarvik::TitleFixer
