// Cards written before files named their album, or by anyone else: a file
// without identity is a track only when its tags, as far as its own tag form
// holds them, and its length are the track's; it is the album's when it is
// one of its tracks or names the album unmistakably, nobody's when it tells
// nothing; a folder holding another album's file is never merged into. Real
// ffmpeg throughout.
#include "Core/Pipeline/CardTrackMatch.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik {
namespace {

using namespace testing;

// Every audio file below `folder` as written before the identity.
void forgetAlbums(const fs::path& folder) {
    for (const std::string& path : pathsBelow(folder)) forgetAlbum(folder / path);
}

// 꽃갈피 on an older card at "IU/___", then 팔레트, whose name the Shift-JIS
// unit also reads as "___"; a stranger's tagged "09 Other.mp3" (album Road,
// artist Stranger) in "Walker/Road", then Walker's own Road. Neither album
// goes into the other's folder: the older folder's names agree with 팔레트's
// only as far as the card holds them, and its songs are 꽃갈피's, so it
// stays 꽃갈피's and 팔레트 takes "___ 2".
TEST(OlderCards, AFolderWithAnotherAlbumsFilesIsNeverMergedInto) {
    const DeviceProfile korean = deliveredProfile("panasonic-hds940d");
    const DeviceProfile plain("test", "Test");
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeAlbum(music, "IU", "\uAF43\uAC08\uD53C", 500);             // 꽃갈피
    makeAlbum(music, "IU", "\uD314\uB808\uD2B8", 700, "Palette");  // 팔레트
    exportSelection(card, music, korean, {"IU/\uAF43\uAC08\uD53C"});
    forgetAlbums(card);
    const std::map<std::string, std::string> older = filesBelow(card);
    const auto events = exportSelection(card, music, korean, {});
    EXPECT_EQ(trace(events, "notice"),
              Texts{"notice 「___」には別のアルバムがあるため「___ 2」に書き出しました"});
    EXPECT_EQ(trace(events, "skipped"),
              (Texts{"skipped MUSIC/IU/___/01 Song 1.mp3", "skipped MUSIC/IU/___/02 Song 2.mp3"}));
    EXPECT_EQ(filesBelow(card / "MUSIC/IU/___").size(), 2U);
    for (const auto& [path, bytes] : older) EXPECT_EQ(readFile(card / path), bytes) << path;
    EXPECT_EQ(pathsBelow(card / "MUSIC/IU/___ 2"), (Texts{"01 Palette.mp3", "02 Song 2.mp3"}));

    makeTones(temp / "stranger", 1.0, {"Stranger/Road|Other|Stranger|9"});
    exportSelection(temp / "theirs", temp / "stranger", plain, {});
    forgetAlbums(temp / "theirs");
    fs::create_directories(card / "MUSIC/Walker/Road");
    fs::copy(temp / "theirs/MUSIC/Stranger/Road/09 Other.mp3",
             card / "MUSIC/Walker/Road/09 Other.mp3");
    makeAlbum(music, "Walker", "Road", 900);
    exportSelection(card, music, plain, {"Walker"});
    EXPECT_EQ(pathsBelow(card / "MUSIC/Walker"),
              (Texts{"Road 2/01 Song 1.mp3", "Road 2/02 Song 2.mp3", "Road/09 Other.mp3"}));
}

// Names the Shift-JIS form has no code for are "?" on the card: an album
// exported alone onto an older folder of another whose album (or album
// artist) reads the same there, but whose songs are others, is never taken
// for it, nor written beside it; the older files stay as they are.
TEST(OlderCards, NamesTheShiftJISFormCantHoldTellNoAlbumApart) {
    const DeviceProfile korean = deliveredProfile("panasonic-hds940d");
    struct Case {
        std::string name;
        std::pair<std::string, std::string> older, exported;  // artist, album
        std::string folder;                                   // the older album's on the card
    };
    const std::vector<Case> cases = {
        {"albums", {"IU", "\uAF43\uAC08\uD53C"}, {"IU", "\uD314\uB808\uD2B8"}, "MUSIC/IU/___"},
        {"album artists",
         {"\uC544\uC774\uC720", "Best"},
         {"\uD0DC\uC5F0\uC774", "Best"},
         "MUSIC/___/Best"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeAlbum(music, c.older.first, c.older.second, 500);
        makeAlbum(music, c.exported.first, c.exported.second, 700, "Another Song");
        exportSelection(card, music, korean, {c.older.first + "/" + c.older.second});
        forgetAlbums(card);
        const std::map<std::string, std::string> before = filesBelow(card);
        const auto events =
            exportSelection(card, music, korean, {c.exported.first + "/" + c.exported.second});
        const std::string name = fs::path(c.folder).filename();
        EXPECT_EQ(trace(events, "notice"),
                  Texts{"notice 「" + name + "」には別のアルバムがあるため「" + name +
                        " 2」に書き出しました"});
        EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0");
        std::map<std::string, std::string> after = filesBelow(card);
        for (const auto& [path, bytes] : before) {
            EXPECT_EQ(after[path], bytes) << path;
            after.erase(path);
        }
        EXPECT_EQ(after.size(), 2U);
        for (const auto& [path, bytes] : after) EXPECT_TRUE(path.starts_with(c.folder + " 2/"));
    }
}

// An ID3v1-only unit, then an ID3v2 one: the first card's files carry no
// identity and titles cut to 30 bytes, in Latin-1 or Shift-JIS; the second
// export finds every track by what that form holds and writes nothing.
TEST(OlderCards, FilesAnID3v1UnitGotAreFoundByWhatThatFormHolds) {
    for (const auto& [encoding, title] : titlesPastTheTrailer()) {
        SCOPED_TRACE(title);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeAlbum(music, "Band", "Album", 500, title);
        exportSelection(card, music, id3v1Profile(encoding), {});
        const Texts before = pathsBelow(card);
        ASSERT_EQ(before.size(), 2U);
        const auto events = exportSelection(card, music, DeviceProfile("test", "Test"), {});
        EXPECT_EQ(describe(events.back()), "done 0 skipped 2 failed 0");
        EXPECT_EQ(pathsBelow(card), before);
    }
}

// The tags and the length that make a card file without identity a track.
TEST(OlderCards, AFileWithoutIdentityIsATrackByTagsAndLength) {
    TempDir temp;
    makeAlbum(temp / "music", "Band", "Album", 500);
    makeTone(temp / "long.flac", {.seconds = 3.0});
    exportSelection(temp / "card", temp / "music", DeviceProfile("test", "Test"), {});
    const fs::path file = temp / "card/MUSIC/Band/Album/01 Song 1.mp3";
    forgetAlbum(file);
    const ConversionPlan::Item item{temp / "music/Band/Album/1.flac",
                                    TrackMeta("Song 1", "Band", "Band", "Album", "1", "", "", ""),
                                    "", "", 0};
    const std::vector<std::pair<std::string, std::function<void(ConversionPlan::Item&)>>> cases = {
        {"the same", [](auto&) {}},
        {"another title", [](auto& i) { i.meta.title = "Song 2"; }},
        {"another artist", [](auto& i) { i.meta.artist = "Other"; }},
        {"another album", [](auto& i) { i.meta.album = "Album 2"; }},
        {"another album artist", [](auto& i) { i.meta.albumArtist = "Various"; }},
        {"another track", [&](auto& i) { i.meta.track = "2"; }},
        {"another length", [&](auto& i) { i.source = temp / "long.flac"; }},
    };
    for (const auto& [name, change] : cases) {
        ConversionPlan::Item other = item;
        change(other);
        EXPECT_EQ(CardTrackMatch::sameTrack(other, file, {}), name == "the same") << name;
    }
}

// What a re-export finds in an album's folder that is no track of today's:
// a stray (an empty or untagged file) or a track the library no longer has.
// The folder stays the album's, nothing is written over or removed, a
// stray is told, and a retitled track's copy takes its new title.
TEST(OlderCards, StraysAndFormerTracksKeepTheFolderTheAlbums) {
    struct Case {
        std::string name;
        bool older;  // the card written before files named their album
        std::function<void(const fs::path& music, const fs::path& card)> change;
        Texts told;  // notices, then converted tracks
    };
    const fs::path folder = "MUSIC/Band/Best";
    const std::vector<Case> cases = {
        {"a zero-byte stray beside files that name their album",
         false,
         [&](auto&, auto& card) { writeFile(card / folder / "03 Song 3.mp3", ""); },
         {"notice 「MUSIC/Band/Best/03 Song 3.mp3」は空のファイルのため、そのままにしました"}},
        {"an untagged stray on an older card",
         true,
         [&](auto&, auto& card) {
             makeTone(card / folder / "x.mp3",
                      {.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
         },
         {"notice 「MUSIC/Band/Best/x.mp3」はタグを読めないファイルのため、そのままにしました"}},
        {"a track deleted from the library",
         true,
         [](auto& music, auto&) { fs::remove(music / "Band/Best/2.flac"); },
         {}},
        {"a track retitled in the library",
         true,
         [](auto& music, auto&) { makeAlbum(music, "Band", "Best", 500, "Song One"); },
         {"notice 「MUSIC/Band/Best/01 Song 1.mp3」は曲名か番号が変わったため、「01 Song "
          "One.mp3」に名前を変えて書き直します",
          "converted MUSIC/Band/Best/01 Song One.mp3"}},
    };
    const DeviceProfile plain("test", "Test");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeAlbum(music, "Band", "Best", 500);
        exportSelection(card, music, plain, {});
        if (c.older) forgetAlbums(card);
        c.change(music, card);
        Texts expected = pathsBelow(card);
        const auto events = exportSelection(card, music, plain, {});
        Texts told = trace(events, "notice");
        for (const std::string& line : trace(events, "converted")) {
            told.push_back(line);
            expected.push_back(line.substr(std::string_view("converted ").size()));
        }
        // A copy renamed to its song's new title is there once, by that title.
        if (!trace(events, "notice 「MUSIC/Band/Best/01 Song 1.mp3」は曲名").empty()) {
            std::erase(expected, "MUSIC/Band/Best/01 Song 1.mp3");
        }
        EXPECT_EQ(told, c.told);
        std::ranges::sort(expected);
        EXPECT_EQ(pathsBelow(card), expected);
    }
}

// Telling an older card's files for today's tracks runs no child: a plan
// re-exported onto it with an ffmpeg that notes every run of it.
TEST(OlderCards, FindingTracksOnAnOlderCardRunsNoChild) {
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeAlbum(music, "Band", "Best", 500);
    makeAlbum(music, "Band", "Worst", 700);
    exportSelection(card, music, DeviceProfile("test", "Test"), {});
    forgetAlbums(card);
    ConversionRunner runner = runnerFor(card, 2, "/usr/bin/ffmpeg", music);
    const ConversionPlan plan = runner.plan(nullptr, {});
    const CountingFFmpeg counting(temp / "counting");
    runner.ffmpeg = counting.program;
    const auto events = runToTheEnd(runner, plan);
    EXPECT_EQ(describe(events.back()), "done 0 skipped 4 failed 0");
    EXPECT_EQ(counting.peak(), 0);
}

// Under the "album" layout albums of one title share a folder: a file
// without identity there is a track only by its own tags and length, so
// artist B's "Song" goes beside artist A's, never taken for it.
TEST(OlderCards, UnderTheAlbumLayoutAnotherArtistsSongIsNoTrack) {
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeTones(music, 1.0, {"A/Best|Song|A|1", "B/Best|Song|B|1"});
    DeviceProfile byAlbum("test", "Test");
    byAlbum.files.layout = DeviceProfile::Files::Layout::album;
    exportSelection(card, music, byAlbum, {"A"});
    forgetAlbums(card);
    const auto events = exportSelection(card, music, byAlbum, {"B"});
    EXPECT_EQ(trace(events, "converted"), Texts{"converted MUSIC/Best/01 Song 2.mp3"});
    EXPECT_EQ(pathsBelow(card), (Texts{"MUSIC/Best/01 Song 2.mp3", "MUSIC/Best/01 Song.mp3"}));
}

// A card file names its album only where its form holds both names whole.
TEST(OlderCards, AFileNamesItsAlbumOnlyWhereItsFormHoldsTheNamesWhole) {
    using Naming = CardTrackMatch::Naming;
    const auto v2 = [](const std::string& album, const std::string& albumArtist) {
        CardTrackMatch::CardFile card;
        card.form = CardTrackMatch::CardFile::Form::id3v2;
        card.tags.album = album;
        card.tags.albumArtist = albumArtist;
        return card;
    };
    const auto v1 = [](const std::string& album) {
        CardTrackMatch::CardFile card;
        card.form = CardTrackMatch::CardFile::Form::id3v1;
        card.trailer =
            ID3Writer{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::latin1, true}.encodeV1(
                {.album = album});
        return card;
    };
    // Shift-JIS bytes as a frame in the ISO-8859-1 code reads back.
    const auto asRead = [](std::string_view text) {
        const Bytes bytes = text::toCP932(text).value();
        const std::u32string scalars(bytes.begin(), bytes.end());
        return text::fromScalars(scalars);
    };
    const std::vector<std::tuple<std::string, CardTrackMatch::CardFile, std::string, Naming>>
        cases = {
            {"the same names", v2("Best", "Band"), "Best", Naming::same},
            {"another album artist", v2("Best", "Stranger"), "Best", Naming::differs},
            {"another album", v2("Worst", "Band"), "Best", Naming::differs},
            {"Shift-JIS bytes of names that code holds", v2(asRead("\u6771\u4EAC"), "Band"),
             "\u6771\u4EAC", Naming::same},
            {"names that code can't hold", v2("???", "Band"), "\uAF43\uAC08\uD53C",
             Naming::unclear},
            {"the trailer's album, which holds no album artist", v1("Best"), "Best",
             Naming::unclear},
            {"the trailer's other album", v1("Worst"), "Best", Naming::differs},
        };
    for (const auto& [name, card, album, expected] : cases) {
        const TrackMeta meta("Song", "Band", "Band", album, "1", "", "", "");
        EXPECT_EQ(CardTrackMatch::naming(card, meta), expected) << name;
    }
}

}  // namespace
}  // namespace tarvik
