#include <gtest/gtest.h>

#include <unordered_set>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

TEST(TrackMeta, CleansCollapsesAndFallsBackOnThePath) {
    const std::filesystem::path song = "/M/Ar/Al/03 Song.flac";
    const std::vector<std::tuple<SourceTags, std::filesystem::path, TrackMeta>> cases = {
        {{}, song, {"Song", "Ar", "Ar", "Al", "3", "", "", ""}},
        {{.artist = "A; A", .track = "007", .disc = "01"},
         song,
         {"Song", "A", "A", "Al", "7", "1", "", ""}},
        {{.title = "[Explicit]", .album = "X\u3000\u3000Y", .genre = "J  Pop [clean]"},
         song,
         {"Song", "Ar", "Ar", "X Y", "3", "", "", "J Pop"}},
        {{}, "/M/Ar/Al/1-05 Song.flac", {"Song", "Ar", "Ar", "Al", "5", "", "", ""}},  // no disc
        {{.artist = "Z"}, "/M/X/Y/Song-Z.mp3", {"Song", "Z", "Z", "Y", "", "", "", ""}},
        {{}, "/M/Ar/Y/Song-Ar.mp3", {"Song", "Ar", "Ar", "Y", "", "", "", ""}},
        {{},
         "/Cafe\u0301  [Explicit]/A\u3000B/x.mp3",
         {"x", "Caf\u00E9", "Caf\u00E9", "A B", "", "", "", ""}},
        {{}, "/05 Song.mp3", {"Song", "", "", "", "5", "", "", ""}},
    };
    for (const auto& [tags, path, expected] : cases) {
        const TrackMeta meta(tags, path);
        EXPECT_EQ(meta, expected) << path;
        for (const std::string* cleaned : {&meta.title, &meta.artist, &meta.album, &meta.genre}) {
            EXPECT_EQ(*cleaned, text::nfc(*cleaned)) << path;  // stored composed
        }
    }
}

TEST(TrackMeta, EqualityAndHashFollowCanonicalEquivalence) {
    const TrackMeta composed("Caf\u00E9", "A", "A", "B", "1", "", "", "");
    const TrackMeta decomposed("Cafe\u0301", "A", "A", "B", "1", "", "", "");
    const TrackMeta moved("A", "Caf\u00E9", "A", "B", "1", "", "", "");
    EXPECT_EQ((std::unordered_set<TrackMeta>{composed, decomposed, moved}).size(), 2u);
}

}  // namespace
}  // namespace tarvik
