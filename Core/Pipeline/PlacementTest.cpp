#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Pipeline/Placement.hpp"
#include "Core/Pipeline/Planner.hpp"

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

struct LocationCase {
    std::string name;
    ProfileShape profile;
    TrackMeta meta;
    std::int64_t albumIndex;
    std::int64_t albumNumber;
    std::string folder;
    std::string fileName;
};

const std::string japaneseAlbum = "\u65E5\u672C\u306E\u6B4C";  // keeps nothing under ASCII-only

TEST(Placement, LocationFollowsLayoutPrefixesAndFallbacks) {
    const TrackMeta plain = track("A", "X", "5", "T");
    const std::vector<LocationCase> cases = {
        // layouts
        {"artist/album", {}, plain, 1, 0, "MUSIC/A/X", "05 T.mp3"},
        {"artist/album without root", {.root = ""}, plain, 1, 0, "A/X", "05 T.mp3"},
        {"flat", {.layout = Layout::flat}, plain, 1, 0, "MUSIC", "A - 05 T.mp3"},
        {"flat without root",
         {.layout = Layout::flat, .root = ""},
         plain,
         1,
         0,
         "",
         "A - 05 T.mp3"},
        {"album", {.layout = Layout::album}, plain, 1, 0, "MUSIC/X", "05 T.mp3"},
        {"artist with album number",
         {.layout = Layout::artist},
         plain,
         1,
         2,
         "MUSIC/A",
         "02-05 T.mp3"},
        {"album number ignored elsewhere", {}, plain, 1, 2, "MUSIC/A/X", "05 T.mp3"},
        {"root used unchanged", {.root = "SD/Musik?"}, plain, 1, 0, "SD/Musik?/A/X", "05 T.mp3"},
        {"aac", {.codec = DeviceProfile::Audio::Codec::aac}, plain, 1, 0, "MUSIC/A/X", "05 T.m4a"},
        // track and disc prefixes
        {"leading zero kept to two digits",
         {},
         track("A", "X", "07", "T"),
         1,
         0,
         "MUSIC/A/X",
         "07 T.mp3"},
        {"negative", {}, track("A", "X", "-1", "T"), 1, 0, "MUSIC/A/X", "-1 T.mp3"},
        {"two signs are no number", {}, track("A", "X", "+-5", "T"), 1, 0, "MUSIC/A/X", "T.mp3"},
        {"with total is no number", {}, track("A", "X", "7/12", "T"), 1, 0, "MUSIC/A/X", "T.mp3"},
        {"beyond 64 bits is no number",
         {},
         track("A", "X", "99999999999999999999", "T"),
         1,
         0,
         "MUSIC/A/X",
         "T.mp3"},
        {"disc 1 adds nothing", {}, track("A", "X", "5", "T", "1"), 1, 0, "MUSIC/A/X", "05 T.mp3"},
        {"disc 2", {}, track("A", "X", "5", "T", "2"), 1, 0, "MUSIC/A/X", "2-05 T.mp3"},
        {"disc without track", {}, track("A", "X", "", "T", "2"), 1, 0, "MUSIC/A/X", "T.mp3"},
        {"album 3 without track",
         {.layout = Layout::artist},
         track("A", "X", "", "T"),
         1,
         3,
         "MUSIC/A",
         "03-00 T.mp3"},
        {"album 3 disc 2 track 5",
         {.layout = Layout::artist},
         track("A", "X", "5", "T", "2"),
         1,
         3,
         "MUSIC/A",
         "03-2-05 T.mp3"},
        // stems and fallbacks
        {"empty title leaves the number",
         {},
         track("A", "X", "5", ""),
         1,
         0,
         "MUSIC/A/X",
         "05.mp3"},
        {"nothing at all", {}, track("A", "X", "", ""), 1, 0, "MUSIC/A/X", "Track 00.mp3"},
        {"nothing at all, flat",
         {.layout = Layout::flat},
         track("A", "X", "", ""),
         1,
         0,
         "MUSIC",
         "A -.mp3"},
        {"empty artist", {}, track("", "X", "5", "T"), 1, 0, "MUSIC/Unknown Artist/X", "05 T.mp3"},
        {"empty album", {}, track("A", "", "5", "T"), 1, 0, "MUSIC/A/Unknown Album", "05 T.mp3"},
        {"ASCII-only album that keeps nothing",
         {.asciiOnly = true},
         track("A", japaneseAlbum, "5", "T"),
         3,
         0,
         "MUSIC/A/Album 0003",
         "05 T.mp3"},
        // the name limit applies to each component and the stem, not the extension
        {"long title cut from its end",
         {.nameMax = 8},
         track("Artistname", "X", "5", "Longtitle"),
         1,
         0,
         "MUSIC/Artistna/X",
         "05 Longt.mp3"},
    };
    for (const LocationCase& c : cases) {
        const Placement::Location location =
            Placement::location(c.meta, makeProfile(c.profile), c.albumIndex, c.albumNumber);
        EXPECT_EQ(location.folder, c.folder) << c.name;
        EXPECT_EQ(location.fileName, c.fileName) << c.name;
    }
}

struct KeyCase {
    std::string name;
    ProfileShape profile;
    TrackMeta meta;
    std::int64_t albumIndex;
    std::string key;
};

TEST(Planner, DuplicateKeyIsWhereTheTrackLandsWithoutAlbumNumbers) {
    const std::vector<KeyCase> cases = {
        {"artist/album", {}, track("A", "X", "5", "T"), 1, "MUSIC/A/X/05 T.mp3"},
        {"flat without root",
         {.layout = Layout::flat, .root = ""},
         track("A", "X", "5", "T"),
         1,
         "A - 05 T.mp3"},
        {"artist: the album keeps albums apart",
         {.layout = Layout::artist},
         track("A", "X", "5", "T"),
         1,
         "MUSIC/A/X/05 T.mp3"},
        {"numbered fallback uses the album's position",
         {.asciiOnly = true},
         track("A", japaneseAlbum, "5", "T"),
         2,
         "MUSIC/A/Album 0002/05 T.mp3"},
        {"numbered fallback under the artist layout too",
         {.layout = Layout::artist, .asciiOnly = true},
         track("A", japaneseAlbum, "5", "T"),
         4,
         "MUSIC/A/Album 0004/05 T.mp3"},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(Planner{makeProfile(c.profile)}.duplicateKey(c.meta, c.albumIndex), c.key)
            << c.name;
    }
}

}  // namespace
}  // namespace tarvik
