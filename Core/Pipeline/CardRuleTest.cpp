// Cards as users keep them, each exported onto three times and sent to:
// older cards under the Shift-JIS unit, whose names could not hold every
// letter; a file whose tag can't be read beside the album's own; a copy the
// user renamed. The export, the send and the window's "on the card" agree,
// and each song is on the card once. Real ffmpeg throughout.
#include "Core/Convert/AudioFacts.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/SDCard/SDCardTools.hpp"
#include "Core/Testing/ID3Forms.hpp"

namespace tarvik {
namespace {

using namespace testing;
using Files = std::map<std::string, std::string>;

void forgetAlbums(const fs::path& folder) {
    for (const std::string& path : pathsBelow(folder)) forgetAlbum(folder / path);
}

// "artist/album|title|track|seconds" rows; each song its own length.
void makeSongs(const fs::path& music, const Texts& rows) {
    for (const std::string& row : rows) {
        Texts f(1);
        for (const char c : row) c == '|' ? f.emplace_back() : f.back() += c;
        const fs::path album = f[0];
        makeTone(music / album / (f[2] + ".flac"),
                 {.seconds = std::stod(f[3]),
                  .metadata = {{"title", f[1]},
                               {"artist", album.parent_path().string()},
                               {"album", album.filename().string()},
                               {"track", f[2]}}});
    }
}

// The paths whose bytes differ between two listings, or that only one holds.
Texts changed(const Files& before, const Files& after) {
    Texts paths;
    for (const auto& [path, bytes] : before) {
        const auto now = after.find(path);
        if (now == after.end() || now->second != bytes) paths.push_back(path);
    }
    for (const auto& [path, bytes] : after) {
        if (!before.contains(path)) paths.push_back(path);
    }
    return paths;
}

// The send of `selection` exported into a folder of its own: where each
// album went, and how many files were copied. The window shows each album
// on the card, or not, before.
struct Sent {
    std::map<std::string, std::string> places;
    std::int64_t copied = 0;
    std::vector<bool> onCard;
};
Sent sendTo(const fs::path& card, const fs::path& music, const DeviceProfile& profile,
            const std::set<std::string>& selection, const fs::path& exportFolder) {
    exportSelection(exportFolder, music, profile, selection);
    const std::vector<SDCardTools::Album> albums =
        SDCardTools::exportedAlbums({exportFolder / "MUSIC"});
    Sent sent;
    for (const SDCardTools::Album& album : albums) {
        sent.onCard.push_back(SDCardTools::isOnCard(album, card / "MUSIC"));
    }
    const SDCardTools::SendResult result = SDCardTools::send(albums, card / "MUSIC");
    sent.places = result.places;
    sent.copied = result.copied;
    return sent;
}

// Three exports onto a card that holds every song already write nothing and
// tell nothing but `told`; the window shows every album on the card, and a
// send copies nothing. The card stays byte for byte.
void expectEverySongOnce(const fs::path& temp, const fs::path& card, const fs::path& music,
                         const DeviceProfile& profile, const Texts& told = {}) {
    const Files before = filesBelow(card);
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("export " + std::to_string(run));
        const auto events = exportSelection(card, music, profile, {});
        EXPECT_EQ(trace(events, "converted"), Texts{});
        EXPECT_EQ(trace(events, "notice"), told);
        EXPECT_EQ(changed(before, filesBelow(card)), Texts{});
    }
    const Sent sent = sendTo(card, music, profile, {}, temp / "export");
    EXPECT_EQ(sent.onCard, std::vector<bool>(sent.onCard.size(), true));
    EXPECT_EQ(sent.copied, 0);
    EXPECT_EQ(changed(before, filesBelow(card)), Texts{});
}

const Texts hangulAndAccents = {
    "Mot\u00F6r/Caf\u00E9 \u00C5lbum|\u00C9t\u00E9|1|1",
    "Mot\u00F6r/Caf\u00E9 \u00C5lbum|Bl\u00E5|2|2",
    "IU/\uAF43\uAC08\uD53C|\uB098\uC758 \uC61B\uB0A0|1|1",  // 꽃갈피: 나의 옛날
    "IU/\uAF43\uAC08\uD53C|\uB108\uC758 \uC758\uBBF8|2|3",
    "IU/\uD314\uB808\uD2B8|\uD314\uB808\uD2B8|1|2",  // 팔레트
    "IU/\uC774\uB984\uC5D0\uAC8C|\uC774\uB984\uC5D0\uAC8C|1|4",
};

// Written under the Shift-JIS unit before files named their album: the
// names hold "?" for é, Å, ö and Hangul in the tags, "_" in the folders.
// Each album is found in its own folder by its tracks, never written again.
TEST(CardRule, AnOlderShiftJISCardHoldsEachAlbumWhateverItsNamesLost) {
    const DeviceProfile korean = deliveredProfile("panasonic-hds940d");
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeSongs(music, hangulAndAccents);
    exportSelection(card, music, korean, {});
    forgetAlbums(card);
    // 꽃갈피 and 팔레트 take "___" and "___ 2".
    EXPECT_EQ(pathsBelow(card / "MUSIC").size(), 6U);
    EXPECT_TRUE(fs::is_directory(card / "MUSIC/IU/___ 2"));
    expectEverySongOnce(temp.path(), card, music, korean);
}

// 꽃갈피 alone on an older card, at "___": 팔레트, whose name the unit reads
// the same, is told apart by its tracks. The export and the send both put
// it in "___ 2", and neither touches 꽃갈피's files.
TEST(CardRule, AnAlbumWhoseNameTheUnitReadsAsAnothersKeepsApart) {
    const DeviceProfile korean = deliveredProfile("panasonic-hds940d");
    TempDir temp;
    const fs::path music = temp / "music";
    makeSongs(music, hangulAndAccents);
    for (const char* card : {"card", "sent"}) {
        exportSelection(temp / card, music, korean, {"IU/\uAF43\uAC08\uD53C"});
        forgetAlbums(temp / card);
    }
    const Files before = filesBelow(temp / "card");
    const auto events = exportSelection(temp / "card", music, korean, {"IU/\uD314\uB808\uD2B8"});
    EXPECT_EQ(trace(events, "notice"),
              Texts{"notice 「___」には別のアルバムがあるため「___ 2」に書き出しました"});
    EXPECT_EQ(describe(events.back()), "done 1 skipped 0 failed 0");
    EXPECT_EQ(changed(before, filesBelow(temp / "card")), Texts{"MUSIC/IU/___ 2/01 ___.mp3"});

    const Sent sent =
        sendTo(temp / "sent", music, korean, {"IU/\uD314\uB808\uD2B8"}, temp / "export");
    EXPECT_EQ(sent.onCard, std::vector<bool>{false});
    EXPECT_EQ(sent.places, (std::map<std::string, std::string>{{"IU/___", "IU/___ 2"}}));
    EXPECT_EQ(pathsBelow(temp / "sent"), pathsBelow(temp / "card"));
}

// A player's MP3 whose rating frame (POPM) runs past its tag; with `frames`
// (ISO-8859-1 texts) behind it.
std::string playerTaggedMP3(const fs::path& scratch, const ID3Form& frames = {}) {
    const std::string popm = std::string("POPM") + id3forms::bigEndian(200, 4) +
                             std::string(2, '\0') + "player@example" + '\0' + "\xC4";
    const std::string body = popm + (frames.frames.empty() ? "" : id3Tag(frames).substr(10));
    makeTone(scratch / "bare.mp3",
             {.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
    return "ID3\x03" + std::string(2, '\0') + id3forms::syncsafe(body.size()) + body +
           readFile(scratch / "bare.mp3");
}

// Files that carry the album's identity make the folder the album's: a
// file beside them whose tag can't be read, or a copy the user renamed, is
// no reason to write the album elsewhere, nor is the renamed copy's song
// written again or renamed back; on an older card the renamed copy is its
// song's by its tags and length.
TEST(CardRule, TheAlbumsOwnFilesKeepItsFolderWhateverLiesBeside) {
    struct Case {
        std::string name;
        bool older;
        std::function<void(const fs::path& folder, const fs::path& scratch)> change;
        Texts told;
    };
    const std::string unreadable =
        "notice 「MUSIC/Band/Steps/live.mp3」はタグを読めないファイルのため、そのままにしました";
    const std::vector<Case> cases = {
        {"a file whose tag can't be read",
         false,
         [](const fs::path& folder, const fs::path& scratch) {
             writeFile(folder / "live.mp3", playerTaggedMP3(scratch));
             const std::optional<AudioFacts::Facts> facts = AudioFacts::read(folder / "live.mp3");
             ASSERT_TRUE(facts && facts->unreadable);
         },
         {unreadable}},
        {"a player's file of another album",
         false,
         [](const fs::path& folder, const fs::path& scratch) {
             writeFile(
                 folder / "09 Other.mp3",
                 playerTaggedMP3(
                     scratch,
                     {.frames = {{"TIT2", "Other"}, {"TPE1", "Stranger"}, {"TALB", "Road"}}}));
         },
         {}},
        {"a copy the user renamed",
         false,
         [](const fs::path& folder, const fs::path&) {
             fs::rename(folder / "01 Step 1.mp3", folder / "Step 1.mp3");
         },
         {}},
        {"a copy the user renamed on an older card",
         true,
         [](const fs::path& folder, const fs::path&) {
             fs::rename(folder / "01 Step 1.mp3", folder / "Step 1.mp3");
         },
         {}},
        {"both",
         false,
         [](const fs::path& folder, const fs::path& scratch) {
             fs::rename(folder / "01 Step 1.mp3", folder / "Step 1.mp3");
             writeFile(folder / "live.mp3", playerTaggedMP3(scratch));
         },
         {unreadable}},
    };
    const DeviceProfile plain("test", "Test");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeSongs(music, {"Band/Steps|Step 1|1|1", "Band/Steps|Step 2|2|2"});
        exportSelection(card, music, plain, {});
        if (c.older) forgetAlbums(card);
        c.change(card / "MUSIC/Band/Steps", temp.path());
        expectEverySongOnce(temp.path(), card, music, plain, c.told);
    }
}

// Two discs each open with an "Intro": a copy the user renamed is its own
// disc's song by the song it names, never the other disc's that shares its
// title and number; the song whose copy was deleted is written again.
TEST(CardRule, ARenamedCopyIsItsOwnDiscsSongWhereTwoShareATitleAndNumber) {
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    for (const int disc : {1, 2}) {
        makeTone(music / "Band/Discs" / (std::to_string(disc) + ".flac"),
                 {.seconds = static_cast<double>(disc),
                  .metadata = {{"title", "Intro"},
                               {"artist", "Band"},
                               {"album", "Discs"},
                               {"track", "1"},
                               {"disc", std::to_string(disc)}}});
    }
    const DeviceProfile plain("test", "Test");
    exportSelection(card, music, plain, {});
    const fs::path folder = card / "MUSIC/Band/Discs";
    const Texts written = pathsBelow(folder);
    ASSERT_EQ(written.size(), 2U);
    const std::string discOne = audioMD5(folder / written[0]);
    const std::string discTwo = audioMD5(folder / written[1]);
    fs::rename(folder / written[1], folder / "Intro.mp3");
    fs::remove(folder / written[0]);

    EXPECT_EQ(describe(exportSelection(card, music, plain, {}).back()),
              "done 1 skipped 1 failed 0");
    EXPECT_EQ(pathsBelow(folder), (Texts{written[0], "Intro.mp3"}));
    EXPECT_EQ(audioMD5(folder / "Intro.mp3"), discTwo);
    EXPECT_EQ(audioMD5(folder / written[0]), discOne);
}

// A file or a link where the album's folder should be is no album's: the
// export and the send take "Best 2" and leave it as it is, and the log says
// what stood there, never that another album is there.
TEST(CardRule, WhatIsNoFolderInTheAlbumsPlaceIsToldAsSuch) {
    const DeviceProfile plain("test", "Test");
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> cases = {
        {"a file", [](const fs::path& at) { writeFile(at, "notes"); }},
        {"a link", [](const fs::path& at) { fs::create_symlink("elsewhere", at); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        TempDir temp;
        const fs::path music = temp / "music";
        makeSongs(music, {"Band/Best|Song|1|1"});
        for (const char* card : {"card", "sent"}) {
            fs::create_directories(temp / card / "MUSIC/Band");
            make(temp / card / "MUSIC/Band/Best");
        }
        const auto events = exportSelection(temp / "card", music, plain, {});
        EXPECT_EQ(trace(events, "notice"),
                  Texts{"notice 「Best」はフォルダではないため「Best 2」に書き出しました"});
        EXPECT_EQ(pathsBelow(temp / "card/MUSIC/Band/Best 2"), Texts{"01 Song.mp3"});
        const Sent sent = sendTo(temp / "sent", music, plain, {}, temp / "export");
        EXPECT_EQ(sent.places, (std::map<std::string, std::string>{{"Band/Best", "Band/Best 2"}}));
        for (const char* card : {"card", "sent"}) {
            EXPECT_EQ(fs::symlink_status(temp / card / "MUSIC/Band/Best").type(),
                      name == "a file" ? fs::file_type::regular : fs::file_type::symlink);
        }
    }
}

}  // namespace
}  // namespace tarvik
