#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "Core/Pipeline/Planner.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

using Layout = DeviceProfile::Files::Layout;

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

// Tracks of one album in a source folder, numbered 1..count.
std::vector<Planner::Track> album(const std::string& folder, const std::string& albumArtist,
                                  const std::string& title, int count,
                                  const std::string& song = "Song") {
    std::vector<Planner::Track> tracks;
    for (int n = 1; n <= count; ++n) {
        tracks.push_back(
            {folder + "/" + std::to_string(n) + ".flac",
             meta(albumArtist, title, std::to_string(n), song + " " + std::to_string(n))});
    }
    return tracks;
}

std::vector<Planner::Track> joined(std::vector<std::vector<Planner::Track>> parts) {
    std::vector<Planner::Track> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

template <typename T>
std::vector<T> repeat(std::size_t count, const T& value) {
    return std::vector<T>(count, value);
}

template <typename T>
std::vector<T> concat(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const std::vector<T>& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::string> paths(const ConversionPlan& plan) {
    std::vector<std::string> result;
    for (const ConversionPlan::Item& item : plan.items) result.push_back(item.relativePath);
    return result;
}

// No two items share a key, nor a card path up to normalisation and case.
void expectOnePlacePerItem(const ConversionPlan& plan) {
    std::set<std::string> keys;
    std::set<std::string> cardPaths;
    for (const ConversionPlan::Item& item : plan.items) {
        EXPECT_TRUE(keys.insert(item.key).second) << item.key;
        EXPECT_TRUE(cardPaths.insert(text::lower(text::nfc(item.relativePath))).second)
            << item.relativePath;
    }
}

TEST(Planner, PlanGoesAlbumByAlbumInOrderOfFirstTrack) {
    const std::vector<Planner::Track> tracks = {
        {"/m/A/X/1.flac", meta("A", "X", "1")},
        {"/m/B/Y/1.flac", meta("B", "Y", "1")},
        {"/m/A/X/2.flac", meta("A", "X", "2")},
    };
    const ConversionPlan plan = Planner{makeProfile(Layout::artistAlbum)}.plan(tracks);
    EXPECT_EQ(plan.albums, (std::vector<AlbumKey>{{"A", "X"}, {"B", "Y"}}));
    EXPECT_EQ(paths(plan), (std::vector<std::string>{"MUSIC/A/X/01 T.mp3", "MUSIC/A/X/02 T.mp3",
                                                     "MUSIC/B/Y/01 T.mp3"}));
    ASSERT_EQ(plan.items.size(), 3u);
    EXPECT_EQ(plan.items[1].source, "/m/A/X/2.flac");
    EXPECT_EQ(plan.items[1].key, "MUSIC/A/X/02 T.mp3");
    EXPECT_EQ(plan.items[2].albumIndex, 1);
    EXPECT_EQ(plan.duplicates, 0);
}

TEST(Planner, SecondCopyOfAnAlbumIsPlannedOnce) {
    for (bool asciiOnly : {false, true}) {
        const std::string title = asciiOnly ? "\u590F\u306E\u6B4C" : "Summer";
        const std::vector<Planner::Track> tracks = joined({
            album("/m/A/" + title + " (FLAC)", "A", title, 4),
            album("/m/A/" + title + " (MP3)", "A", title, 4),
        });
        const ConversionPlan plan =
            Planner{makeProfile(Layout::artistAlbum, "MUSIC", 0, asciiOnly)}.plan(tracks);
        EXPECT_EQ(plan.items.size(), 4u) << asciiOnly;
        EXPECT_EQ(plan.duplicates, 4) << asciiOnly;
        EXPECT_EQ(plan.albums.size(), 1u) << asciiOnly;
        for (const ConversionPlan::Item& item : plan.items) {
            EXPECT_TRUE(item.source.string().ends_with(".flac")) << item.source;
            EXPECT_TRUE(item.source.parent_path().string().ends_with("(FLAC)")) << item.source;
        }
    }
}

TEST(Planner, AlbumsThatOnlyTheirNumberTellsApartKeepAllTracks) {
    // Titles in Japanese script keep nothing under an ASCII-only profile, so
    // only the album's position names its folder.
    for (Layout layout : {Layout::artistAlbum, Layout::album, Layout::artist}) {
        const std::vector<Planner::Track> tracks = joined({
            album("/m/A/one", "A", "\u590F\u306E\u6B4C", 6),
            album("/m/A/two", "A", "\u51AC\u306E\u6B4C", 6),
        });
        const ConversionPlan plan = Planner{makeProfile(layout, "MUSIC", 0, true)}.plan(tracks);
        EXPECT_EQ(plan.items.size(), 12u) << static_cast<int>(layout);
        EXPECT_EQ(plan.duplicates, 0) << static_cast<int>(layout);
        expectOnePlacePerItem(plan);
    }
    const ConversionPlan plan = Planner{makeProfile(Layout::artistAlbum, "MUSIC", 0, true)}.plan(
        joined({album("/m/A/one", "A", "\u590F", 1), album("/m/A/two", "A", "\u51AC", 1)}));
    EXPECT_EQ(paths(plan), (std::vector<std::string>{"MUSIC/A/Album 0001/01 Song 1.mp3",
                                                     "MUSIC/A/Album 0002/01 Song 1.mp3"}));
}

TEST(Planner, DifferentSongsThatTheCardMakesAlikeAllLand) {
    // Like the delivered Shift-JIS profile: 32 columns, 255 files a folder.
    DeviceProfile shiftJIS = makeProfile(Layout::artistAlbum, "MUSIC", 255);
    shiftJIS.tags.encoding = DeviceProfile::Tags::Encoding::shiftJIS;
    shiftJIS.files.displayWidthMax = 32;
    const std::string live = "Recordings From The Big Hall Tour Live ";
    struct Case {
        std::string name;
        DeviceProfile profile;
        std::vector<Planner::Track> tracks;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"Korean albums of one artist under Shift-JIS",
         shiftJIS,
         joined({album("/m/IU/1", "IU", "\uAF43\uAC08\uD53C", 2, "\uB178\uB798"),
                 album("/m/IU/2", "IU", "\uD314\uB808\uD2B8", 2, "\uB178\uB798")}),
         {"MUSIC/IU/___/01 __ 1.mp3", "MUSIC/IU/___/02 __ 2.mp3", "MUSIC/IU/___ 2/01 __ 1.mp3",
          "MUSIC/IU/___ 2/02 __ 2.mp3"}},
        {"two live albums cut to 32 columns",
         shiftJIS,
         joined({album("/m/A/62", "A", live + "1962", 1), album("/m/A/77", "A", live + "1977", 1)}),
         {"MUSIC/A/Recordings From The Big Hall Tou/01 Song 1.mp3",
          "MUSIC/A/Recordings From The Big Hall T 2/01 Song 1.mp3"}},
        {"album artists differing in case",
         makeProfile(Layout::artistAlbum),
         {{"/m/1.flac", meta("abc", "X", "1")}, {"/m/2.flac", meta("ABC", "X", "1")}},
         {"MUSIC/abc/X/01 T.mp3", "MUSIC/ABC/X 2/01 T.mp3"}},
        {"titles differing in case",
         makeProfile(Layout::artistAlbum),
         {{"/m/1.flac", meta("A", "X", "1", "Song")}, {"/m/2.flac", meta("A", "X", "1", "SONG")}},
         {"MUSIC/A/X/01 Song.mp3", "MUSIC/A/X/01 SONG 2.mp3"}},
        {"three titles alike, and a title that looks numbered",
         makeProfile(Layout::artistAlbum),
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
         {{"/m/1.flac", meta("A", "Hits", "1", "One")}, {"/m/2.flac", meta("B", "Hits", "2", "Two")}},
         {"MUSIC/Hits/01 One.mp3", "MUSIC/Hits/02 Two.mp3"}},
        {"a numbered album folder passes over overflow folders",
         makeProfile(Layout::album, "", 2),
         joined({album("/m/F", "A", "F", 3), album("/m/f", "B", "f", 1, "Other")}),
         {"F/01 Song 1.mp3", "F/02 Song 2.mp3", "F 2/03 Song 3.mp3", "f 3/01 Other 1.mp3"}},
        {"a numbered album folder overflows as any folder does",
         makeProfile(Layout::album, "", 1),
         joined({album("/m/f", "B", "f", 1, "Other"), album("/m/F", "A", "F", 1),
                 album("/m/F2", "A", "F", 1, "More")}),
         {"f/01 Other 1.mp3", "F 2/01 Song 1.mp3", "F 2 2/01 More 1.mp3"}},
    };
    for (const Case& c : cases) {
        const ConversionPlan plan = Planner{c.profile}.plan(c.tracks);
        EXPECT_EQ(paths(plan), c.expected) << c.name;
        EXPECT_EQ(plan.duplicates, 0) << c.name;
        expectOnePlacePerItem(plan);
    }
}

TEST(Planner, TrueDuplicateTakesNoRoomInItsFolder) {
    const std::vector<Planner::Track> tracks = {
        {"/m/1.flac", meta("A", "F", "1", "a")},
        {"/m/copy/1.flac", meta("A", "F", "1", "a")},
        {"/m/3.flac", meta("A", "F", "2", "b")},
    };
    const ConversionPlan plan = Planner{makeProfile(Layout::album, "", 2)}.plan(tracks);
    EXPECT_EQ(paths(plan), (std::vector<std::string>{"F/01 a.mp3", "F/02 b.mp3"}));
    EXPECT_EQ(plan.duplicates, 1);
}

TEST(Planner, FullFoldersOverflowIntoNumberedFolders) {
    struct Case {
        std::string name;
        DeviceProfile profile;
        std::vector<Planner::Track> tracks;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"no limit",
         makeProfile(Layout::album, "", 0),
         album("/m/F", "A", "F", 5),
         {"F/01 Song 1.mp3", "F/02 Song 2.mp3", "F/03 Song 3.mp3", "F/04 Song 4.mp3",
          "F/05 Song 5.mp3"}},
        {"two per folder",
         makeProfile(Layout::album, "", 2),
         album("/m/F", "A", "F", 5),
         {"F/01 Song 1.mp3", "F/02 Song 2.mp3", "F 2/03 Song 3.mp3", "F 2/04 Song 4.mp3",
          "F 3/05 Song 5.mp3"}},
        {"a shared folder shares its count and its redirect",
         makeProfile(Layout::album, "", 2),
         joined({album("/m/A", "A", "F", 3), album("/m/B", "B", "F", 2, "Other")}),
         {"F/01 Song 1.mp3", "F/02 Song 2.mp3", "F 2/03 Song 3.mp3", "F 2/01 Other 1.mp3",
          "F 3/02 Other 2.mp3"}},
        {"the suffix goes on the last component, uncut",
         [] {
             DeviceProfile p = makeProfile(Layout::artistAlbum, "MUSIC", 1);
             p.files.nameMax = 2;
             return p;
         }(),
         album("/m/X", "A", "X", 2),
         {"MUSIC/A/X/01.mp3", "MUSIC/A/X 2/02.mp3"}},
        {"flat with root overflows beside the root",
         makeProfile(Layout::flat, "MUSIC", 1),
         album("/m/X", "A", "X", 2),
         {"MUSIC/A - 01 Song 1.mp3", "MUSIC 2/A - 02 Song 2.mp3"}},
        {"flat without root is never counted",
         makeProfile(Layout::flat, "", 1),
         album("/m/X", "A", "X", 3),
         {"A - 01 Song 1.mp3", "A - 02 Song 2.mp3", "A - 03 Song 3.mp3"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(paths(Planner{c.profile}.plan(c.tracks)), c.expected) << c.name;
    }
}

TEST(Planner, OverflowSkipsFoldersThatAreAlreadyFull) {
    const Planner planner{makeProfile(Layout::album, "", 1)};
    Planner::FolderCounts counts{{"F 2", 1}, {"F 3", 0}};
    Planner::FolderRedirects redirects;
    const TrackMeta m = meta("A", "F", "1");
    EXPECT_EQ(planner.splitFolder(m, 1, 0, counts, redirects), "F/01 T.mp3");
    EXPECT_EQ(planner.splitFolder(m, 1, 0, counts, redirects), "F 3/01 T.mp3");
    EXPECT_EQ(redirects.at("F"), "F 3");
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
    EXPECT_EQ(Planner{makeProfile(Layout::artistAlbum)}.albumNumbers(albums),
              (std::vector<std::int64_t>(7, 0)));
    EXPECT_EQ(Planner{makeProfile(Layout::artist)}.albumNumbers({{"A", "Same"}, {"A", "Same"}}),
              (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(Planner{makeProfile(Layout::artist)}.albumNumbers(
                  {{"A", "Beta"}, {"A", "Alpha"}, {"A", "Gamma"}}),
              (std::vector<std::int64_t>{2, 1, 3}));
}

TEST(Planner, UnifyAlbumArtistsGivesAnAlbumFolderItsDominantAlbumArtist) {
    using Source = std::pair<std::string, TrackMeta>;
    using Artists = std::pair<std::string, std::string>;  // albumArtist, artist
    struct Case {
        std::string name;
        std::vector<Source> tracks;
        std::vector<Artists> expected;
    };
    const std::vector<Case> cases = {
        {"seven P against three Q",
         concat<Source>({repeat<Source>(2, {"/m/X/a.flac", meta("Q", "X", "1", "T", "Q")}),
                         repeat<Source>(6, {"/m/X/b.flac", meta("P", "X", "1", "T", "Someone")}),
                         repeat<Source>(1, {"/m/X/c.flac", meta("Q", "X", "1", "T", " q ")}),
                         repeat<Source>(1, {"/m/X/d.flac", meta("P", "X", "1", "T", "Other")})}),
         concat<Artists>({repeat<Artists>(2, {"P", "P"}),
                          repeat<Artists>(6, {"P", "Someone"}),
                          {{"P", "P"}, {"P", "Other"}}})},
        {"a tie goes to the earliest track",
         {{"/m/X/1.flac", meta("Q", "X", "1")},
          {"/m/X/2.flac", meta("P", "X", "1")},
          {"/m/X/3.flac", meta("P", "X", "1")},
          {"/m/X/4.flac", meta("Q", "X", "1")}},
         {{"Q", "Q"}, {"Q", "Q"}, {"Q", "Q"}, {"Q", "Q"}}},
        {"loosely equal album titles are one album",
         {{"/m/X/1.flac", meta("P", "The Album", "1")},
          {"/m/X/2.flac", meta("Q", "the\u3000album", "1")},
          {"/m/X/3.flac", meta("P", "THEALBUM", "1")}},
         {{"P", "P"}, {"P", "P"}, {"P", "P"}}},
        {"a compilation without album artists keeps every track's artist",
         {{"/m/X/1.flac", meta("Singer 1", "Hits", "1")},
          {"/m/X/2.flac", meta("Singer 2", "Hits", "2")},
          {"/m/X/3.flac", meta("Singer 3", "Hits", "3")},
          {"/m/X/4.flac", meta("Singer 4", "Hits", "4")}},
         {{"Singer 1", "Singer 1"},
          {"Singer 1", "Singer 2"},
          {"Singer 1", "Singer 3"},
          {"Singer 1", "Singer 4"}}},
        {"different folders are never grouped",
         {{"/m/X/1.flac", meta("P", "X", "1")}, {"/m/Y/1.flac", meta("Q", "X", "1")}},
         {{"P", "P"}, {"Q", "Q"}}},
        {"loosely different titles are never grouped",
         {{"/m/X/1.flac", meta("P", "X", "1")}, {"/m/X/2.flac", meta("Q", "X2", "1")}},
         {{"P", "P"}, {"Q", "Q"}}},
    };
    for (const Case& c : cases) {
        std::vector<std::filesystem::path> sources;
        std::vector<TrackMeta> metas;
        for (const auto& [source, m] : c.tracks) {
            sources.emplace_back(source);
            metas.push_back(m);
        }
        const Planner::Corrections corrections = Planner::unifyAlbumArtists(sources, metas);
        ASSERT_EQ(c.expected.size(), metas.size()) << c.name;
        for (std::size_t i = 0; i < metas.size(); ++i) {
            const auto found = corrections.find(i);
            const TrackMeta& result = found == corrections.end() ? metas[i] : found->second;
            EXPECT_EQ(result.albumArtist, c.expected[i].first) << c.name << " #" << i;
            EXPECT_EQ(result.artist, c.expected[i].second) << c.name << " #" << i;
            // Only changed records are listed, and nothing but the two artists changes.
            if (found != corrections.end()) {
                EXPECT_TRUE(result.artist != metas[i].artist ||
                            result.albumArtist != metas[i].albumArtist)
                    << c.name << " #" << i;
                EXPECT_EQ(result.title, metas[i].title);
                EXPECT_EQ(result.album, metas[i].album);
            }
        }
    }
}

TEST(Planner, FinalPassWithoutRealChangesRepeatsTheFirstPass) {
    const Planner planner{makeProfile(Layout::artist, "MUSIC", 2)};
    const ConversionPlan first = planner.plan(joined({
        album("/m/A/Beta", "A", "Beta", 3),
        album("/m/A/Alpha", "A", "Alpha", 2),
        album("/m/A/Alpha copy", "A", "Alpha", 2),
    }));
    Planner::Corrections corrections;
    for (std::size_t i = 0; i < first.items.size(); ++i)
        corrections.emplace(i, first.items[i].meta);
    EXPECT_EQ(planner.planFinal(first, corrections), first);
    EXPECT_EQ(first.duplicates, 2);
}

TEST(Planner, FinalPassRenamesWithinTheAlbumSlotAndYieldsTakenPlaces) {
    const Planner planner{makeProfile(Layout::artistAlbum)};
    const ConversionPlan first =
        planner.plan(joined({album("/m/A/X", "A", "X", 2), album("/m/B/Y", "B", "Y", 1)}));
    TrackMeta renamed = first.items[0].meta;
    renamed.title = "Fixed";
    renamed.album = "New X";
    TrackMeta clash = first.items[1].meta;
    clash.track = "1";  // would land on the first item's place
    clash.title = "Fixed";
    clash.album = "New X";
    TrackMeta moved = first.items[2].meta;
    moved.album = "X";  // the album changes, the album slot does not
    moved.albumArtist = "A";

    const ConversionPlan final = planner.planFinal(first, {{0, renamed}, {1, clash}, {2, moved}});
    EXPECT_EQ(paths(final),
              (std::vector<std::string>{"MUSIC/A/New X/01 Fixed.mp3", "MUSIC/A/X/02 Song 2.mp3",
                                        "MUSIC/A/X/01 Song 1.mp3"}));
    EXPECT_EQ(final.items[1].meta, first.items[1].meta);
    EXPECT_EQ(final.items[2].albumIndex, 1);
    EXPECT_EQ(final.albums, first.albums);
    EXPECT_EQ(final.duplicates, 0);
    expectOnePlacePerItem(final);
}

}  // namespace
}  // namespace tarvik
