#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarvik::TitleFixer
