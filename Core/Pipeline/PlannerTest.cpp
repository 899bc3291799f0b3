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

// Tracks of albums, each in its own source folder and numbered from 1:
// {folder, album artist, album, count} and, optionally, the titles' stem.
struct Album {
    std::string folder, albumArtist, title;
    int count;
    std::string song = "Song";
};
Tracks albums(const std::vector<Album>& list) {
    Tracks tracks;
    for (const Album& a : list) {
        for (int n = 1; n <= a.count; ++n) {
            const std::string number = std::to_string(n);
            tracks.push_back({a.folder + "/" + number + ".flac",
                              meta(a.albumArtist, a.title, number, a.song + " " + number)});
        }
    }
    return tracks;
}

Paths paths(const ConversionPlan& plan) {
    Paths result;
    for (const ConversionPlan::Item& item : plan.items) result.push_back(item.relativePath);
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
        Planner{makeProfile(Layout::artistAlbum)}.plan({{"/m/A/X/1.flac", meta("A", "X", "1")},
                                                        {"/m/B/Y/1.flac", meta("B", "Y", "1")},
                                                        {"/m/A/X/2.flac", meta("A", "X", "2")}});
    EXPECT_EQ(plan.albums, (std::vector<AlbumKey>{{"A", "X"}, {"B", "Y"}}));
    EXPECT_EQ(paths(plan),
              (Paths{"MUSIC/A/X/01 T.mp3", "MUSIC/A/X/02 T.mp3", "MUSIC/B/Y/01 T.mp3"}));
    EXPECT_EQ(plan.items[1].source, "/m/A/X/2.flac");
    EXPECT_EQ(plan.items[1].key, "MUSIC/A/X/02 T.mp3");
    EXPECT_EQ(plan.items[2].albumIndex, 1);
}

TEST(Planner, TrueDuplicatesArePlannedOnceAndTakeNoRoom) {
    for (bool asciiOnly : {false, true}) {
        const std::string title = asciiOnly ? "\u590F\u306E\u6B4C" : "Summer";
        const ConversionPlan plan =
            Planner{makeProfile(Layout::artistAlbum, "MUSIC", 0, asciiOnly)}.plan(
                albums({{"/m/A/" + title + " (FLAC)", "A", title, 4},
                        {"/m/A/" + title + " (MP3)", "A", title, 4}}));
        EXPECT_EQ(plan.items.size(), 4u) << asciiOnly;
        EXPECT_EQ(plan.duplicates, 4) << asciiOnly;
        EXPECT_EQ(plan.albums.size(), 1u) << asciiOnly;
        for (const ConversionPlan::Item& item : plan.items) {
            EXPECT_TRUE(item.source.parent_path().string().ends_with("(FLAC)")) << item.source;
        }
    }
    const ConversionPlan plan = Planner{makeProfile(Layout::album, "", 2)}.plan(
        {{"/m/1.flac", meta("A", "F", "1", "a")},
         {"/m/copy/1.flac", meta("A", "F", "1", "a")},
         {"/m/3.flac", meta("A", "F", "2", "b")}});
    EXPECT_EQ(paths(plan), (Paths{"F/01 a.mp3", "F/02 b.mp3"}));
    EXPECT_EQ(plan.duplicates, 1);
}

TEST(Planner, DifferentSongsThatTheCardMakesAlikeAllLand) {
    // Like the delivered Shift-JIS profile: 32 columns, 255 files a folder.
    DeviceProfile shiftJIS = makeProfile(Layout::artistAlbum, "MUSIC", 255);
    shiftJIS.tags.encoding = DeviceProfile::Tags::Encoding::shiftJIS;
    shiftJIS.files.displayWidthMax = 32;
    const std::string live = "Recordings From The Big Hall Tour Live ";
    const DeviceProfile artistAlbum = makeProfile(Layout::artistAlbum);
    struct Case {
        std::string name;
        DeviceProfile profile;
        Tracks tracks;
        Paths expected;
    };
    const std::vector<Case> cases = {
        {"Korean albums of one artist under Shift-JIS",
         shiftJIS,
         albums({{"/m/IU/1", "IU", "\uAF43\uAC08\uD53C", 2, "\uB178\uB798"},
                 {"/m/IU/2", "IU", "\uD314\uB808\uD2B8", 2, "\uB178\uB798"}}),
         {"MUSIC/IU/___/01 __ 1.mp3", "MUSIC/IU/___/02 __ 2.mp3", "MUSIC/IU/___ 2/01 __ 1.mp3",
          "MUSIC/IU/___ 2/02 __ 2.mp3"}},
        {"two live albums cut to 32 columns",
         shiftJIS,
         albums({{"/m/A/62", "A", live + "1962", 1}, {"/m/A/77", "A", live + "1977", 1}}),
         {"MUSIC/A/Recordings From The Big Hall Tou/01 Song 1.mp3",
          "MUSIC/A/Recordings From The Big Hall T 2/01 Song 1.mp3"}},
        {"ASCII-only albums that only their number tells apart",
         makeProfile(Layout::artistAlbum, "MUSIC", 0, true),
         albums({{"/m/A/one", "A", "\u590F", 1}, {"/m/A/two", "A", "\u51AC", 1}}),
         {"MUSIC/A/Album 0001/01 Song 1.mp3", "MUSIC/A/Album 0002/01 Song 1.mp3"}},
        {"album artists differing in case",
         artistAlbum,
         {{"/m/1.flac", meta("abc", "X", "1")}, {"/m/2.flac", meta("ABC", "X", "1")}},
         {"MUSIC/abc/X/01 T.mp3", "MUSIC/ABC/X 2/01 T.mp3"}},
        {"three titles alike, and a title that looks numbered",
         artistAlbum,
         {{"/m/1.flac", meta("A", "X", "", "Song")},
          {"/m/2.flac", meta("A", "X", "", "SONG")},
          {"/m/3.flac", meta("A", "X", "", "Song 2")},
          {"/m/4.flac", meta("A", "X", "", "song")}},
         {"MUSIC/A/X/Song.mp3", "MUSIC/A/X/SONG 2.mp3", "MUSIC/A/X/Song 2 2.mp3",
          "MUSIC/A/X/song 3.mp3"}},
        {"two album-artist texts that make one folder, each numbered from 1",
         makeProfile(Layout::artist),
         {{"/m/1.flac", meta("AC/DC", "X", "1")}, {"/m/2.flac", meta("AC:DC", "Y", "1")}},
         {"MUSIC/AC_DC/01-01 T.mp3", "MUSIC/AC_DC/01-01 T 2.mp3"}},
        {"composed and decomposed accents differing in case",
         makeProfile(Layout::album),
         {{"/m/1.flac", meta("A", "Caf\u00E9", "1")}, {"/m/2.flac", meta("B", "CAFE\u0301", "1")}},
         {"MUSIC/Caf\u00E9/01 T.mp3", "MUSIC/CAF\u00C9 2/01 T.mp3"}},
        {"equal titles of two artists still share the album folder",
         makeProfile(Layout::album),
         {{"/m/1.flac", meta("A", "Hits", "1", "One")},
          {"/m/2.flac", meta("B", "Hits", "2", "Two")}},
         {"MUSIC/Hits/01 One.mp3", "MUSIC/Hits/02 Two.mp3"}},
        {"a numbered album folder passes over overflow folders",
         makeProfile(Layout::album, "", 2),
         albums({{"/m/F", "A", "F", 3}, {"/m/f", "B", "f", 1, "Other"}}),
         {"F/01 Song 1.mp3", "F/02 Song 2.mp3", "F 2/03 Song 3.mp3", "f 3/01 Other 1.mp3"}},
        {"a numbered album folder overflows as any folder does",
         makeProfile(Layout::album, "", 1),
         albums({{"/m/f", "B", "f", 1, "Other"},
                 {"/m/F", "A", "F", 1},
                 {"/m/F2", "A", "F", 1, "More"}}),
         {"f/01 Other 1.mp3", "F 2/01 Song 1.mp3", "F 2 2/01 More 1.mp3"}},
    };
    for (const Case& c : cases) {
        const ConversionPlan plan = Planner{c.profile}.plan(c.tracks);
        EXPECT_EQ(paths(plan), c.expected) << c.name;
        EXPECT_EQ(plan.duplicates, 0) << c.name;
        expectOnePlacePerItem(plan);
    }
}

TEST(Planner, FullFoldersOverflowIntoNumberedFolders) {
    DeviceProfile shortNames = makeProfile(Layout::artistAlbum, "MUSIC", 1);
    shortNames.files.nameMax = 2;
    struct Case {
        std::string name;
        DeviceProfile profile;
        Tracks tracks;
        Paths expected;
    };
    const std::vector<Case> cases = {
        {"a shared folder shares its count and its redirect",
         makeProfile(Layout::album, "", 2),
         albums({{"/m/A", "A", "F", 3}, {"/m/B", "B", "F", 2, "Other"}}),
         {"F/01 Song 1.mp3", "F/02 Song 2.mp3", "F 2/03 Song 3.mp3", "F 2/01 Other 1.mp3",
          "F 3/02 Other 2.mp3"}},
        {"the suffix goes on the last component, uncut",
         shortNames,
         albums({{"/m/X", "A", "X", 2}}),
         {"MUSIC/A/X/01.mp3", "MUSIC/A/X 2/02.mp3"}},
        {"flat with root overflows beside the root",
         makeProfile(Layout::flat, "MUSIC", 1),
         albums({{"/m/X", "A", "X", 2}}),
         {"MUSIC/A - 01 Song 1.mp3", "MUSIC 2/A - 02 Song 2.mp3"}},
        {"flat without root is never counted",
         makeProfile(Layout::flat, "", 1),
         albums({{"/m/X", "A", "X", 2}}),
         {"A - 01 Song 1.mp3", "A - 02 Song 2.mp3"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(paths(Planner{c.profile}.plan(c.tracks)), c.expected) << c.name;
    }
    // Folders already full on the card are passed over.
    const Planner planner{makeProfile(Layout::album, "", 1)};
    Planner::FolderCounts counts{{"F 2", 1}, {"F 3", 0}};
    Planner::FolderRedirects redirects;
    const TrackMeta m = meta("A", "F", "1");
    EXPECT_EQ(planner.splitFolder(m, 1, 0, counts, redirects), "F/01 T.mp3");
    EXPECT_EQ(planner.splitFolder(m, 1, 0, counts, redirects), "F 3/01 T.mp3");
    EXPECT_EQ(planner.splitFolder(m, 1, 0, counts, redirects), "F 4/01 T.mp3");
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
    const ConversionPlan once = dense.plan(albums({{"/m/A/Beta", "A", "Beta", 3},
                                                   {"/m/A/Alpha", "A", "Alpha", 2},
                                                   {"/m/A/Alpha copy", "A", "Alpha", 2}}));
    Planner::Corrections same;
    for (std::size_t i = 0; i < once.items.size(); ++i) same.emplace(i, once.items[i].meta);
    EXPECT_EQ(dense.planFinal(once, same), once);

    const Planner planner{makeProfile(Layout::artistAlbum)};
    const ConversionPlan first =
        planner.plan(albums({{"/m/A/X", "A", "X", 2}, {"/m/B/Y", "B", "Y", 1}}));
    TrackMeta renamed = first.items[0].meta;
    renamed.title = "Fixed";
    renamed.album = "New X";
    TrackMeta clash = renamed;  // would land on the first item's place
    TrackMeta moved = first.items[2].meta;
    moved.album = "X";  // the album changes, the album slot does not
    moved.albumArtist = "A";
    const ConversionPlan final = planner.planFinal(first, {{0, renamed}, {1, clash}, {2, moved}});
    EXPECT_EQ(paths(final), (Paths{"MUSIC/A/New X/01 Fixed.mp3", "MUSIC/A/X/02 Song 2.mp3",
                                   "MUSIC/A/X/01 Song 1.mp3"}));
    EXPECT_EQ(final.items[1].meta, first.items[1].meta);
    EXPECT_EQ(final.items[2].albumIndex, 1);
    EXPECT_EQ(final.albums, first.albums);
    EXPECT_EQ(final.duplicates, 0);
    expectOnePlacePerItem(final);
}

}  // namespace
}  // namespace tarvik
