#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Catalog/TitleFixer.hpp"

namespace tarvik {

// Failures show the record, not its bytes.
void PrintTo(const TrackMeta& meta, std::ostream* out) {
    *out << meta.toJSON().dump();
}

namespace TitleFixer {
namespace {

using testing::RecordingCatalog;
using Questions = std::vector<std::string>;

const std::string band = "A Band";
const std::string drive = "Night Drive";
// Titles far enough apart that none passes for another.
const std::vector<std::string> titles = {"Sunrise", "Harbour", "Lantern", "Meadow", "Thunder",
                                         "Orchid",  "Glacier", "Compass", "Velvet", "Quarry"};

TrackMeta local(std::string title, std::string track = "", std::string artist = "a band",
                std::string album = "night drive") {
    return TrackMeta(std::move(title), artist, artist, std::move(album), std::move(track), "", "",
                     "");
}

std::vector<TrackMeta> album(std::size_t count) {
    std::vector<TrackMeta> tracks;
    for (std::size_t i = 0; i < count; ++i) tracks.push_back(local(titles[i]));
    return tracks;
}

CatalogRecord albumHit(std::optional<std::int64_t> id, std::string artist = band,
                       std::string name = drive) {
    return {.wrapperType = "collection",
            .artistName = std::move(artist),
            .collectionName = std::move(name),
            .collectionId = id};
}

CatalogRecord song(std::string name, std::int64_t number = 1, std::string collection = drive) {
    return {.wrapperType = "track",
            .artistName = band,
            .collectionName = std::move(collection),
            .collectionArtistName = band,
            .collectionId = 1,
            .trackName = std::move(name),
            .trackNumber = number,
            .discNumber = 1,
            .releaseDate = "2019-05-01T07:00:00Z",
            .primaryGenreName = "Rock"};
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(TitleFixer, SingleTrackAsksOneSongQuestionAndMayTakeTheAlbum) {
    RecordingCatalog catalog;
    CatalogRecord hit = song("Sunrise!", 4, "Night Drive - EP");
    hit.artistName = hit.collectionArtistName = "A BAND";
    catalog.songs["a band|sunrise"] = {song("Sunset"), hit};

    const Outcome outcome = fix({local("sunrise")}, catalog, {});
    EXPECT_EQ(catalog.questions(), Questions{"songs:a band|sunrise"});
    EXPECT_EQ(outcome.matched, (std::set<std::size_t>{0}));
    EXPECT_EQ(outcome.metas,
              std::vector<TrackMeta>{TrackMeta("Sunrise!", "A BAND", "A BAND", "Night Drive", "4",
                                               "1", "2019", "Rock")});
}

TEST(TitleFixer, AlbumWithoutAnswerAsksForEverySongInOrder) {
    RecordingCatalog catalog;
    const Outcome outcome = fix(album(3), catalog, {});
    EXPECT_EQ(catalog.questions(), (Questions{"albums:a band|night drive", "songs:a band|Sunrise",
                                              "songs:a band|Harbour", "songs:a band|Lantern"}));
    EXPECT_EQ(outcome, (Outcome{album(3), {}}));
}

TEST(TitleFixer, AlbumIsAcceptedAtHalfItsTracksAndAtLeastTwo) {
    struct Case {
        std::size_t tracks, matches;
        bool accepted;
    };
    const std::vector<Case> cases = {{2, 1, false}, {2, 2, true}, {3, 2, true},   {4, 2, true},
                                     {5, 2, false}, {5, 3, true}, {10, 4, false}, {10, 5, true}};
    for (const Case& c : cases) {
        RecordingCatalog catalog;
        catalog.albums["a band|night drive"] = {albumHit(7)};
        for (std::size_t i = 0; i < c.matches; ++i) {
            catalog.tracks[7].push_back(song(upper(titles[i]), static_cast<std::int64_t>(i + 1)));
        }
        const Outcome outcome = fix(album(c.tracks), catalog, {});
        const auto questions = catalog.questions();
        EXPECT_EQ(questions.size(), c.accepted ? 2 : 2 + c.tracks) << c.tracks << "/" << c.matches;
        if (c.accepted) {
            EXPECT_EQ(outcome.matched.size(), c.matches);
            EXPECT_EQ(outcome.metas[0].title, upper(titles[0]));
            EXPECT_EQ(outcome.metas.back().album, drive);  // matched or not
        } else {
            EXPECT_EQ(outcome, (Outcome{album(c.tracks), {}}));
        }
    }
}

TEST(TitleFixer, CompilationArtistPassesTheArtistTest) {
    struct Case {
        std::string catalogueArtist;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"Various Artists", true},
        {"ヴァリアス・アーティスト", true},
        {"ウ\u3099ァリアス・アーティスト", true},  // decomposed
        {"Various Artist", false},
    };
    for (const Case& c : cases) {
        RecordingCatalog catalog;
        catalog.albums["a band|night drive"] = {albumHit(7, c.catalogueArtist)};
        for (std::size_t i = 0; i < 2; ++i) {
            CatalogRecord hit = song(titles[i]);
            hit.collectionArtistName.reset();
            hit.artistName = "Someone " + std::to_string(i);
            catalog.tracks[7].push_back(hit);
        }
        const Outcome outcome = fix(album(2), catalog, {});
        EXPECT_EQ(outcome.matched.size(), c.accepted ? 2u : 0u) << c.catalogueArtist;
    }
}

TEST(TitleFixer, AtMostThreeCandidatesAreLookedUpBestFirst) {
    // Totals: ids 33 and 55 and the one without id tie at the top; 22 and 44
    // come after them, and "Other Band" is no candidate at all.
    const CatalogRecords answer = {albumHit(22, band, "Night Drives"),  albumHit(std::nullopt),
                                   albumHit(66, "Other Band"),          albumHit(33),
                                   albumHit(44, band, "Night Driver!"), albumHit(55)};
    struct Case {
        std::size_t matchedBy33;
        Questions lookups;
    };
    const std::vector<Case> cases = {
        {0, {"tracks:33", "tracks:55"}},
        {2, {"tracks:33"}},  // every track matched: no need to look further
    };
    for (const Case& c : cases) {
        RecordingCatalog catalog;
        catalog.albums["a band|night drive"] = answer;
        for (std::size_t i = 0; i < c.matchedBy33; ++i)
            catalog.tracks[33].push_back(song(titles[i]));
        fix(album(2), catalog, {});
        Questions lookups;
        for (const std::string& question : catalog.questions()) {
            if (question.starts_with("tracks:")) lookups.push_back(question);
        }
        EXPECT_EQ(lookups, c.lookups);
    }
}

TEST(TitleFixer, UnmatchedTrackInAnAcceptedAlbumTakesOnlyTheAlbumNames) {
    RecordingCatalog catalog;
    catalog.albums["a band|night drive"] = {albumHit(7)};
    CatalogRecord second = song("harbour", 2, "Night Drive!");
    second.collectionArtistName = "A  Band";
    catalog.tracks[7] = {song("Sunrise", 1), second};
    const std::vector<TrackMeta> tracks = {local("Bonus Jam", "9"), local("Sunrise", "1"),
                                           local("Harbour", "2")};

    const Outcome outcome = fix(tracks, catalog, {});
    EXPECT_EQ(outcome.matched, (std::set<std::size_t>{1, 2}));
    EXPECT_EQ(outcome.metas[2].album, "Night Drive!");
    EXPECT_EQ(outcome.metas[0],
              TrackMeta("Bonus Jam", "a band", "A Band", "Night Drive", "9", "", "", ""));
}

TEST(TitleFixer, MatchTracksLowersTheBarWhenNumbersAgree) {
    // "abcdefghij" and "abcdefgxyz" are 0.7 alike.
    struct Case {
        std::string track, disc;
        std::optional<std::int64_t> trackNumber, discNumber;
        bool matched;
    };
    const std::vector<Case> cases = {
        {"3", "", 3, std::nullopt, true},  {"", "", 3, 1, false},   {"4", "", 3, 1, false},
        {"3", "1", 3, std::nullopt, true}, {"3", "2", 3, 1, false}, {"3", "2", 3, 2, true},
        {"3 ", "", 3, 1, false},
    };
    for (const Case& c : cases) {
        TrackMeta track = local("abcdefghij", c.track);
        track.disc = c.disc;
        const CatalogRecord record{
            .trackName = "abcdefgxyz", .trackNumber = c.trackNumber, .discNumber = c.discNumber};
        EXPECT_EQ(matchTracks({track}, {record}).size(), c.matched ? 1u : 0u)
            << "track '" << c.track << "' disc '" << c.disc << "'";
    }
    // The first of equally good records wins; each track chooses on its own.
    const CatalogRecord first{.collectionId = 1, .trackName = "Sunrise"};
    const CatalogRecord second{.collectionId = 2, .trackName = "Sunrise"};
    const auto chosen = matchTracks({local("sunrise"), local("Sunrise!")}, {first, second});
    EXPECT_EQ(chosen, (std::map<std::size_t, CatalogRecord>{{0, first}, {1, first}}));
}

TEST(TitleFixer, SongPathForOneOfSeveralTracksLeavesAlbumFieldsButTakesYearAndGenre) {
    RecordingCatalog catalog;
    CatalogRecord hit = song("SUNRISE", 9, "Night Drive");
    hit.collectionArtistName = "Compilers";
    hit.releaseDate = "1999";
    hit.primaryGenreName = "Pop";
    catalog.songs["a band|Sunrise"] = {hit};
    const std::vector<TrackMeta> tracks = {local("Sunrise", "1"), local("Harbour", "2")};

    const Outcome outcome = fix(tracks, catalog, {});
    EXPECT_EQ(outcome.matched, (std::set<std::size_t>{0}));
    EXPECT_EQ(outcome.metas[0],
              TrackMeta("SUNRISE", "A Band", "a band", "night drive", "1", "", "1999", "Pop"));
    EXPECT_EQ(outcome.metas[1], tracks[1]);
}

TEST(TitleFixer, CorrectedReplacesOnlySameTextAndTakesYearAndGenre) {
    struct Case {
        std::string name;
        TrackMeta track;
        CatalogRecord record;
        bool albumToo;
        TrackMeta expected;
    };
    const TrackMeta base("blue sky", "a band", "a band", "night drive", "5", "", "1990", "Jazz");
    const std::vector<Case> cases = {
        {"names",
         base,
         {.artistName = "A Band",
          .collectionName = "Night Drive - Single",
          .trackName = "Blue Sky (2011 Remaster)",
          .trackNumber = 0,
          .discNumber = 2,
          .releaseDate = "2011-03-04T07:00:00Z",
          .primaryGenreName = "Rock"},
         true,
         TrackMeta("Blue Sky", "A Band", "A Band", "Night Drive", "5", "2", "2011", "Rock")},
        {"other album keeps album and numbers",
         base,
         {.collectionName = "Greatest Hits", .trackNumber = 7, .releaseDate = "201"},
         true,
         base},
        {"empty names are never filled, but a compilation album artist is",
         TrackMeta("", "", "", "", "", "", "", ""),
         {.artistName = "X",
          .collectionName = "Y",
          .collectionArtistName = "Various Artists",
          .trackName = "Z",
          .trackNumber = 1,
          .primaryGenreName = ""},
         true,
         TrackMeta("", "", "Various Artists", "", "", "", "", "")},
        {"year counts user-perceived characters",
         base,
         {.releaseDate = "２０１１年"},
         false,
         TrackMeta("blue sky", "a band", "a band", "night drive", "5", "", "２０１１", "Jazz")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(corrected(c.track, c.record, c.albumToo), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace TitleFixer
}  // namespace tarvik
