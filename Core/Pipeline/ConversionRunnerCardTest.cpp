// Runs one after another onto one card, as a user exports album by album: a
// file at a track's place counts only when it is this album's, so albums that
// the card's names make alike each keep their own audio, on a folder and on a
// real exFAT card that does not tell letter case apart.
#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Pipeline/CardTrackMatch.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

using namespace testing;

// The audio lists of `albums`, in order, as a sorted list: which albums a
// card holds, whatever their folders are named.
std::vector<Texts> contents(const std::map<std::string, Texts>& albums) {
    std::vector<Texts> lists;
    for (const auto& [folder, audio] : albums) lists.push_back(audio);
    std::ranges::sort(lists);
    return lists;
}

std::vector<Texts> sorted(std::vector<Texts> lists) {
    std::ranges::sort(lists);
    return lists;
}

// Two Korean albums of one artist whose names the Shift-JIS profile makes
// alike ("__"), exported over three runs in every order that matters: each
// ends on the card once, whole and with its own audio.
TEST(CardRuns, AlbumsWithAlikeCardNamesLandOnceOverThreeRuns) {
    const DeviceProfile profile = deliveredProfile("panasonic-hds940d");
    TempDir temp;
    const fs::path music = temp / "music";
    const std::string love = "IU/\uC0AC\uB791", farewell = "IU/\uC774\uBCC4";  // 사랑, 이별
    makeAlbum(music, "IU", "\uC0AC\uB791", 500);
    makeAlbum(music, "IU", "\uC774\uBCC4", 900);
    const std::vector<Texts> both = sorted({alone(music, profile, love, temp / "first"),
                                            alone(music, profile, farewell, temp / "second")});
    ASSERT_NE(both[0], both[1]);
    const std::vector<std::vector<std::set<std::string>>> orders = {
        {{farewell}, {love}, {}}, {{love}, {farewell}, {}}, {{}, {farewell}, {love}}};
    for (const auto& runs : orders) {
        const fs::path card = temp / ("card" + std::to_string(&runs - orders.data()));
        SCOPED_TRACE(card.filename());
        std::vector<ConversionEvent> events;
        for (const std::set<std::string>& selection : runs) {
            events = exportSelection(card, music, profile, selection);
        }
        EXPECT_EQ(trace(events, "converted"), Texts{});
        EXPECT_EQ(contents(albumsBelow(card)), both);
    }
}

// "Best" and "BEST" of one artist are one folder name on a card; a real
// "Best 2" comes in a later week. Whatever ran before, the export of
// everything leaves each of the three albums on the card once with its own
// audio, under an MP3 and an M4A unit; a rerun finds every track.
void bestBestAndARealBest2(const fs::path& card) {
    DeviceProfile mp3("test", "Test"), m4a("test", "Test");
    m4a.audio.codec = DeviceProfile::Audio::Codec::aac;
    m4a.tags.format = DeviceProfile::Tags::Format::mp4;
    TempDir temp;
    const fs::path music = temp / "music";
    makeAlbum(music, "Band", "Best", 500);
    makeAlbum(music, "Band", "BEST", 700);
    makeAlbum(temp / "later", "Band", "Best 2", 900);
    const std::vector<std::tuple<std::string, std::vector<std::set<std::string>>, bool>> cases = {
        {"both, then everything", {{"Band/Best", "Band/BEST"}, {}}, false},
        {"BEST alone, then everything", {{"Band/BEST"}, {}}, false},
        {"BEST alone, then everything, M4A", {{"Band/BEST"}, {}}, true},
        {"Best, BEST, then everything", {{"Band/Best"}, {"Band/BEST"}, {}}, false}};
    std::map<bool, std::vector<Texts>> expected;
    for (const bool isM4A : {false, true}) {
        const DeviceProfile& profile = isM4A ? m4a : mp3;
        const fs::path scratch = temp / (isM4A ? "m4a" : "mp3");
        expected[isM4A] = sorted({alone(music, profile, "Band/Best", scratch / "1"),
                                  alone(music, profile, "Band/BEST", scratch / "2"),
                                  alone(temp / "later", profile, "Band/Best 2", scratch / "3")});
        ASSERT_EQ(std::set<Texts>(expected[isM4A].begin(), expected[isM4A].end()).size(), 3U);
    }
    for (const auto& [name, runs, isM4A] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(music / "Band/Best 2");
        for (const fs::directory_entry& entry : fs::directory_iterator(card)) {
            fs::remove_all(entry);
        }
        const DeviceProfile& profile = isM4A ? m4a : mp3;
        for (std::size_t run = 0; run < runs.size(); ++run) {
            // The real "Best 2" joins the library before the last run.
            if (run + 1 == runs.size()) fs::copy(temp / "later/Band/Best 2", music / "Band/Best 2");
            exportSelection(card, music, profile, runs[run]);
        }
        EXPECT_EQ(contents(albumsBelow(card)), expected[isM4A]);
        EXPECT_EQ(describe(exportSelection(card, music, profile, {}).back()),
                  "done 0 skipped 6 failed 0");
    }
}

TEST(CardRuns, BestBestAndARealBest2EachLandOnceOnAFolder) {
    TempDir temp;
    fs::create_directory(temp / "card");
    bestBestAndARealBest2(temp / "card");
}

TEST(CardRuns, BestBestAndARealBest2EachLandOnceOnARealExfatCard) {
    std::string whyNot;
    const auto card = CardImage::make(32 << 20, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    bestBestAndARealBest2(card->root());
}

// The Shift-JIS padding ("歌手あ" and two ideographic spaces) on a card
// folder is no new folder to either road: a send writes into the folder an
// export made without it and never renames it only to pad it; an export
// finds and uses the folder a send made with it.
TEST(CardRuns, ExportsAndSendsShareFoldersThatDifferOnlyByPadding) {
    const DeviceProfile profile = deliveredProfile("panasonic-hds940d");
    TempDir temp;
    const fs::path music = temp / "music";
    const std::string artist = "\u6B4C\u624B\u3042", album = "\u30A2\u30EB\u30D0\u30E0";
    makeAlbum(music, artist, album, 600);
    exportSelection(temp / "export", music, profile, {});
    const std::vector<SDCardTools::Album> exported = SDCardTools::exportedAlbums({temp / "export"});
    ASSERT_EQ(exported.size(), 1U);
    const std::string plain = "MUSIC/" + artist + "/" + album;
    const std::string padded = "MUSIC/" + artist + "\u3000\u3000/" + album + "\u3000";

    // The export first, then the send, then the export again.
    exportSelection(temp / "card1", music, profile, {});
    const SDCardTools::SendResult sent = SDCardTools::send(exported, temp / "card1");
    EXPECT_EQ(sent.skipped, 2);
    EXPECT_EQ(sent.places.at(exported[0].relativePath), plain);
    EXPECT_EQ(describe(exportSelection(temp / "card1", music, profile, {}).back()),
              "done 0 skipped 2 failed 0");
    EXPECT_EQ(albumsBelow(temp / "card1").size(), 1U);
    EXPECT_TRUE(fs::is_directory(temp / "card1" / plain));

    // The send first, then the export.
    fs::create_directory(temp / "card2");
    SDCardTools::send(exported, temp / "card2");
    ASSERT_TRUE(fs::is_directory(temp / "card2" / padded));
    EXPECT_EQ(describe(exportSelection(temp / "card2", music, profile, {}).back()),
              "done 0 skipped 2 failed 0");
    EXPECT_EQ(albumsBelow(temp / "card2").size(), 1U);
}

// "Best" and "BEST" in two runs onto a card that does not tell them apart.
TEST(CardRuns, AlbumsAlikeUpToCaseBothLandOnARealExfatCard) {
    std::string whyNot;
    const auto card = CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    const fs::path music = temp / "music";
    makeAlbum(music, "Band", "Best", 500);
    makeAlbum(music, "Band", "BEST", 900);
    const DeviceProfile profile("test", "Test");
    const Texts lower = alone(music, profile, "Band/Best", temp / "lower");
    const Texts upper = alone(music, profile, "Band/BEST", temp / "upper");

    exportSelection(card->root(), music, profile, {"Band/Best"});
    const auto events = exportSelection(card->root(), music, profile, {"Band/BEST"});
    EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0");
    EXPECT_EQ(
        albumsBelow(card->root()),
        (std::map<std::string, Texts>{{"MUSIC/Band/BEST 2", upper}, {"MUSIC/Band/Best", lower}}));
}

// A title corrected in the library keeps the song in its album's folder,
// once: its copy is renamed and written again; a file written before files
// named their album (here: its identity made unreadable) counts by its tags
// and length; a dangling link at a track's place stays, and the track takes
// the next name.
TEST(CardRuns, ReExportFindsItsAlbumAndPassesOverLinks) {
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeAlbum(music, "Band", "Best", 500);
    const DeviceProfile profile("test", "Test");
    exportSelection(card, music, profile, {});
    const fs::path song2 = card / "MUSIC/Band/Best/02 Song 2.mp3";
    forgetAlbum(song2);
    ASSERT_EQ(AlbumIdentity::read(song2), std::nullopt);

    makeAlbum(music, "Band", "Best", 500, "Song One");
    const auto events = exportSelection(card, music, profile, {});
    EXPECT_EQ(describe(events.back()), "done 1 skipped 1 failed 0");
    EXPECT_EQ(trace(events, "notice"),
              Texts{"notice 「MUSIC/Band/Best/01 Song 1.mp3」は曲名か番号が変わったため、"
                    "「01 Song One.mp3」に名前を変えて書き直します"});
    EXPECT_EQ(pathsBelow(card),
              (Texts{"MUSIC/Band/Best/01 Song One.mp3", "MUSIC/Band/Best/02 Song 2.mp3"}));

    fs::remove(card / "MUSIC/Band/Best/01 Song One.mp3");
    fs::create_symlink("nowhere", card / "MUSIC/Band/Best/01 Song One.mp3");
    exportSelection(card, music, profile, {});
    EXPECT_TRUE(fs::is_symlink(card / "MUSIC/Band/Best/01 Song One.mp3"));
    EXPECT_TRUE(fs::is_regular_file(card / "MUSIC/Band/Best/01 Song One 2.mp3"));
}

// A stop before or while a card file without identity is checked is a stop,
// never "another album's file": that would move the album to a numbered name.
// (A stop in the middle of reading a length: AudioLength's tests.)
TEST(CardRuns, StopWhileCheckingACardFileIsNoVerdict) {
    TempDir temp;
    makeTone(temp / "01 Song 1.mp3", {.metadata = {{"title", "Song 1"}}});
    ConversionPlan::Item item;
    item.source = temp / "01 Song 1.mp3";
    item.meta.title = "Song 1";
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(CardTrackMatch::sameTrack(item, temp / "01 Song 1.mp3", stop.get_token()),
                 Cancelled);
    const std::optional<CardTrackMatch::CardFile> card = AudioFacts::read(temp / "01 Song 1.mp3");
    ASSERT_TRUE(card);
    CardTrackMatch::Matcher matcher(stop.get_token());
    EXPECT_THROW(matcher.isTrack({&item}, *card), Cancelled);
}

}  // namespace
}  // namespace tarvik
