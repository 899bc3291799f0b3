#include <gtest/gtest.h>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/Placement.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

DeviceProfile profileOf(std::int64_t nameMax, bool asciiOnly = false) {
    DeviceProfile profile("test", "Test");
    profile.files.nameMax = nameMax;
    profile.files.asciiOnly = asciiOnly;
    return profile;
}

// Names that clean to nothing take fallbacks, so no made name is empty; the
// name limit applies to each component and the stem, not the extension.
TEST(Placement, EveryNameIsMadeCardSafeAndNeverEmpty) {
    using Case = std::tuple<std::string, std::string, std::string, std::string, int, std::string>;
    for (const auto& [artist, album, number, title, nameMax, path] : {
             Case{"A", "X", "5", "", 60, "MUSIC/A/X/05.mp3"},
             Case{"A", "X", "", "", 60, "MUSIC/A/X/Track 00.mp3"},
             Case{" ", "", "5", "T", 60, "MUSIC/Unknown Artist/Album 0003/05 T.mp3"},
             Case{"A/B", "\u65E5\u672C", "5", "T?", 60, "MUSIC/A_B/Album 0003/05 T_.mp3"},
             Case{"Artistname", "X", "5", "Longtitle", 8, "MUSIC/Artistna/X/05 Longt.mp3"},
         }) {
        const TrackMeta meta(title, artist, artist, album, number, "", "", "");
        EXPECT_EQ(Placement::location(meta, profileOf(nameMax, true), 3, 0).path(), path);
    }
}

// The largest name limit a profile may have is 200 characters, but ext4
// takes 255 bytes and exFAT 255 UTF-16 units, extension included: names of
// characters that take 3 or 4 bytes must still land on `root`, whole clusters kept.
void longestNamesLand(const std::filesystem::path& root) {
    testing::TempDir temp;
    testing::writeFile(temp / "source.mp3", "audio");
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    std::string kanji, emoji, families;
    for (int i = 0; i < 200; ++i) kanji += "\u6F22", emoji += "\U0001F3B5";
    for (int i = 0; i < 40; ++i) families += family;
    for (const std::string& name : {kanji, emoji, families}) {
        const TrackMeta meta(name, name, name, name, "1", "", "", "");
        const Placement::Location location = Placement::location(meta, profileOf(200), 1, 0);
        EXPECT_TRUE(location.fileName.ends_with(".mp3"));
        const std::string title = location.fileName.substr(3, location.fileName.size() - 7);
        EXPECT_EQ(text::prefixGraphemes(name, text::graphemeCount(title)), title);
        EXPECT_NO_THROW(PosixFS::copy(temp / "source.mp3", root / location.path())) << root;
        EXPECT_EQ(testing::readFile(root / location.path()), "audio");
    }
}

TEST(Placement, LongestNamesLandOnExt4) {
    testing::TempDir ext4;
    longestNamesLand(ext4 / "card");
}

TEST(Placement, LongestNamesLandOnARealExfatCard) {
    std::string whyNot;
    const auto exfat = testing::CardImage::make(16 * 1024 * 1024, whyNot);
    if (!exfat) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    longestNamesLand(exfat->root());
}

}  // namespace
}  // namespace tarvik
