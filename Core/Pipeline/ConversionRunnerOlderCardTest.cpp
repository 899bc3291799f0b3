// Cards written before files named their album, or by anyone else: a file
// without identity is an album's only when its tags, as far as its own tag
// form holds them, and its length are one of the album's tracks, and a folder
// holding any other audio file is never merged into. Real ffmpeg throughout.
#include "Core/Pipeline/CardTrackMatch.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

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
// goes into the other's folder; the older album is found again by its tags.
TEST(OlderCards, AFolderWithAnotherAlbumsFilesIsNeverMergedInto) {
    const DeviceProfile korean = deliveredProfile("panasonic-hds940d");
    const DeviceProfile plain("test", "Test");
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeAlbum(music, "IU", "\uAF43\uAC08\uD53C", 500);  // 꽃갈피
    makeAlbum(music, "IU", "\uD314\uB808\uD2B8", 700);  // 팔레트
    exportSelection(card, music, korean, {"IU/\uAF43\uAC08\uD53C"});
    forgetAlbums(card);
    const auto events = exportSelection(card, music, korean, {});
    EXPECT_EQ(trace(events, "notice"),
              Texts{"notice 「___」には別のアルバムがあるため「___ 2」に書き出しました"});
    EXPECT_EQ(trace(events, "skipped"),
              (Texts{"skipped MUSIC/IU/___/01 Song 1.mp3", "skipped MUSIC/IU/___/02 Song 2.mp3"}));
    EXPECT_EQ(pathsBelow(card / "MUSIC/IU/___ 2"), (Texts{"01 Song 1.mp3", "02 Song 2.mp3"}));

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

// An ID3v1-only unit, then an ID3v2 one: the first card's files carry no
// identity and titles cut to 30 bytes, in Latin-1 or Shift-JIS; the second
// export finds every track by what that form holds and writes nothing.
TEST(OlderCards, FilesAnID3v1UnitGotAreFoundByWhatThatFormHolds) {
    const std::string longTitle = "A Title Far Longer Than Thirty Bytes";
    const std::string longJapanese =
        "\u3068\u3066\u3082\u9577\u3044\u66F2\u306E\u540D\u524D"
        "\u304C\u4E09\u5341\u30D0\u30A4\u30C8\u3092\u8D85\u3048\u308B";
    const std::vector<std::pair<DeviceProfile::Tags::Encoding, std::string>> cases = {
        {DeviceProfile::Tags::Encoding::latin1, longTitle},
        {DeviceProfile::Tags::Encoding::shiftJIS, longJapanese}};
    for (const auto& [encoding, title] : cases) {
        SCOPED_TRACE(title);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeAlbum(music, "Band", "Album", 500, title);
        DeviceProfile v1("test", "Test");
        v1.tags.format = DeviceProfile::Tags::Format::id3v1;
        v1.tags.encoding = encoding;
        exportSelection(card, music, v1, {});
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
    const FFmpegRunner ffmpeg("/usr/bin/ffmpeg");
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
        EXPECT_EQ(CardTrackMatch::sameTrack(ffmpeg, other, file, {}), name == "the same") << name;
    }
}

}  // namespace
}  // namespace tarvik
