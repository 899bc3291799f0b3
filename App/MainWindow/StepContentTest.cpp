#include <gtest/gtest.h>

#include "App/MainWindow/StepContent.hpp"

namespace tarvik {
namespace {

using namespace StepContent;

// A music folder that went away is said so, in the warning colour, and its
// ticks are not counted meanwhile.
TEST(MusicStepContentTest, TheFolderComesFirstThenTheSelectionIsCounted) {
    const struct {
        std::string folder;
        std::set<std::string> selected;
        std::string text;
        bool success;
        bool missing = false;
    } cases[] = {
        {"/music",
         {"A", "B"},
         "音楽フォルダが見つかりません。つなぎ直すか、選び直してください。",
         false,
         true},
        {"/music",
         {"A", "B", "C", "D/1", "E/2"},
         "3 組のアーティストと 2 枚のアルバムを選んでいます",
         true},
        {"/music", {"D/1", "E/2"}, "2 枚のアルバムを選んでいます", true},
        {"/music", {"A", "B", "C"}, "3 組のアーティストを選んでいます", true},
        {"/music", {}, "左の一覧で、入れたいアーティストにチェックを付けてください。", false},
        {"",
         {"A"},
         "音楽ファイル（FLAC / WAV / MP3 など）",
         false},  // a selection restored without a folder
    };
    for (const auto& c : cases) {
        const Status status = musicStatus(c.folder, c.selected, c.missing);
        EXPECT_TRUE(status.text.starts_with(c.text)) << status.text;
        EXPECT_EQ(status.success, c.success) << c.text;
        EXPECT_EQ(status.warning, c.missing) << c.text;
    }
}

TEST(SidebarContentTest, TickingAnArtistDropsItsAlbumEntriesOnlyAndEntriesAreInScalarOrder) {
    EXPECT_EQ(ticked({"A/B", "A/C", "AB/D", "X"}, "A"), (std::set<std::string>{"A", "AB/D", "X"}));
    EXPECT_EQ(unticked({"A", "A/B"}, "A"), (std::set<std::string>{"A/B"}));  // album entries stay
    // A decomposed name is the same artist.
    EXPECT_EQ(ticked({"\u30AC/1"}, "\u30AB\u3099"), (std::set<std::string>{"\u30AC"}));
    EXPECT_TRUE(isTicked({"\u30AC"}, "\u30AB\u3099"));
    EXPECT_EQ(withShown({"Z/1", "Q"}, {"A", "B"}), (std::set<std::string>{"A", "B", "Q", "Z/1"}));
    EXPECT_EQ(albumEntries({"b/2", "B/1", "Artist", "a/9"}),
              (std::vector<std::string>{"B/1", "a/9", "b/2"}));
    EXPECT_EQ(albumEntryText("A/B"), "A ／ B");
    // Names that are not UTF-8: each row and tick by its bytes, shown as best it reads.
    const std::string test = "\x83\x65\x83\x58\x83\x67lib";
    const std::string tesu = "\x83\x65\x83\x58lib";
    EXPECT_EQ(ticked({tesu}, test), (std::set<std::string>{tesu, test}));
    EXPECT_FALSE(isTicked({tesu}, test));
    EXPECT_EQ(albumEntryText(test + "/Album"), "テストlib ／ Album");
    EXPECT_EQ(artistRow(test), (ArtistRow{"テストlib", std::string(unreadableNameNote)}));
    EXPECT_EQ(artistRow("テスト"), (ArtistRow{"テスト", std::nullopt}));
    EXPECT_EQ(sidebarEmptyText("/music", true),
              "音楽フォルダが見つかりません。\nつなぎ直すか、選び直してください。");
}

DeviceProfile profile(std::int64_t bitrate) {
    DeviceProfile p("p", "Unit");
    p.audio.bitrate = bitrate;
    return p;
}

// The review sheet's estimate: the headroom the run keeps free (600 seconds
// of audio and 50 MiB) is taken off first, so a 32 GB card holds 5103 songs
// at 192 kbit/s (5114 before the headroom) and a 64 MB card none.
TEST(CardStepContentTest, SongEstimateIsCutTowardsZeroAndNeedsAUsableBitRate) {
    const Volume card{"/media/u/SD", "SD", 31'914'983'424, true};
    const Volume small{"/media/u/SD", "SD", 64'000'000, true};
    const Volume empty{"/media/u/SD", "SD", 0, true};
    const struct {
        const Volume* volume;
        std::optional<std::int64_t> bitrate;
        std::optional<std::string> text;
    } cases[] = {
        {&card, 192, "約 5103 曲入ります"},
        {&card, 128, "約 7656 曲入ります"},
        {&small, 128, "約 0 曲入ります"},
        {&empty, 128, "約 0 曲入ります"},
        // A profile file that was never validated: no estimate rather than infinity.
        {&card, 0, std::nullopt},
        {&card, -192, std::nullopt},
        {nullptr, 128, std::nullopt},
        {&card, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const DeviceProfile p = profile(c.bitrate.value_or(128));
        EXPECT_EQ(capacityText(c.volume, c.bitrate ? &p : nullptr, 50), c.text)
            << c.bitrate.value_or(-1);
    }
}

TEST(CardStepContentTest, DestinationListAndParentFolder) {
    const std::vector<Volume> volumes{{"/", "System", 5'000'000'000, false},
                                      {"/media/u/SD", "SD", 1'200'000'000, true}};
    EXPECT_EQ(destinationEntries(volumes, "/home/u/out", nullptr),
              (std::vector<DestinationEntry>{{"", "選んでください"},
                                             {"/", "（内蔵）System — 空き 5 GB"},
                                             {"/media/u/SD", "SD — 空き 1.2 GB"},
                                             {"/home/u/out", "フォルダ: /home/u/out"}}));
    EXPECT_EQ(destinationEntries(volumes, "/media/u/SD", &volumes[1]).size(), 3U);
    EXPECT_TRUE(showsInsertHint({volumes[0]}, ""));
    EXPECT_FALSE(showsInsertHint({volumes[0]}, "/x"));
    EXPECT_FALSE(showsInsertHint(volumes, ""));
    for (const auto& [path, parent] :
         std::vector<std::pair<std::string, std::string>>{{"/media/u/SD/Artist", "/media/u/SD"},
                                                          {"/media/u/SD/Artist/", "/media/u/SD"},
                                                          {"/top", "/"},
                                                          {"/", "/"},
                                                          {"//", "/"},
                                                          {"name", ""}})
        EXPECT_EQ(parentFolder(path), parent) << path;
}

TEST(CardStepContentTest, ProfileSummariesAndLabels) {
    DeviceProfile mp3("a", "A");
    mp3.audio.bitrate = 192;
    mp3.tags.artwork.enabled = true;
    mp3.files.root = "MUSIC";
    mp3.files.asciiOnly = true;
    mp3.files.maxPerFolder = 255;
    EXPECT_EQ(profileSummary(mp3),
              "MP3 ・ 音質: 標準 ・ ジャケット画像あり ・ MUSIC/アーティスト/アルバム ・ "
              "英数字ファイル名 ・ 1 フォルダ 255 曲まで");
    DeviceProfile aac("b", "B");
    aac.audio.codec = DeviceProfile::Audio::Codec::aac;
    aac.audio.bitrate = 256;
    aac.files.root = "";
    aac.files.layout = DeviceProfile::Files::Layout::flat;
    EXPECT_EQ(
        profileSummary(aac),
        "AAC (m4a) ・ 音質: 高音質（容量を多く使う） ・ ジャケット画像なし ・ 全曲 1 フォルダ");
    for (const auto& [bitrate, quality] :
         std::vector<std::pair<std::int64_t, std::string>>{{96, "音質: 小さめ（たくさん入る）"},
                                                           {128, "音質: 小さめ（たくさん入る）"},
                                                           {129, "音質: 標準"},
                                                           {192, "音質: 標準"},
                                                           {193, "音質: 高音質（容量を多く使う）"}})
        EXPECT_NE(profileSummary(profile(bitrate)).find(quality), std::string::npos) << bitrate;
    aac.verified = DeviceProfile::Verified{"2024-05-01", ""};
    aac.files.layout = DeviceProfile::Files::Layout::artist;
    EXPECT_TRUE(profileSummary(aac).ends_with("アーティスト/アルバム ・ 実機確認 2024-05-01"));

    DeviceProfile p("p", "ナビ");
    for (const auto& [builtin, verified, label] : {std::tuple{true, false, "ナビ（試験的）"},
                                                   {false, false, "ナビ（自分で作った）"},
                                                   {false, true, "ナビ  ✓ 確認済み"}}) {
        p.isBuiltin = builtin;
        p.verified =
            verified ? std::optional(DeviceProfile::Verified{"2024-01-01", ""}) : std::nullopt;
        EXPECT_EQ(profileItemLabel(p), label);
    }
}

TEST(CardStepContentTest, NewProfileNameCutsTwelveGraphemes) {
    // "e" with a combining acute counts once: twelve clusters are thirteen scalars here.
    DeviceProfile source("src", "Ve\u0301nus-Navi-2000-XL");
    source.verified = DeviceProfile::Verified{"2024-01-01", "ok"};
    source.fileURL = "/p/src.json";
    source.audio.bitrate = 320;
    const DeviceProfile copy = newProfileFrom(source);
    EXPECT_EQ(copy.name, "うちのナビ（Ve\u0301nus-Navi-2…）");
    EXPECT_TRUE(copy.id.empty() && !copy.verified && !copy.fileURL);
    EXPECT_EQ(copy.audio.bitrate, 320);
    EXPECT_EQ(newProfileFrom(DeviceProfile("s", "短い")).name, "うちのナビ（短い…）");
}

}  // namespace
}  // namespace tarvik
