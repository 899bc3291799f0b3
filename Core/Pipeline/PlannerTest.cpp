#include <gtest/gtest.h>

#include <set>

#include "Core/Pipeline/Planner.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

using Layout = DeviceProfile::Files::Layout;

DeviceProfile profileOf(Layout layout, std::string root = "MUSIC", std::int64_t maxPerFolder = 0,
                        bool asciiOnly = false) {
    DeviceProfile profile("test", "Test");
    profile.files.layout = layout;
    profile.files.root = std::move(root);
    profile.files.maxPerFolder = maxPerFolder;
    profile.files.asciiOnly = asciiOnly;
    return profile;
}

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts(1);
    for (const char c : text) c == by ? void(parts.emplace_back()) : void(parts.back() += c);
    return parts;
}

// Tracks from ';'-separated rows "folder|album artist|album|number|title",
// each from "/m/<folder>/<n>.flac"; a number "*3" stands for tracks 1 to 3
// titled "<title> 1" to "<title> 3".
std::vector<Planner::Track> tracks(const std::string& rows) {
    std::vector<Planner::Track> result;
    for (const std::string& row : split(rows, ';')) {
        const std::vector<std::string> f = split(row, '|');
        const bool many = f[3].starts_with('*');
        for (int n = 1; n <= (many ? std::stoi(f[3].substr(1)) : 1); ++n) {
            result.push_back({"/m/" + f[0] + "/" + std::to_string(result.size()) + ".flac",
                              TrackMeta(many ? f[4] + " " + std::to_string(n) : f[4], f[1], f[1],
                                        f[2], many ? std::to_string(n) : f[3], "", "", "")});
        }
    }
    return result;
}

// The card paths of the plan, joined by ';'; no two items share a key, nor
// a card path up to normalisation and case.
std::string paths(const ConversionPlan& plan) {
    std::string result;
    std::set<std::string> keys, cardPaths;
    for (const ConversionPlan::Item& item : plan.items) {
        result += (result.empty() ? "" : ";") + item.relativePath;
        EXPECT_TRUE(keys.insert(item.key).second) << item.key;
        EXPECT_TRUE(cardPaths.insert(text::lower(text::nfc(item.relativePath))).second) << result;
    }
    return result;
}

// True duplicates are planned once and take no room; distinct songs that
// only the card's limits make alike all land, in folders numbered past the
// overflow folders of full ones.
TEST(Planner, EverySongLandsOnceAndDistinctSongsNeverShareAPlace) {
    // Like the delivered Shift-JIS profile: 32 columns, 255 files a folder.
    DeviceProfile shiftJIS = profileOf(Layout::artistAlbum, "MUSIC", 255);
    shiftJIS.tags.encoding = DeviceProfile::Tags::Encoding::shiftJIS;
    shiftJIS.files.displayWidthMax = 32;
    const std::string live = "|A|Recordings From The Big Hall Tour Live ",
                      summer = "\u590F\u306E\u6B4C";
    const DeviceProfile artistAlbum = profileOf(Layout::artistAlbum),
                        album = profileOf(Layout::album),
                        ascii = profileOf(Layout::artistAlbum, "MUSIC", 0, true);
    const std::vector<std::tuple<DeviceProfile, std::string, std::string>> cases = {
        {ascii,
         summer + " (FLAC)|A|" + summer + "|*2|Song;" + summer + " (MP3)|A|" + summer + "|*2|Song",
         "MUSIC/A/Album 0001/01 Song 1.mp3;MUSIC/A/Album 0001/02 Song 2.mp3 +2"},
        {profileOf(Layout::album, "", 2), "m|A|F|1|a;copy|A|F|1|a;m|A|F|2|b",
         "F/01 a.mp3;F/02 b.mp3 +1"},
        {shiftJIS, "62" + live + "1962|*1|Song;77" + live + "1977|*1|Song",
         "MUSIC/A/Recordings From The Big Hall Tou/01 Song 1.mp3;"
         "MUSIC/A/Recordings From The Big Hall T 2/01 Song 1.mp3"},
        {ascii, "1|A|\u590F|*1|Song;2|A|\u51AC|*1|Song",
         "MUSIC/A/Album 0001/01 Song 1.mp3;MUSIC/A/Album 0002/01 Song 1.mp3"},
        {artistAlbum, "m|abc|X|1|T;m|ABC|X|1|T", "MUSIC/abc/X/01 T.mp3;MUSIC/ABC/X 2/01 T.mp3"},
        {artistAlbum, "m|A|X||Song;m|A|X||SONG;m|A|X||Song 2;m|A|X||song",
         "MUSIC/A/X/Song.mp3;MUSIC/A/X/SONG 2.mp3;MUSIC/A/X/Song 2 2.mp3;MUSIC/A/X/song 3.mp3"},
        {profileOf(Layout::artist), "m|AC/DC|X|1|T;m|AC:DC|Y|1|T",
         "MUSIC/AC_DC/01-01 T.mp3;MUSIC/AC_DC/01-01 T 2.mp3"},
        {album, "m|A|Caf\u00E9|1|T;m|B|CAFE\u0301|1|T",
         "MUSIC/Caf\u00E9/01 T.mp3;MUSIC/CAF\u00C9 2/01 T.mp3"},
        {album, "m|A|Hits|1|One;m|B|Hits|2|Two", "MUSIC/Hits/01 One.mp3;MUSIC/Hits/02 Two.mp3"},
        // A numbered album folder passes over overflow folders, and overflows as any folder does.
        {profileOf(Layout::album, "", 2), "F|A|F|*3|Song;f|B|f|*1|Other",
         "F/01 Song 1.mp3;F/02 Song 2.mp3;F 2/03 Song 3.mp3;f 3/01 Other 1.mp3"},
        {profileOf(Layout::album, "", 1), "f|B|f|*1|Other;F|A|F|*1|Song;F2|A|F|*1|More",
         "f/01 Other 1.mp3;F 2/01 Song 1.mp3;F 2 2/01 More 1.mp3"},
        // Numbered names pass over the names of real albums, whatever their order.
        {artistAlbum, "m|A|Best|1|a;m|A|BEST|1|b;m|A|Best 2|1|c",
         "MUSIC/A/Best/01 a.mp3;MUSIC/A/BEST 3/01 b.mp3;MUSIC/A/Best 2/01 c.mp3"},
        {profileOf(Layout::album, "", 2), "r|A|Road|*3|s;q|B|Road 2|*1|t",
         "Road/01 s 1.mp3;Road/02 s 2.mp3;Road 3/03 s 3.mp3;Road 2/01 t 1.mp3"},
    };
    // " +2": two read tracks left out as duplicates of planned ones, the first kept.
    for (const auto& [profile, rows, expected] : cases) {
        const ConversionPlan plan = Planner{profile}.plan(tracks(rows));
        const std::string left = plan.duplicates ? " +" + std::to_string(plan.duplicates) : "";
        EXPECT_EQ(paths(plan) + left, expected);
        EXPECT_EQ(plan.items[0].source.string().find("(MP3)"), std::string::npos);
    }
}

// A correction whose place is taken gives way to the item's own record.
TEST(Planner, FinalPassRenamesWithinTheAlbumSlotAndKeepsPlacesApart) {
    const Planner planner{profileOf(Layout::artistAlbum)};
    const ConversionPlan first = planner.plan(tracks("X|A|X|*2|Song;Y|B|Y|*1|Song"));
    TrackMeta renamed = first.items[0].meta;
    renamed.title = "Fixed";
    renamed.album = "New X";
    TrackMeta moved = first.items[2].meta;
    moved.album = "X";  // the album changes, the album slot does not
    moved.albumArtist = "A";
    // The second item would land on the first one's place.
    const ConversionPlan final = planner.planFinal(first, {{0, renamed}, {1, renamed}, {2, moved}});
    EXPECT_EQ(paths(final),
              "MUSIC/A/New X/01 Fixed.mp3;MUSIC/A/X/02 Song 2.mp3;MUSIC/A/X/01 Song 1.mp3");
    EXPECT_EQ(final.items[1].meta, first.items[1].meta);
    EXPECT_EQ(final.items[2].albumIndex, 1);
    EXPECT_EQ(final.albums, first.albums);
}

}  // namespace
}  // namespace tarvik
