#include <gtest/gtest.h>

#include <unordered_set>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

TEST(TrackMeta, CleansFallsBackOnThePathAndComparesCanonically) {
    const std::filesystem::path p = "/M/Ar/Al/03 T.flac";
    const std::vector<std::tuple<SourceTags, std::filesystem::path, TrackMeta>> cases = {
        {{}, p, {"T", "Ar", "Ar", "Al", "3", "", "", ""}},
        {{.artist = "A; A", .disc = "01"}, p, {"T", "A", "A", "Al", "3", "1", "", ""}},
        {{.title = "[Explicit]", .album = "X\u3000\u3000Y"},
         p,
         {"T", "Ar", "Ar", "X Y", "3", "", "", ""}},
        {{}, "/M/Ar/Al/1-05 T.flac", {"T", "Ar", "Ar", "Al", "5", "", "", ""}},  // no disc
        {{.artist = "Z"}, "/M/X/Y/T-Z.mp3", {"T", "Z", "Z", "Y", "", "", "", ""}},
        {{}, "/M/Ar/Y/T-Ar.mp3", {"T", "Ar", "Ar", "Y", "", "", "", ""}},
        {{}, "/e\u0301 [clean]/A\u3000B/x.mp3", {"x", "\u00E9", "\u00E9", "A B", "", "", "", ""}},
        {{}, "/05 T.mp3", {"T", "", "", "", "5", "", "", ""}},
    };
    for (const auto& [tags, path, expected] : cases) {
        const TrackMeta meta(tags, path);
        EXPECT_EQ(meta, expected) << path;
        for (const std::string* cleaned : {&meta.title, &meta.artist, &meta.album}) {
            EXPECT_EQ(*cleaned, text::nfc(*cleaned)) << path;  // stored composed
        }
    }
    const TrackMeta composed("Caf\u00E9", "A", "A", "B", "1", "", "", "");
    const TrackMeta decomposed("Cafe\u0301", "A", "A", "B", "1", "", "", "");
    const TrackMeta moved("A", "Caf\u00E9", "A", "B", "1", "", "", "");
    EXPECT_EQ((std::unordered_set<TrackMeta>{composed, decomposed, moved}).size(), 2u);
}

}  // namespace
}  // namespace tarvik
