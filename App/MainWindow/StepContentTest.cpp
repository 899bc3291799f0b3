#include "App/MainWindow/StepContent.hpp"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

using namespace StepContent;

TEST(MusicStepContentTest, SelectionCountSentences) {
    const struct {
        std::set<std::string> selected;
        std::string text;
    } cases[] = {
        {{"A", "B", "C", "D/1", "E/2"}, "3 組のアーティストと 2 枚のアルバムを選んでいます"},
        {{"D/1", "E/2"}, "2 枚のアルバムを選んでいます"},
        {{"A", "B", "C"}, "3 組のアーティストを選んでいます"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(selectionCount(c.selected), c.text);
        const Status status = musicStatus("/music", c.selected);
        EXPECT_EQ(status.text, c.text);
        EXPECT_TRUE(status.success);
    }
}

TEST(MusicStepContentTest, TheMusicFolderComesFirst) {
    const Status noFolder = musicStatus("", {"A"});  // a selection restored without a folder
    EXPECT_FALSE(noFolder.success);
    EXPECT_TRUE(noFolder.text.starts_with("音楽ファイル（FLAC / WAV / MP3 など）"));
    EXPECT_EQ(musicStatus("/music", {}).text, "左の一覧で、入れたいアーティストにチェックを付けてください。");
    EXPECT_EQ(folderButtonText(""), "フォルダを選ぶ…");
    EXPECT_EQ(folderButtonText("/music"), "変更…");
}

TEST(SidebarContentTest, TickingAnArtistDropsItsAlbumEntriesOnly) {
    const std::set<std::string> selected{"A/B", "A/C", "AB/D", "X"};
    EXPECT_EQ(ticked(selected, "A"), (std::set<std::string>{"A", "AB/D", "X"}));
    // Unticking leaves album entries alone.
    EXPECT_EQ(unticked({"A", "A/B"}, "A"), (std::set<std::string>{"A/B"}));
    // A decomposed name is the same artist.
    EXPECT_EQ(ticked({"\u30AC/1"}, "\u30AB\u3099"), (std::set<std::string>{"\u30AC"}));
    EXPECT_TRUE(isTicked({"\u30AC"}, "\u30AB\u3099"));
    EXPECT_EQ(withShown({"Z/1", "Q"}, {"A", "B"}), (std::set<std::string>{"A", "B", "Q", "Z/1"}));
}

TEST(SidebarContentTest, AlbumEntriesInScalarOrderWithWideSolidus) {
    EXPECT_EQ(albumEntries({"b/2", "B/1", "Artist", "a/9"}), (std::vector<std::string>{"B/1", "a/9", "b/2"}));
    EXPECT_EQ(albumEntryText("A/B"), "A ／ B");
    EXPECT_EQ(sidebarEmptyText(""), "右の①で音楽のフォルダを選ぶと\nここに一覧が出ます");
    EXPECT_EQ(sidebarEmptyText("/m"), "このフォルダの中に\nアーティストのフォルダが見つかりません");
    EXPECT_EQ(countTail(12), "組を選択 / 全 12 組");
}

DeviceProfile profile(std::int64_t bitrate) {
    DeviceProfile p("p", "Unit");
    p.audio.bitrate = bitrate;
    return p;
}

TEST(CardStepContentTest, SongEstimateIsCutTowardsZero) {
    const Volume card{"/media/u/SD", "SD", 31'914'983'424, true};
    const DeviceProfile p192 = profile(192);
    EXPECT_EQ(capacityText(&card, &p192), "約 5114 曲入ります");
    const DeviceProfile p128 = profile(128);
    EXPECT_EQ(capacityText(&card, &p128), "約 7671 曲入ります");
    const Volume empty{"/media/u/SD", "SD", 0, true};
    EXPECT_EQ(capacityText(&empty, &p128), "約 0 曲入ります");
    // A profile file that was never validated: no estimate rather than infinity.
    for (std::int64_t bad : {0, -192}) {
        const DeviceProfile p = profile(bad);
        EXPECT_EQ(capacityText(&card, &p), std::nullopt) << bad;
    }
    EXPECT_EQ(capacityText(nullptr, &p128), std::nullopt);
    EXPECT_EQ(capacityText(&card, nullptr), std::nullopt);
}

TEST(CardStepContentTest, DestinationList) {
    const std::vector<Volume> volumes{{"/", "System", 5'000'000'000, false}, {"/media/u/SD", "SD", 1'200'000'000, true}};
    const auto entries = destinationEntries(volumes, "/home/u/out", nullptr);
    ASSERT_EQ(entries.size(), 4U);
    EXPECT_EQ(entries[0], (DestinationEntry{"", "選んでください"}));
    EXPECT_EQ(entries[1], (DestinationEntry{"/", "（内蔵）System — 空き 5 GB"}));
    EXPECT_EQ(entries[2], (DestinationEntry{"/media/u/SD", "SD — 空き 1.2 GB"}));
    EXPECT_EQ(entries[3], (DestinationEntry{"/home/u/out", "フォルダ: /home/u/out"}));
    EXPECT_EQ(destinationEntries(volumes, "/media/u/SD", &volumes[1]).size(), 3U);
    EXPECT_TRUE(showsInsertHint({volumes[0]}, ""));
    EXPECT_FALSE(showsInsertHint({volumes[0]}, "/x"));
    EXPECT_FALSE(showsInsertHint(volumes, ""));
}

TEST(CardStepContentTest, ParentFolder) {
    const struct {
        const char* path;
        const char* parent;
    } cases[] = {{"/media/u/SD/Artist", "/media/u/SD"}, {"/media/u/SD/Artist/", "/media/u/SD"}, {"/top", "/"},
                 {"/", "/"}, {"//", "/"}, {"name", ""}};
    for (const auto& c : cases) EXPECT_EQ(parentFolder(c.path), c.parent) << c.path;
}

TEST(CardStepContentTest, ProfileSummaries) {
    DeviceProfile mp3("a", "A");
    mp3.audio.bitrate = 192;
    mp3.tags.artwork.enabled = true;
    mp3.files.root = "MUSIC";
    mp3.files.asciiOnly = true;
    mp3.files.maxPerFolder = 255;
    EXPECT_EQ(profileSummary(mp3),
              "MP3 ・ 音質: 標準 ・ ジャケット画像あり ・ MUSIC/アーティスト/アルバム ・ 英数字ファイル名 ・ 1 フォルダ 255 曲まで");
    DeviceProfile aac("b", "B");
    aac.audio.codec = DeviceProfile::Audio::Codec::aac;
    aac.audio.bitrate = 256;
    aac.files.root = "";
    aac.files.layout = DeviceProfile::Files::Layout::flat;
    EXPECT_EQ(profileSummary(aac), "AAC (m4a) ・ 音質: 高音質（容量を多く使う） ・ ジャケット画像なし ・ 全曲 1 フォルダ");
    const struct {
        std::int64_t bitrate;
        const char* quality;
    } qualities[] = {{96, "音質: 小さめ（たくさん入る）"}, {128, "音質: 小さめ（たくさん入る）"}, {129, "音質: 標準"},
                     {192, "音質: 標準"}, {193, "音質: 高音質（容量を多く使う）"}};
    for (const auto& q : qualities)
        EXPECT_NE(profileSummary(profile(q.bitrate)).find(q.quality), std::string::npos) << q.bitrate;
    aac.verified = DeviceProfile::Verified{"2024-05-01", ""};
    aac.files.layout = DeviceProfile::Files::Layout::artist;
    EXPECT_TRUE(profileSummary(aac).ends_with("アーティスト/アルバム ・ 実機確認 2024-05-01"));
}

TEST(CardStepContentTest, ProfileLabels) {
    DeviceProfile p("p", "ナビ");
    p.isBuiltin = true;
    EXPECT_EQ(profileItemLabel(p), "ナビ（試験的）");
    p.isBuiltin = false;
    EXPECT_EQ(profileItemLabel(p), "ナビ（自分で作った）");
    p.verified = DeviceProfile::Verified{"2024-01-01", ""};
    EXPECT_EQ(profileItemLabel(p), "ナビ  ✓ 確認済み");
}

TEST(CardStepContentTest, NewProfileNameCutsTwelveGraphemes) {
    // "e" with a combining acute counts once: twelve clusters are thirteen scalars here.
    DeviceProfile source("src", "Ve\u0301nus-Navi-2000-XL");
    source.verified = DeviceProfile::Verified{"2024-01-01", "ok"};
    source.fileURL = "/p/src.json";
    source.audio.bitrate = 320;
    const DeviceProfile copy = newProfileFrom(source);
    EXPECT_EQ(copy.name, "うちのナビ（Ve\u0301nus-Navi-2…）");
    EXPECT_EQ(copy.id, "");
    EXPECT_EQ(copy.verified, std::nullopt);
    EXPECT_EQ(copy.fileURL, std::nullopt);
    EXPECT_EQ(copy.audio.bitrate, 320);
    EXPECT_EQ(newProfileFrom(DeviceProfile("s", "短い")).name, "うちのナビ（短い…）");
}

}  // namespace
}  // namespace tarvik
