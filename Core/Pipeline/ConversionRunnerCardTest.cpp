// Runs one after another onto one card, as a user exports album by album: a
// file at a track's place counts only when it is this album's, so albums that
// the card's names make alike each keep their own audio, on a folder and on a
// real exFAT card that does not tell letter case apart.
#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Pipeline/CardTrackMatch.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Profiles/ProfileStore.hpp"

namespace tarvik {
namespace {

using namespace testing;

// The md5 of the decoded audio, which tags do not change.
std::string audioMD5(const fs::path& file) {
    const ShellResult result = runCommand(
        {"ffmpeg", "-nostdin", "-loglevel", "error", "-i", file.string(), "-map", "0:a",
         "-f", "md5", "-"});
    EXPECT_EQ(result.exitCode, 0) << file;
    return result.output;
}

// One album of two tracks whose tone is the album's own.
void makeAlbum(const fs::path& music, const std::string& artist, const std::string& album,
               int frequency, const std::string& firstTitle = "Song 1") {
    for (int track = 1; track <= 2; ++track) {
        const std::string title = track == 1 ? firstTitle : "Song 2";
        makeTone(music / artist / album / (std::to_string(track) + ".flac"),
                 {.seconds = 1.0,
                  .frequency = frequency + track,
                  .metadata = {{"title", title}, {"artist", artist}, {"album", album},
                               {"track", std::to_string(track)}}});
    }
}

std::vector<ConversionEvent> exportSelection(const fs::path& card, const fs::path& music,
                                             const DeviceProfile& profile,
                                             const std::set<std::string>& selection) {
    return exportTo(card, music, [&](ConversionRunner& runner) {
        runner.profile = profile;
        runner.artists = selection;
    });
}

// Each album folder below `root` (the folders holding files) with the audio
// md5s of its files in name order.
std::map<std::string, Texts> albumsBelow(const fs::path& root) {
    std::map<std::string, Texts> albums;
    for (const std::string& path : pathsBelow(root)) {
        albums[fs::path(path).parent_path().string()].push_back(audioMD5(root / path));
    }
    return albums;
}

// What each album is when it is exported alone into an empty folder.
Texts alone(const fs::path& music, const DeviceProfile& profile, const std::string& selection,
            const fs::path& scratch) {
    exportSelection(scratch, music, profile, {selection});
    const std::map<std::string, Texts> albums = albumsBelow(scratch);
    EXPECT_EQ(albums.size(), 1U);
    return albums.empty() ? Texts{} : albums.begin()->second;
}

// Two Korean albums of one artist whose names the Shift-JIS profile makes
// alike, exported in turn and then together: three runs, both albums whole,
// each with its own audio.
TEST(CardRuns, AlbumsWithAlikeCardNamesKeepTheirOwnAudioOverRuns) {
    const DeviceProfile profile = ProfileStore::load(
        fs::path(TARVIK_SOURCE_DIR) / "App/Resources/profiles/panasonic-hds940d.json", true);
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeAlbum(music, "IU", "\uC0AC\uB791", 500);  // 사랑
    makeAlbum(music, "IU", "\uC774\uBCC4", 900);  // 이별
    const Texts first = alone(music, profile, "IU/\uC0AC\uB791", temp / "first");
    const Texts second = alone(music, profile, "IU/\uC774\uBCC4", temp / "second");
    ASSERT_NE(first, second);

    exportSelection(card, music, profile, {"IU/\uC0AC\uB791"});
    exportSelection(card, music, profile, {"IU/\uC774\uBCC4"});
    const auto events = exportSelection(card, music, profile, {});
    EXPECT_EQ(describe(events.back()), "done 0 skipped 4 failed 0");
    const std::map<std::string, Texts> albums = albumsBelow(card);
    ASSERT_EQ(albums.size(), 2U);
    EXPECT_EQ(albums.begin()->second, first);
    EXPECT_EQ(std::next(albums.begin())->second, second);
    EXPECT_EQ(std::next(albums.begin())->first, albums.begin()->first + " 2");
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
    EXPECT_EQ(albumsBelow(card->root()),
              (std::map<std::string, Texts>{{"MUSIC/Band/BEST 2", upper},
                                            {"MUSIC/Band/Best", lower}}));
}

// A corrected title keeps the track in its album's folder; a file written
// before files named their album (here: its identity made unreadable) counts
// by its tags and length; a dangling link at a track's place stays, and the
// track takes the next name.
TEST(CardRuns, ReExportFindsItsAlbumAndPassesOverLinks) {
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    makeAlbum(music, "Band", "Best", 500);
    const DeviceProfile profile("test", "Test");
    exportSelection(card, music, profile, {});
    const fs::path song2 = card / "MUSIC/Band/Best/02 Song 2.mp3";
    std::string bytes = readFile(song2);
    bytes.replace(bytes.find("TXXX"), 4, "TXXY");
    writeFile(song2, bytes);
    ASSERT_EQ(AlbumIdentity::read(song2), std::nullopt);

    makeAlbum(music, "Band", "Best", 500, "Song One");
    const auto events = exportSelection(card, music, profile, {});
    EXPECT_EQ(describe(events.back()), "done 1 skipped 1 failed 0");
    EXPECT_EQ(pathsBelow(card), (Texts{"MUSIC/Band/Best/01 Song 1.mp3",
                                       "MUSIC/Band/Best/01 Song One.mp3",
                                       "MUSIC/Band/Best/02 Song 2.mp3"}));

    fs::remove(card / "MUSIC/Band/Best/01 Song One.mp3");
    fs::create_symlink("nowhere", card / "MUSIC/Band/Best/01 Song One.mp3");
    exportSelection(card, music, profile, {});
    EXPECT_TRUE(fs::is_symlink(card / "MUSIC/Band/Best/01 Song One.mp3"));
    EXPECT_TRUE(fs::is_regular_file(card / "MUSIC/Band/Best/01 Song One 2.mp3"));
}

// A stop before or while a card file without identity is checked is a stop,
// never "another album's file": that would move the album to a numbered name.
TEST(CardRuns, StopWhileCheckingACardFileIsNoVerdict) {
    // Stops the run from inside the probe and answers as a killed ffmpeg.
    struct StoppingFFmpeg : FFmpegRunner {
        std::stop_source& source;
        explicit StoppingFFmpeg(std::stop_source& stopSource)
            : FFmpegRunner("ffmpeg"), source(stopSource) {}
        Output runRaw(const std::vector<std::string>&, const std::optional<Bytes>&,
                      std::stop_token stop) const override {
            if (stop.stop_requested()) throw Cancelled();
            source.request_stop();
            return {.exitCode = 15, .stdout = {}, .stderr = {}};
        }
    };
    ConversionPlan::Item item;
    item.source = "/nowhere/1.flac";
    for (const bool before : {true, false}) {
        std::stop_source stop;
        if (before) stop.request_stop();
        const StoppingFFmpeg ffmpeg(stop);
        EXPECT_THROW(CardTrackMatch::sameTrack(ffmpeg, item, "/nowhere/01 Song 1.mp3",
                                               stop.get_token()),
                     Cancelled)
            << before;
    }
}

}  // namespace
}  // namespace tarvik
