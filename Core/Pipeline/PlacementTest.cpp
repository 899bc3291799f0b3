#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Naming/SafeName.hpp"
#include "Core/Pipeline/Placement.hpp"
#include "Core/Pipeline/Planner.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Layout = DeviceProfile::Files::Layout;

struct ProfileShape {
    Layout layout = Layout::artistAlbum;
    std::string root = "MUSIC";
    bool asciiOnly = false;
    std::int64_t nameMax = 60;
    DeviceProfile::Audio::Codec codec = DeviceProfile::Audio::Codec::mp3;
};

DeviceProfile makeProfile(const ProfileShape& shape) {
    DeviceProfile profile("test", "Test");
    profile.files.layout = shape.layout;
    profile.files.root = shape.root;
    profile.files.asciiOnly = shape.asciiOnly;
    profile.files.nameMax = shape.nameMax;
    profile.audio.codec = shape.codec;
    return profile;
}

TrackMeta track(std::string albumArtist, std::string album, std::string number, std::string title,
                std::string disc = "") {
    return TrackMeta(std::move(title), "Someone", std::move(albumArtist), std::move(album),
                     std::move(number), std::move(disc), "", "");
}

const std::string japaneseAlbum = "\u65E5\u672C\u306E\u6B4C";  // keeps nothing under ASCII-only

TEST(Placement, LocationFollowsLayoutPrefixesAndFallbacks) {
    const TrackMeta plain = track("A", "X", "5", "T");
    const ProfileShape artist = {.layout = Layout::artist};
    struct Case {
        ProfileShape profile;
        TrackMeta meta;
        std::int64_t albumIndex, albumNumber;
        std::string path;
    };
    const std::vector<Case> cases = {
        {{.root = ""}, plain, 1, 0, "A/X/05 T.mp3"},
        {{.layout = Layout::flat}, plain, 1, 0, "MUSIC/A - 05 T.mp3"},
        {{.layout = Layout::album}, plain, 1, 0, "MUSIC/X/05 T.mp3"},
        {{.codec = DeviceProfile::Audio::Codec::aac}, plain, 1, 0, "MUSIC/A/X/05 T.m4a"},
        {{}, track("A", "X", "07", "T"), 1, 0, "MUSIC/A/X/07 T.mp3"},
        {{}, track("A", "X", "-1", "T"), 1, 0, "MUSIC/A/X/-1 T.mp3"},
        {{}, track("A", "X", "7/12", "T"), 1, 0, "MUSIC/A/X/T.mp3"},  // with a total: no number
        {{}, track("A", "X", "5", "T", "1"), 1, 0, "MUSIC/A/X/05 T.mp3"},
        {{}, track("A", "X", "5", "T", "2"), 1, 0, "MUSIC/A/X/2-05 T.mp3"},
        {artist, track("A", "X", "", "T"), 1, 3, "MUSIC/A/03-00 T.mp3"},
        {artist, track("A", "X", "5", "T", "2"), 1, 3, "MUSIC/A/03-2-05 T.mp3"},
        {{}, track("A", "X", "5", ""), 1, 0, "MUSIC/A/X/05.mp3"},
        {{}, track("A", "X", "", ""), 1, 0, "MUSIC/A/X/Track 00.mp3"},
        {{}, track("", "X", "5", "T"), 1, 0, "MUSIC/Unknown Artist/X/05 T.mp3"},
        {{.asciiOnly = true},
         track("A", japaneseAlbum, "5", "T"),
         3,
         0,
         "MUSIC/A/Album 0003/05 T.mp3"},
        // The name limit applies to each component and the stem, not the extension.
        {{.nameMax = 8},
         track("Artistname", "X", "5", "Longtitle"),
         1,
         0,
         "MUSIC/Artistna/X/05 Longt.mp3"},
    };
    for (const Case& c : cases) {
        const Placement::Location location =
            Placement::location(c.meta, makeProfile(c.profile), c.albumIndex, c.albumNumber);
        EXPECT_EQ(location.folder + "/" + location.fileName, c.path);
    }
}

TEST(Planner, DuplicateKeyIsWhereTheTrackLandsWithoutLimits) {
    const std::vector<std::tuple<ProfileShape, TrackMeta, std::string>> cases = {
        {{.layout = Layout::flat, .root = ""}, track("A", "X", "5", "T"), "A - 05 T.mp3"},
        {{.layout = Layout::artist}, track("A", "X", "5", "T"), "MUSIC/A/X/05 T.mp3"},
        {{.asciiOnly = true},
         track("A", japaneseAlbum, "5", "T"),
         "MUSIC/A/" + japaneseAlbum + "/05 T.mp3"},
        {{.nameMax = 8},
         track("Artistname", "Live 1962", "5", "Longtitle"),
         "MUSIC/Artistname/Live 1962/05 Longtitle.mp3"},
        {{}, track(" A/B ", "X (Explicit)", "5", "T?"), "MUSIC/A_B/X/05 T_.mp3"},
        {{}, track("A", "", "5", "T"), "MUSIC/A/Unknown Album/05 T.mp3"},
    };
    for (const auto& [profile, meta, key] : cases) {
        EXPECT_EQ(Planner{makeProfile(profile)}.duplicateKey(meta), key);
    }
}

// The largest name limit a profile may have is 200 characters, but ext4
// takes 255 bytes and exFAT 255 UTF-16 units, extension included: names of
// characters that take 3 or 4 bytes must still land, whole clusters kept.
TEST(Placement, LongestNamesLandOnExt4AndOnARealExfatCard) {
    testing::TempDir ext4;
    std::vector<std::filesystem::path> roots = {ext4 / "card"};
    std::string whyNot;
    const auto exfat = testing::CardImage::make(16 * 1024 * 1024, whyNot);
    if (exfat) roots.push_back(exfat->root());
    testing::writeFile(ext4 / "source.mp3", "audio");

    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    std::string kanji, emoji, families;
    for (int i = 0; i < 200; ++i) {
        kanji += "\u6F22";
        emoji += "\U0001F3B5";
    }
    for (int i = 0; i < 40; ++i) families += family;
    for (const std::string& name : {kanji, emoji, families}) {
        const Placement::Location location =
            Placement::location(track(name, name, "1", name), makeProfile({.nameMax = 200}), 1, 0);
        EXPECT_TRUE(location.fileName.ends_with(".mp3"));
        const std::string title = location.fileName.substr(3, location.fileName.size() - 7);
        EXPECT_EQ(text::prefixGraphemes(name, text::graphemeCount(title)), title);
        for (const std::filesystem::path& root : roots) {
            EXPECT_NO_THROW(PosixFS::copy(ext4 / "source.mp3", root / location.path())) << root;
            EXPECT_EQ(testing::readFile(root / location.path()), "audio");
        }
    }
    if (!exfat) GTEST_SKIP() << "checked on ext4 only; no real exFAT card: " << whyNot;
}

}  // namespace
}  // namespace tarvik
