#include <gtest/gtest.h>

#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyPlanner.hpp"

namespace tarvik {
namespace {

TrackMeta meta(std::string title, std::string track, std::string disc,
               std::string albumArtist = "A Band", std::string album = "Night") {
    return TrackMeta(std::move(title), albumArtist, std::move(albumArtist), std::move(album),
                     std::move(track), std::move(disc), "", "");
}

TEST(TidyPlannerPaths, TargetPathTable) {
    using O = std::optional<std::string>;
    struct Case {
        TrackMeta meta;
        std::string extension;
        O artist, album;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {meta("Intro", "3", "2"), "mp3", {}, {}, "A Band/Night/2-03 Intro.mp3"},
        {meta("Intro", "3", "1"), "mp3", {}, {}, "A Band/Night/03 Intro.mp3"},
        {meta("Intro", "123", ""), "flac", {}, {}, "A Band/Night/123 Intro.flac"},
        {meta("Intro", "", "2"), "m4a", {}, {}, "A Band/Night/Intro.m4a"},
        {meta("", "", ""), "wav", {}, {}, "A Band/Night/Track.wav"},
        {meta("Intro", "03a", ""), "mp3", {}, {}, "A Band/Night/Intro.mp3"},
        {meta("Intro", "+7", ""), "mp3", {}, {}, "A Band/Night/07 Intro.mp3"},
        {meta("Intro", "99999999999", ""), "mp3", {}, {}, "A Band/Night/Intro.mp3"},
        {meta("a/b: c", "1", ""), "mp3", {}, {}, "A Band/Night/01 a_b_ c.mp3"},
        {meta("x", "1", "", "", ""), "mp3", {}, {}, "Unknown Artist/Unknown Album/01 x.mp3"},
        // Present folders: separators only, the user's own grouping, letter case.
        {meta("x", "1", ""), "mp3", O("A_Band"), O("Night"), "A_Band/Night/01 x.mp3"},
        {meta("x", "1", ""), "mp3", O("Favourites"), O("Mix 2020"),
         "Favourites/Mix 2020/01 x.mp3"},
        {meta("x", "1", ""), "mp3", O("a band"), O("NIGHT"), "A Band/Night/01 x.mp3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TidyPlanner::targetPath(c.meta, c.extension, 120, c.artist, c.album), c.expected)
            << c.expected;
    }
}

TEST(TidyPlannerPaths, NamesFitInScalarsAndIn255Bytes) {
    const std::string title(150, 'x');
    EXPECT_EQ(TidyPlanner::targetPath(meta(title, "", ""), "mp3", 120, {}, {}),
              "A Band/Night/" + std::string(120, 'x') + ".mp3");
    // 120 kana are 360 bytes: cut at whole characters to 255 with the extension.
    std::string kana;
    for (int i = 0; i < 120; ++i) kana += "が";
    const std::string path = TidyPlanner::targetPath(meta(kana, "", "", kana, kana), "flac", 120);
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; start < path.size(); start = end + 1) {
        end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(start, end - start));
    }
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].size(), 255u);  // 85 kana
    EXPECT_EQ(parts[2], text::prefixScalars(kana, 83) + ".flac");
    EXPECT_TRUE(text::isValidUTF8(path));
}

TEST(TidyPlannerPaths, RelativePathOnlyInsideTheRoot) {
    EXPECT_EQ(TidyPlanner::relativePath("/m/a/b/c.mp3", "/m"), "a/b/c.mp3");
    EXPECT_EQ(TidyPlanner::relativePath("/m/./a//c.mp3", "/m"), "a/c.mp3");
    EXPECT_EQ(TidyPlanner::relativePath("/m/c.mp3", ""), "m/c.mp3");  // the root "/"
    EXPECT_FALSE(TidyPlanner::relativePath("/other/c.mp3", "/m"));
    EXPECT_FALSE(TidyPlanner::relativePath("/mm/c.mp3", "/m"));
    EXPECT_FALSE(TidyPlanner::relativePath("/m/../x/c.mp3", "/m"));
}

TEST(TidyPlannerPaths, StripSeparatorsKeepsEverythingElse) {
    EXPECT_EQ(TidyPlanner::stripSeparators("A_B-C D\u3000E・F", U"-_ \u3000"), "ABCDE・F");
}

}  // namespace
}  // namespace tarvik
