#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Core/Pipeline/Planner.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

using Layout = DeviceProfile::Files::Layout;
using Paths = std::vector<std::string>;
using Tracks = std::vector<Planner::Track>;

DeviceProfile makeProfile(Layout layout, std::string root = "MUSIC", std::int64_t maxPerFolder = 0,
                          bool asciiOnly = false) {
    DeviceProfile profile("test", "Test");
    profile.files.layout = layout;
    profile.files.root = std::move(root);
    profile.files.maxPerFolder = maxPerFolder;
    profile.files.asciiOnly = asciiOnly;
    return profile;
}

TrackMeta meta(std::string albumArtist, std::string album, std::string number,
               std::string title = "T", std::string artist = "") {
    if (artist.empty()) artist = albumArtist;
    return TrackMeta(std::move(title), std::move(artist), std::move(albumArtist), std::move(album),
                     std::move(number), "", "", "");
}

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == by) parts.emplace_back();
        if (c != by) parts.back().push_back(c);
    }
    return parts;
}

// Tracks from ';'-separated rows "folder|album artist|album|number|title",
// each from "/m/<folder>/<n>.flac"; a number "*3" stands for tracks 1 to 3
// titled "<title> 1" to "<title> 3".
Tracks tracks(const std::string& rows) {
    Tracks result;
    for (const std::string& row : split(rows, ';')) {
        const std::vector<std::string> f = split(row, '|');
        const auto add = [&](const std::string& number, const std::string& title) {
            const std::string source = "/m/" + f[0] + "/" + std::to_string(result.size()) + ".flac";
            result.push_back({source, meta(f[1], f[2], number, title)});
        };
        if (!f[3].starts_with('*')) add(f[3], f[4]);
        for (int n = 1; f[3].starts_with('*') && n <= std::stoi(f[3].substr(1)); ++n) {
            add(std::to_string(n), f[4] + " " + std::to_string(n));
        }
    }
    return result;
}

// The card paths of the plan, joined by ';'.
std::string paths(const ConversionPlan& plan) {
    std::string result;
    for (const ConversionPlan::Item& item : plan.items) {
        result += (result.empty() ? "" : ";") + item.relativePath;
    }
    return result;
}

// No two items share a key, nor a card path up to normalisation and case.
void expectOnePlacePerItem(const ConversionPlan& plan) {
    std::set<std::string> keys, cardPaths;
    for (const ConversionPlan::Item& item : plan.items) {
        EXPECT_TRUE(keys.insert(item.key).second) << item.key;
        EXPECT_TRUE(cardPaths.insert(text::lower(text::nfc(item.relativePath))).second)
            << item.relativePath;
    }
}

TEST(Planner, PlanGoesAlbumByAlbumInOrderOfFirstTrack) {
    const ConversionPlan plan =
        Planner{makeProfile(Layout::artistAlbum)}.plan(tracks("A|A|X|1|T;B|B|Y|1|T;A|A|X|2|T"));
    EXPECT_EQ(plan.albums, (std::vector<AlbumKey>{{"A", "X"}, {"B", "Y"}}));
    EXPECT_EQ(paths(plan), "MUSIC/A/X/01 T.mp3;MUSIC/A/X/02 T.mp3;MUSIC/B/Y/01 T.mp3");
    EXPECT_EQ(plan.items[1].source, "/m/A/2.flac");
    EXPECT_EQ(plan.items[1].key, "MUSIC/A/X/02 T.mp3");
    EXPECT_EQ(plan.items[2].albumIndex, 1);
}

TEST(Planner, TrueDuplicatesArePlannedOnceAndTakeNoRoom) {
    for (const std::string title : {"Summer", "\u590F\u306E\u6B4C"}) {
        const ConversionPlan plan =
            Planner{makeProfile(Layout::artistAlbum, "MUSIC", 0, true)}.plan(
                tracks(title + " (FLAC)|A|" + title + "|*4|Song;" + title + " (MP3)|A|" + title +
                       "|*4|Song"));
        EXPECT_EQ(plan.items.size(), 4u) << title;
        EXPECT_EQ(plan.duplicates, 4) << title;
        EXPECT_EQ(plan.albums.size(), 1u) << title;
        for (const ConversionPlan::Item& item : plan.items) {
            EXPECT_TRUE(item.source.parent_path().string().ends_with("(FLAC)")) << item.source;
        }
    }
    const ConversionPlan plan =
        Planner{makeProfile(Layout::album, "", 2)}.plan(tracks("m|A|F|1|a;copy|A|F|1|a;m|A|F|2|b"));
    EXPECT_EQ(paths(plan), "F/01 a.mp3;F/02 b.mp3");
    EXPECT_EQ(plan.duplicates, 1);
}

TEST(Planner, DifferentSongsThatTheCardMakesAlikeAllLand) {
    // Like the delivered Shift-JIS profile: 32 columns, 255 files a folder.
    DeviceProfile shiftJIS = makeProfile(Layout::artistAlbum, "MUSIC", 255);
    shiftJIS.tags.encoding = DeviceProfile::Tags::Encoding::shiftJIS;
    shiftJIS.files.displayWidthMax = 32;
    const std::string live = "|A|Recordings From The Big Hall Tour Live ";
    const DeviceProfile artistAlbum = makeProfile(Layout::artistAlbum),
                        album = makeProfile(Layout::album);
    const std::vector<std::tuple<DeviceProfile, std::string, std::string>> cases = {
        {shiftJIS,
         "1|IU|\uAF43\uAC08\uD53C|*2|\uB178\uB798;2|IU|\uD314\uB808\uD2B8|*2|\uB178\uB798",
         "MUSIC/IU/___/01 __ 1.mp3;MUSIC/IU/___/02 __ 2.mp3;MUSIC/IU/___ 2/01 __ 1.mp3;"
         "MUSIC/IU/___ 2/02 __ 2.mp3"},
        {shiftJIS, "62" + live + "1962|*1|Song;77" + live + "1977|*1|Song",
         "MUSIC/A/Recordings From The Big Hall Tou/01 Song 1.mp3;"
         "MUSIC/A/Recordings From The Big Hall T 2/01 Song 1.mp3"},
        {makeProfile(Layout::artistAlbum, "MUSIC", 0, true),
         "1|A|\u590F|*1|Song;2|A|\u51AC|*1|Song",
         "MUSIC/A/Album 0001/01 Song 1.mp3;MUSIC/A/Album 0002/01 Song 1.mp3"},
        {artistAlbum, "m|abc|X|1|T;m|ABC|X|1|T", "MUSIC/abc/X/01 T.mp3;MUSIC/ABC/X 2/01 T.mp3"},
        {artistAlbum, "m|A|X||Song;m|A|X||SONG;m|A|X||Song 2;m|A|X||song",
         "MUSIC/A/X/Song.mp3;MUSIC/A/X/SONG 2.mp3;MUSIC/A/X/Song 2 2.mp3;MUSIC/A/X/song 3.mp3"},
        {makeProfile(Layout::artist), "m|AC/DC|X|1|T;m|AC:DC|Y|1|T",
         "MUSIC/AC_DC/01-01 T.mp3;MUSIC/AC_DC/01-01 T 2.mp3"},
        {album, "m|A|Caf\u00E9|1|T;m|B|CAFE\u0301|1|T",
         "MUSIC/Caf\u00E9/01 T.mp3;MUSIC/CAF\u00C9 2/01 T.mp3"},
        {album, "m|A|Hits|1|One;m|B|Hits|2|Two", "MUSIC/Hits/01 One.mp3;MUSIC/Hits/02 Two.mp3"},
        // A numbered album folder passes over overflow folders, and overflows as any folder does.
        {makeProfile(Layout::album, "", 2), "F|A|F|*3|Song;f|B|f|*1|Other",
         "F/01 Song 1.mp3;F/02 Song 2.mp3;F 2/03 Song 3.mp3;f 3/01 Other 1.mp3"},
        {makeProfile(Layout::album, "", 1), "f|B|f|*1|Other;F|A|F|*1|Song;F2|A|F|*1|More",
         "f/01 Other 1.mp3;F 2/01 Song 1.mp3;F 2 2/01 More 1.mp3"},
    };
    for (const auto& [profile, rows, expected] : cases) {
        const ConversionPlan plan = Planner{profile}.plan(tracks(rows));
        EXPECT_EQ(paths(plan), expected);
        EXPECT_EQ(plan.duplicates, 0) << rows;
        expectOnePlacePerItem(plan);
    }
}

TEST(Planner, FullFoldersOverflowIntoNumberedFolders) {
    DeviceProfile shortNames = makeProfile(Layout::artistAlbum, "MUSIC", 1);
    shortNames.files.nameMax = 2;
    const std::vector<std::tuple<DeviceProfile, std::string, std::string>> cases = {
        // A shared folder shares its count and its redirect.
        {makeProfile(Layout::album, "", 2), "A|A|F|*3|Song;B|B|F|*2|Other",
         "F/01 Song 1.mp3;F/02 Song 2.mp3;F 2/03 Song 3.mp3;F 2/01 Other 1.mp3;F 3/02 Other 2.mp3"},
        // The suffix goes on the last component, uncut.
        {shortNames, "X|A|X|*2|Song", "MUSIC/A/X/01.mp3;MUSIC/A/X 2/02.mp3"},
        // Flat with a root overflows beside the root; without one, it is never counted.
        {makeProfile(Layout::flat, "MUSIC", 1), "X|A|X|*2|Song",
         "MUSIC/A - 01 Song 1.mp3;MUSIC 2/A - 02 Song 2.mp3"},
        {makeProfile(Layout::flat, "", 1), "X|A|X|*2|Song", "A - 01 Song 1.mp3;A - 02 Song 2.mp3"},
    };
    for (const auto& [profile, rows, expected] : cases) {
        EXPECT_EQ(paths(Planner{profile}.plan(tracks(rows))), expected);
    }
    // Folders already full on the card are passed over.
    const Planner planner{makeProfile(Layout::album, "", 1)};
    Planner::FolderCounts counts{{"F 2", 1}, {"F 3", 0}};
    Planner::FolderRedirects redirects;
    for (const std::string expected : {"F/01 T.mp3", "F 3/01 T.mp3", "F 4/01 T.mp3"}) {
        EXPECT_EQ(planner.splitFolder(meta("A", "F", "1"), 1, 0, counts, redirects), expected);
    }
    EXPECT_EQ(counts, (Planner::FolderCounts{{"F", 1}, {"F 2", 1}, {"F 3", 1}, {"F 4", 1}}));
}

TEST(Planner, AlbumNumbersCountAlbumsOfOneAlbumArtistByTitle) {
    const std::vector<AlbumKey> albums = {
        {"A", "Beta"},    {"A", "Alpha"},   {"B", "Solo"},
        {"A", "Gamma"},   {"A", "alpha"},  // lower case sorts before upper case
        {"AC/DC", "One"}, {"AC:DC", "Two"},
    };
    EXPECT_EQ(Planner{makeProfile(Layout::artist)}.albumNumbers(albums),
              (std::vector<std::int64_t>{3, 2, 1, 4, 1, 1, 1}));
    EXPECT_EQ(Planner{makeProfile(Layout::artist)}.albumNumbers({{"A", "Same"}, {"A", "Same"}}),
              (std::vector<std::int64_t>{1, 2}));
}

TEST(Planner, UnifyAlbumArtistsGivesAnAlbumFolderItsDominantAlbumArtist) {
    // Each track: folder, album artist, album, artist; then the album artist
    // and artist it ends with.
    using Row = std::array<std::string, 6>;
    struct Case {
        std::string name;
        std::vector<Row> tracks;
    };
    const std::vector<Case> cases = {
        {"more P than Q; an artist equal to the album artist follows it",
         {{"X", "Q", "X", "Q", "P", "P"},
          {"X", "P", "X", "Someone", "P", "Someone"},
          {"X", "P", "X", "Other", "P", "Other"},
          {"X", "Q", "X", " q ", "P", "P"},
          {"X", "P", "X", "P", "P", "P"}}},
        {"a tie goes to the earliest track",
         {{"X", "Q", "X", "Q", "Q", "Q"},
          {"X", "P", "X", "P", "Q", "Q"},
          {"X", "P", "X", "P", "Q", "Q"},
          {"X", "Q", "X", "Q", "Q", "Q"}}},
        {"loosely equal album titles are one album",
         {{"X", "P", "The Album", "P", "P", "P"},
          {"X", "Q", "the\u3000album", "Q", "P", "P"},
          {"X", "P", "THEALBUM", "P", "P", "P"}}},
        {"a compilation without album artists keeps every track's artist",
         {{"X", "Singer 1", "Hits", "Singer 1", "Singer 1", "Singer 1"},
          {"X", "Singer 2", "Hits", "Singer 2", "Singer 1", "Singer 2"},
          {"X", "Singer 3", "Hits", "Singer 3", "Singer 1", "Singer 3"}}},
        {"different folders and loosely different titles are never grouped",
         {{"X", "P", "X", "P", "P", "P"},
          {"Y", "Q", "X", "Q", "Q", "Q"},
          {"X", "R", "X2", "R", "R", "R"}}},
    };
    for (const Case& c : cases) {
        std::vector<std::filesystem::path> sources;
        std::vector<TrackMeta> metas;
        for (const Row& row : c.tracks) {
            sources.emplace_back("/m/" + row[0] + "/" + std::to_string(sources.size()) + ".flac");
            metas.push_back(meta(row[1], row[2], "1", "T", row[3]));
        }
        const Planner::Corrections corrections = Planner::unifyAlbumArtists(sources, metas);
        for (std::size_t i = 0; i < metas.size(); ++i) {
            const auto found = corrections.find(i);
            const TrackMeta& result = found == corrections.end() ? metas[i] : found->second;
            EXPECT_EQ(result.albumArtist, c.tracks[i][4]) << c.name << " #" << i;
            EXPECT_EQ(result.artist, c.tracks[i][5]) << c.name << " #" << i;
            // Only changed records are listed, and nothing but the two artists changes.
            if (found == corrections.end()) continue;
            EXPECT_NE(std::tie(result.artist, result.albumArtist),
                      std::tie(metas[i].artist, metas[i].albumArtist))
                << c.name << " #" << i;
            EXPECT_EQ(std::tie(result.title, result.album),
                      std::tie(metas[i].title, metas[i].album));
        }
    }
}

TEST(Planner, FinalPassRepeatsTheFirstWithoutRealChangesAndRenamesWithinTheAlbumSlot) {
    const Planner dense{makeProfile(Layout::artist, "MUSIC", 2)};
    const ConversionPlan once =
        dense.plan(tracks("Beta|A|Beta|*3|Song;Alpha|A|Alpha|*2|Song;Alpha copy|A|Alpha|*2|Song"));
    Planner::Corrections same;
    for (std::size_t i = 0; i < once.items.size(); ++i) same.emplace(i, once.items[i].meta);
    EXPECT_EQ(dense.planFinal(once, same), once);

    const Planner planner{makeProfile(Layout::artistAlbum)};
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
    EXPECT_EQ(final.duplicates, 0);
    expectOnePlacePerItem(final);
}

}  // namespace
}  // namespace tarvik
