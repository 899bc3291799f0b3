#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

const std::filesystem::path songPath = "/Music/Some Artist/Some Album/03 Song.flac";

TEST(TrackMeta, UntaggedFileTakesItsNamesFromThePath) {
    EXPECT_EQ(TrackMeta({}, songPath),
              TrackMeta("Song", "Some Artist", "Some Artist", "Some Album", "3", "", "", ""));
}

TEST(TrackMeta, CleansCollapsesAndFallsBack) {
    struct Case {
        std::string name;
        SourceTags tags;
        std::filesystem::path path;
        TrackMeta expected;
    };
    const std::string album = "Some Album";
    const std::vector<Case> cases = {
        {"repeated artist collapses",
         {.artist = "A; A"},
         songPath,
         {"Song", "A", "A", album, "3", "", "", ""}},
        {"different artists stay",
         {.artist = "A;B"},
         songPath,
         {"Song", "A;B", "A;B", album, "3", "", "", ""}},
        {"markers and spaces cleaned",
         {.title = "Song (Explicit)", .album = "X\u3000\u3000Y", .genre = "J  Pop [clean]"},
         songPath,
         {"Song", "Some Artist", "Some Artist", "X Y", "3", "", "", "J Pop"}},
        {"title of only a marker falls back to the file name",
         {.title = "[Explicit]"},
         songPath,
         {"Song", "Some Artist", "Some Artist", album, "3", "", "", ""}},
        {"zeros stripped",
         {.track = "007", .disc = "01"},
         songPath,
         {"Song", "Some Artist", "Some Artist", album, "7", "1", "", ""}},
        {"disc never comes from the file name",
         {},
         "/M/Ar/Al/1-05 Song.flac",
         {"Song", "Ar", "Ar", "Al", "5", "", "", ""}},
        {"raw artist tag cuts the title",
         {.artist = "Some Artist"},
         "/M/X/Y/Song-Some Artist.mp3",
         {"Song", "Some Artist", "Some Artist", "Y", "", "", "", ""}},
        {"folder artist cuts the title",
         {},
         "/M/Some Artist/Y/Song-Some Artist.mp3",
         {"Song", "Some Artist", "Some Artist", "Y", "", "", "", ""}},
        {"folder names are cleaned and made NFC",
         {},
         "/Cafe\u0301  [Explicit]/A\u3000B/x.mp3",
         {"x", "Caf\u00E9", "Caf\u00E9", "A B", "", "", "", ""}},
        {"a file at the root has no folder names",
         {},
         "/05 Song.mp3",
         {"Song", "", "", "", "5", "", "", ""}},
    };
    for (const Case& c : cases) {
        const TrackMeta meta(c.tags, c.path);
        EXPECT_EQ(meta, c.expected) << c.name;
        for (const std::string* cleaned :
             {&meta.title, &meta.artist, &meta.albumArtist, &meta.album, &meta.genre}) {
            EXPECT_EQ(*cleaned, text::nfc(*cleaned))
                << c.name;  // stored composed, not just equivalent
        }
    }
}

TEST(TrackMeta, EqualityAndHashFollowCanonicalEquivalence) {
    const TrackMeta composed("Caf\u00E9", "A", "A", "B", "1", "", "", "");
    const TrackMeta decomposed("Cafe\u0301", "A", "A", "B", "1", "", "", "");
    const TrackMeta moved("A", "Caf\u00E9", "A", "B", "1", "", "", "");
    EXPECT_EQ(composed, decomposed);
    EXPECT_NE(composed, moved);
    const std::unordered_set<TrackMeta> set = {composed, decomposed, moved};
    EXPECT_EQ(set.size(), 2u);
}

TEST(TrackMeta, JSONRoundTripsAndRequiresEveryMember) {
    const TrackMeta meta("\u66F2", "A\"B", "C/D", "E", "1", "2", "2019", "");
    const nlohmann::json written = meta;
    EXPECT_EQ(written.size(), 8u);
    EXPECT_EQ(written.at("albumArtist"), "C/D");
    EXPECT_EQ(json::parse(json::pretty(written)).get<TrackMeta>(), meta);

    nlohmann::json extra = written;
    extra["comment"] = 5;
    EXPECT_EQ(TrackMeta::fromJSON(extra), meta);

    struct Case {
        std::string name;
        nlohmann::json value;
        DecodingError::Kind kind;
        std::string path;
    };
    nlohmann::json withoutGenre = written;
    withoutGenre.erase("genre");
    nlohmann::json numericTrack = written;
    numericTrack["track"] = 1;
    const std::vector<Case> cases = {
        {"missing genre", withoutGenre, DecodingError::Kind::keyNotFound, "item.genre"},
        {"number for track", numericTrack, DecodingError::Kind::typeMismatch, "item.track"},
        {"not an object", nlohmann::json::array(), DecodingError::Kind::typeMismatch, "item"},
    };
    for (const Case& c : cases) {
        try {
            TrackMeta::fromJSON(c.value, "item");
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.name;
            EXPECT_EQ(error.codingPath(), c.path) << c.name;
        }
    }
}

}  // namespace
}  // namespace tarvik
