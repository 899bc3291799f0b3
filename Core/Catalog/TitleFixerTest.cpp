#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Core/Catalog/CachedCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Catalog/TitleFixer.hpp"

namespace tarvik {

// The record as a row, where a test shows what differs.
void PrintTo(const TrackMeta& meta, std::ostream* out) {
    *out << meta.title << "|" << meta.artist << "|" << meta.albumArtist << "|" << meta.album << "|"
         << meta.track << "|" << meta.disc << "|" << meta.date << "|" << meta.genre;
}

namespace TitleFixer {
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
                                                         .artistName = "A Band",
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

// Fixes each shelf's tracks against its answers and compares the result.
void expectShelves(const std::vector<Shelf>& shelves) {
    for (const Shelf& shelf : shelves) {
        const TrackMeta& first = shelf.tracks.front();
        CachedCatalog::Responses answers = {
            {ITunesURL::albumSearch(first.albumArtist, first.album), shelf.albums}};
        for (const auto& [id, songs] : shelf.lookups) answers[ITunesURL::lookup(id)] = songs;
        CachedCatalog catalog(std::move(answers));
        const std::vector<TrackMeta> fixed = fix(shelf.tracks, catalog, {}).metas;
        ASSERT_EQ(fixed.size(), shelf.expected.size()) << shelf.what;
        for (std::size_t i = 0; i < fixed.size(); ++i)
            EXPECT_EQ(fixed[i], shelf.expected[i]) << shelf.what << ": " << fixed[i].title;
    }
}

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
          found("Night Suite Part 2", "2", "", suite, "2001"),
          found("Daybreak", "3", "", suite, "2001")}},
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
          found("Head Over Heels (Live)", "7", "2", big, "1985")}},
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
         {found("Yesterday", "1", "", "Days", "1990"), mine("Yesterdays", "2", "", "Days", ""),
          found("Tomorrow", "3", "", "Days", "1990")}},
        {"the whole title after a bracket-stripped one",
         {mine("Sowing (feat. Oleta)", "4", "", "Seeds", ""), mine("Famous", "5", "", "Seeds", "")},
         {{.artistName = band, .collectionName = "Seeds", .collectionId = 4}},
         {{4,
           {song("Sowing", 1, 1, "Seeds", 4, "1989"),
            song("Sowing (feat. Oleta)", 2, 1, "Seeds", 4, "1989"),
            song("Famous", 3, 1, "Seeds", 4, "1989")}}},
         {found("Sowing (feat. Oleta)", "4", "", "Seeds", "1989"),
          found("Famous", "5", "", "Seeds", "1989")}},
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
    expectShelves(shelves);
}

// An edition that is not the album track for track lends titles, but the
// album keeps its own numbers and discs, so the unit plays it in its order:
// one that lacks a track, or holds another song in its place on one disc
// where the album has two; the whole album on the store's two discs takes
// them; a store that numbers two songs alike lends no numbers at all. The
// only song the user has of an album is never the store's edition of it.
TEST(TitleFixer, OnlyAnEditionTrackForTrackLendsNumbersAndDiscs) {
    const auto on =
        [](const std::string& album, std::int64_t id, const std::string& year,
           const std::vector<std::tuple<std::string, std::int64_t, std::int64_t>>& rows) {
            CatalogRecords songs;
            for (const auto& [title, number, disc] : rows)
                songs.push_back(song(title, number, disc, album, id, year));
            return songs;
        };
    const std::vector<Shelf> shelves = {
        {"an edition lacking a track",
         {mine("intro", "1", "", "Tides", "2010"), mine("walk", "2", "", "Tides", "2010"),
          mine("Zephyr", "3", "", "Tides", "2010"), mine("anchor", "4", "", "Tides", "2010")},
         {{.artistName = band, .collectionName = "Tides", .collectionId = 30}},
         {{30, on("Tides", 30, "2010", {{"Intro", 1, 1}, {"Walk", 2, 1}, {"Anchor", 3, 1}})}},
         {found("Intro", "1", "", "Tides", "2010"), found("Walk", "2", "", "Tides", "2010"),
          mine("Zephyr", "3", "", "Tides", "2010"), found("Anchor", "4", "", "Tides", "2010")}},
        {"an edition of one disc with another song in place of one",
         {mine("rise", "1", "1", "Harbours", ""), mine("fall", "2", "1", "Harbours", ""),
          mine("Walk", "3", "1", "Harbours", ""), mine("dawn", "1", "2", "Harbours", ""),
          mine("drift", "2", "2", "Harbours", "")},
         {{.artistName = band, .collectionName = "Harbours", .collectionId = 34}},
         {{34,
           on("Harbours", 34, "2012",
              {{"Rise", 1, 1}, {"Fall", 2, 1}, {"Bonus", 3, 1}, {"Dawn", 4, 1}, {"Drift", 5, 1}})}},
         {found("Rise", "1", "1", "Harbours", "2012"), found("Fall", "2", "1", "Harbours", "2012"),
          mine("Walk", "3", "1", "Harbours", ""), found("Dawn", "1", "2", "Harbours", "2012"),
          found("Drift", "2", "2", "Harbours", "2012")}},
        {"the whole album on two discs",
         {mine("rise", "1", "", "Harbours", ""), mine("fall", "2", "", "Harbours", ""),
          mine("dawn", "3", "", "Harbours", ""), mine("drift", "4", "", "Harbours", "")},
         {{.artistName = band, .collectionName = "Harbours", .collectionId = 32}},
         {{32, on("Harbours", 32, "2012",
                  {{"Rise", 1, 1}, {"Fall", 2, 1}, {"Dawn", 1, 2}, {"Drift", 2, 2}})}},
         {found("Rise", "1", "1", "Harbours", "2012"), found("Fall", "2", "1", "Harbours", "2012"),
          found("Dawn", "1", "2", "Harbours", "2012"),
          found("Drift", "2", "2", "Harbours", "2012")}},
        {"a store that numbers two songs alike",
         {mine("left", "1", "", "Pair", ""), mine("right", "2", "", "Pair", "")},
         {{.artistName = band, .collectionName = "Pair", .collectionId = 33}},
         {{33, on("Pair", 33, "2014", {{"Left", 1, 1}, {"Right", 1, 1}})}},
         {found("Left", "1", "", "Pair", "2014"), found("Right", "2", "", "Pair", "2014")}},
    };
    expectShelves(shelves);

    // The store's song is the fourth of twelve: the lone song takes its names
    // and year, and keeps its own number and disc, also where it has none.
    const std::vector<std::pair<TrackMeta, TrackMeta>> lone = {
        {mine("blue sky", "1", "", "blue days", ""),
         found("Blue Sky", "1", "", "Blue Days", "1990")},
        {mine("blue sky", "4", "2", "blue days", ""),
         found("Blue Sky", "4", "2", "Blue Days", "1990")},
        {mine("blue sky", "", "", "blue days", ""), found("Blue Sky", "", "", "Blue Days", "1990")},
    };
    for (const auto& [track, expected] : lone) {
        CachedCatalog catalog({{ITunesURL::songSearch(band, track.title),
                                {song("Blue Sky", 4, 1, "Blue Days", 52, "1990")}}});
        EXPECT_EQ(fix({track}, catalog, {}).metas, std::vector<TrackMeta>{expected})
            << track.track << "/" << track.disc;
    }
}

// A record lends a song its title only when it is by the song's artist, and
// an album its year only when it is the same artist's album: in a
// compilation another artist's "Yesterdays" is not "Yesterday", and an album
// of the same name under another album artist keeps its year. The same
// artist is the same text, not a near name; the album artist stands for a
// song's artist only on one artist's album, as for a guest's song there.
TEST(TitleFixer, OnlyTheSameArtistLendsTitlesAndYears) {
    const std::string various = "Various Artists", road = "Road Songs";
    const auto track = [&](const std::string& title, const std::string& artist,
                           const std::string& number, const std::string& genre,
                           const std::string& year) {
        return TrackMeta(title, artist, various, road, number, "", year, genre);
    };
    const auto record = [&](const std::string& title, const std::string& artist,
                            std::int64_t number) {
        return CatalogRecord{"track", artist, road, various,      40,
                             title,   number, 1,    "2005-01-01", "Pop"};
    };
    // A song of album `album` (`id`) by `albumArtist`, as the catalogue lists it.
    const auto listed = [](const std::string& title, const std::string& artist,
                           const std::string& albumArtist, const std::string& album,
                           std::int64_t id, std::int64_t number) {
        return CatalogRecord{"track", artist, album, albumArtist,  id,
                             title,   number, 1,     "2003-01-01", "Pop"};
    };
    const std::string cy = "Cy Dunn", covers = "Covers", seeds = "Seeds";
    CatalogRecord tribute = song("Shout", 1, 1, "Greatest Hits", 41, "1999");
    tribute.collectionArtistName = "Other Band";
    CatalogRecord change = tribute;
    change.trackName = "Change";
    change.trackNumber = 2;
    const std::vector<Shelf> shelves = {
        {"a compilation with a near title by another artist",
         {track("Yesterday", "Ann Lee", "1", "", ""), track("sunrise", "Bo Carr", "2", "", ""),
          track("harbour", "Cy Dunn", "3", "", "")},
         {{.artistName = various, .collectionName = road, .collectionId = 40}},
         {{40,
           {record("Yesterdays", "Dee Eck", 1), record("Sunrise", "Bo Carr", 2),
            record("Harbour", "Cy Dunn", 3)}}},
         {track("Yesterday", "Ann Lee", "1", "", ""),
          track("Sunrise", "Bo Carr", "2", "Pop", "2005"),
          track("Harbour", "Cy Dunn", "3", "Pop", "2005")}},
        {"the same name under another album artist",
         {mine("shout", "1", "", "Greatest Hits", "2001"),
          mine("change", "2", "", "Greatest Hits", "2001")},
         {{.artistName = band, .collectionName = "Greatest Hits", .collectionId = 41}},
         {{41, {tribute, change}}},
         {found("Shout", "1", "1", "Greatest Hits", "2001"),
          found("Change", "2", "1", "Greatest Hits", "2001")}},
        {"other artists' songs under one artist's name",
         {TrackMeta("Yesterday", "Ann Lee", cy, covers, "1", "", "", ""),
          TrackMeta("sunrise", "Bo Carr", cy, covers, "2", "", "", ""),
          TrackMeta("harbour", "Bo Carr", cy, covers, "3", "", "", "")},
         {{.artistName = cy, .collectionName = covers, .collectionId = 42}},
         {{42,
           {listed("Yesterdays", cy, cy, covers, 42, 1),
            listed("Sunrise", "Bo Carr", cy, covers, 42, 2),
            listed("Harbour", "Bo Carr", cy, covers, 42, 3)}}},
         {TrackMeta("Yesterday", "Ann Lee", cy, covers, "1", "", "", ""),
          TrackMeta("Sunrise", "Bo Carr", cy, covers, "2", "", "2003", "Pop"),
          TrackMeta("Harbour", "Bo Carr", cy, covers, "3", "", "2003", "Pop")}},
        {"a guest's song on one artist's album",
         {TrackMeta("sowing", cy + " feat. Oleta", cy, seeds, "1", "", "", ""),
          TrackMeta("famous", cy, cy, seeds, "2", "", "", "")},
         {{.artistName = cy, .collectionName = seeds, .collectionId = 43}},
         {{43, {listed("Sowing", cy, cy, seeds, 43, 1), listed("Famous", cy, cy, seeds, 43, 2)}}},
         {TrackMeta("Sowing", cy + " feat. Oleta", cy, seeds, "1", "1", "2003", "Pop"),
          TrackMeta("Famous", cy, cy, seeds, "2", "1", "2003", "Pop")}},
    };
    expectShelves(shelves);

    // The song path alike: a near name is not the artist, and a song another
    // album holds lends its title but not that album's year.
    const std::string budokan = "Live at the Budokan";
    CatalogRecord leigh = song("Yesterdays", 1, 1, "Days", 50, "1990");
    leigh.artistName = "Ann Leigh";
    const std::string dana = "Dana Westerberg", near = "Dana Westerburg", tides = "Tides";
    const std::vector<std::tuple<TrackMeta, CatalogRecord, TrackMeta>> songs = {
        {TrackMeta("Yesterday", "Ann Lee", "Ann Lee", "Days", "1", "", "", ""), leigh,
         TrackMeta("Yesterday", "Ann Lee", "Ann Lee", "Days", "1", "", "", "")},
        {TrackMeta("harbour", dana, dana, tides, "1", "", "", ""),
         listed("Harbour", near, near, tides, 53, 1),
         TrackMeta("harbour", dana, dana, tides, "1", "", "", "")},
        {TrackMeta("harbour", "DANA WESTERBERG", "DANA WESTERBERG", tides, "1", "", "", ""),
         listed("Harbour", dana, dana, tides, 53, 1),
         TrackMeta("Harbour", dana, "DANA WESTERBERG", tides, "1", "", "2003", "Pop")},
        {TrackMeta("harbour", dana, dana, tides, "1", "", "1999", ""),
         listed("Harbour", dana, near, tides, 53, 1),
         TrackMeta("Harbour", dana, dana, tides, "1", "", "1999", "Pop")},
        {mine("blue sky", "1", "", budokan + " II", "1979"),
         song("Blue Sky", 4, 1, budokan, 51, "1978"),
         found("Blue Sky", "1", "", budokan + " II", "1979")},
        {mine("blue sky", "1", "", "Blue Days", ""),
         song("Blue Sky", 4, 1, "Blue Days", 52, "1990"),
         found("Blue Sky", "1", "", "Blue Days", "1990")},
    };
    for (const auto& [mineTrack, answer, expected] : songs) {
        const std::vector<TrackMeta> tracks = {mineTrack,
                                               mine("other", "2", "", mineTrack.album, "")};
        CachedCatalog catalog(
            {{ITunesURL::songSearch(mineTrack.artist, mineTrack.title), {answer}}});
        EXPECT_EQ(fix(tracks, catalog, {}).metas.front(), expected)
            << answer.collectionName.value();
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

// A part, volume or movement whose number the store writes otherwise, or not
// at all, is another one: on the song path its title stays, on the album
// path the album keeps its name, numbers and year.
TEST(TitleFixer, AnotherNumberIsAnotherPartHoweverItIsWritten) {
    const std::vector<std::pair<std::string, std::string>> songs = {
        {"Suite Noir, Part III", "Suite Noir, Part II"},
        {"交響曲第五番 第三楽章", "交響曲第五番 第四楽章"},
        {"Live in Osaka, Night Two", "Live in Osaka, Night One"}};
    for (const auto& [title, stored] : songs) {
        const std::vector<TrackMeta> tracks = {mine(title, "1", "", "Suites", "")};
        CachedCatalog catalog(
            {{ITunesURL::songSearch(band, title), {song(stored, 1, 1, "Suites", 60, "1990")}}});
        EXPECT_EQ(fix(tracks, catalog, {}).metas, tracks) << title;
    }
    const std::vector<TrackMeta> second = {mine("Shout", "1", "", "Greatest Hits II", "2005"),
                                           mine("Change", "2", "", "Greatest Hits II", "2005")};
    CachedCatalog catalog(
        {{ITunesURL::albumSearch(band, "Greatest Hits II"),
          {{.artistName = band, .collectionName = "Greatest Hits", .collectionId = 61}}},
         {ITunesURL::lookup(61),
          {song("Shout", 1, 1, "Greatest Hits", 61, "1992"),
           song("Change", 2, 1, "Greatest Hits", 61, "1992")}}});
    EXPECT_EQ(fix(second, catalog, {}).metas, second);
}

}  // namespace
}  // namespace TitleFixer
}  // namespace tarvik
