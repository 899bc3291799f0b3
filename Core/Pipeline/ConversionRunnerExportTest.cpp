// Whole exports with the real ffmpeg: a music folder becomes a card, read
// back by ffprobe; and a real exFAT card that fills up while it is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using testing::drain;
using testing::TempDir;

struct Tone {
    fs::path file;
    std::string title;
    std::string album;
    int track;
    std::string artist = "Band";
};

// Tagged tones, made four at a time; with a picture, it is embedded as the cover.
void makeTones(const std::vector<Tone>& tones, double seconds,
               const std::optional<fs::path>& picture = std::nullopt) {
    BoundedGroup<bool> makers(4);
    for (const Tone& tone : tones) {
        makers.spawn([&tone, seconds, &picture](std::stop_token) {
            const fs::path plain =
                picture ? fs::path(tone.file.string() + ".plain.flac") : tone.file;
            testing::makeTone(plain, {.seconds = seconds,
                                      .metadata = {{"title", tone.title},
                                                   {"artist", tone.artist},
                                                   {"album", tone.album},
                                                   {"track", std::to_string(tone.track)}}});
            if (picture) {
                testing::runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                                     plain.string(), "-i", picture->string(), "-map", "0", "-map",
                                     "1", "-c", "copy", "-disposition:v", "attached_pic",
                                     tone.file.string()});
                fs::remove(plain);
            }
            return true;
        });
    }
    while (makers.next()) {
    }
}

// The card folder is made here: a run writes only into one that is there.
ConversionRunner runnerFor(const fs::path& ffmpeg, const fs::path& music, const fs::path& card) {
    fs::create_directories(card);
    ConversionRunner runner{ffmpeg, DeviceProfile("test", "Test"), music, card, {}, RunOptions{},
                            nullptr};
    runner.options.jobs = 2;
    return runner;
}

// Every regular file below `root`, hidden ones included, relative to it.
std::set<std::string> filesBelow(const fs::path& root) {
    std::set<std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
    }
    return files;
}

std::map<std::string, std::string> tagsOf(const fs::path& file) {
    const auto probed = testing::runCommand(
        {"ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "json", file.string()});
    const nlohmann::json parsed = nlohmann::json::parse(probed.output);
    const nlohmann::json& found = parsed.at("format").at("tags");
    std::map<std::string, std::string> tags;
    for (auto tag = found.begin(); tag != found.end(); ++tag) {
        tags[tag.key()] = tag.value().get<std::string>();
    }
    return tags;
}

TEST(Export, MusicFolderBecomesACardThatFFprobeReads) {
    TempDir temp;
    makeTones({{temp / "music" / "Band" / "First" / "a.flac", "Morning", "First", 1},
               {temp / "music" / "Band" / "First" / "b.flac", "Evening", "First", 2},
               {temp / "music" / "Band" / "Second" / "c.flac", "Night", "Second", 1}},
              1.0);
    ConversionRunner::Handle handle =
        runnerFor("/usr/bin/ffmpeg", temp / "music", temp / "card").start(std::nullopt);
    const std::vector<E> events = drain(handle);

    const std::vector<std::string> expected = {"MUSIC/Band/First/01 Morning.mp3",
                                               "MUSIC/Band/First/02 Evening.mp3",
                                               "MUSIC/Band/Second/01 Night.mp3"};
    const E::Summary& summary = *events.back().as<E::Summary>();
    EXPECT_EQ(summary.placed, expected);
    EXPECT_EQ(summary.progress.done, 3);
    EXPECT_EQ(summary.progress.failed, 0);
    EXPECT_EQ(filesBelow(temp / "card"), std::set<std::string>(expected.begin(), expected.end()));

    const std::map<std::string, std::string> tags = tagsOf(temp / "card" / expected[2]);
    EXPECT_EQ(tags.at("title"), "Night");
    EXPECT_EQ(tags.at("artist"), "Band");
    EXPECT_EQ(tags.at("album"), "Second");
    EXPECT_EQ(tags.at("track"), "1");
}

// The artist frame of an MP3 as mutagen reads it.
std::string artistFrameOf(const fs::path& file) {
    std::string text =
        testing::runCommand({testing::systemPython, "-c",
                             "import sys\nfrom mutagen.id3 import ID3\n"
                             "sys.stdout.write(str(ID3(sys.argv[1])['TPE1'].text[0]))",
                             file.string()})
            .output;
    return text;
}

TEST(Export, CompilationWithoutAlbumArtistsKeepsEveryTracksArtist) {
    TempDir temp;
    std::vector<Tone> tones;
    for (int n = 1; n <= 4; ++n) {
        const std::string number = std::to_string(n);
        tones.push_back({temp / "music" / "Various" / "Hits" / (number + ".flac"), "Song " + number,
                         "Hits", n, "Singer " + number});
    }
    makeTones(tones, 0.5);
    ConversionRunner runner = runnerFor("/usr/bin/ffmpeg", temp / "music", temp / "card");
    runner.options.loudnessTarget = std::nullopt;
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    const std::vector<E> events = drain(handle);
    ASSERT_EQ(events.back().as<E::Summary>()->progress.done, 4);

    // One album folder, named after the first track's artist; every file keeps its own.
    for (int n = 1; n <= 4; ++n) {
        const std::string number = std::to_string(n);
        const fs::path file =
            temp / "card" / "MUSIC" / "Singer 1" / "Hits" / ("0" + number + " Song " + number + ".mp3");
        EXPECT_EQ(artistFrameOf(file), "Singer " + number) << file;
    }
}

TEST(Export, FourTracksOfOneAlbumMakeOneArtworkSearch) {
    TempDir temp;
    testing::makePicture(temp / "cover.png", 640, 480);
    std::vector<Tone> tones;
    for (int n = 1; n <= 4; ++n) {
        tones.push_back({temp / "music" / "Band" / "Album" / (std::to_string(n) + ".flac"),
                         "T" + std::to_string(n), "Album", n});
    }
    makeTones(tones, 1.0, temp / "cover.png");
    const fs::path log = temp / "ffmpeg.log";
    const fs::path ffmpeg = testing::writeScript(
        temp / "ffmpeg",
        "echo \"$*\" >> " + testing::shellQuote(log.string()) + "\nexec /usr/bin/ffmpeg \"$@\"\n");
    ConversionRunner runner = runnerFor(ffmpeg, temp / "music", temp / "card");
    runner.profile.tags.artwork = {.enabled = true, .maxPx = 300};
    runner.options.jobs = 4;
    runner.options.loudnessTarget = std::nullopt;
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    const std::vector<E> events = drain(handle);
    ASSERT_EQ(events.back().as<E::Summary>()->progress.done, 4);

    int extractions = 0, scalings = 0;
    std::ifstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("-c:v copy -frames:v 1 -f image2 pipe:1") != std::string::npos) ++extractions;
        if (line.find("-i pipe:0") != std::string::npos) ++scalings;
    }
    EXPECT_EQ(extractions, 1);
    EXPECT_EQ(scalings, 1);
    for (const std::string& file : filesBelow(temp / "card")) {
        const auto probed =
            testing::runCommand({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                                 "stream=width:stream_disposition=attached_pic", "-of", "json",
                                 (temp / "card" / file).string()});
        const auto stream = nlohmann::json::parse(probed.output).at("streams").at(0);
        EXPECT_EQ(stream.at("width"), 300) << file;
        EXPECT_EQ(stream.at("disposition").at("attached_pic"), 1) << file;
    }
}

TEST(Export, RealExfatCardThatFillsUpKeepsOnlyWholeAlbums) {
    std::string whyNot;
    const auto card = testing::CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    // 60 seconds at 320 kbit/s are 2.4 MB a track: the first album (3 tracks)
    // fits, the second (5 tracks) does not.
    std::vector<Tone> tones;
    for (int n = 1; n <= 8; ++n) {
        const std::string album = n <= 3 ? "A Side" : "B Side";
        tones.push_back({temp / "music" / "Band" / album / (std::to_string(n) + ".flac"),
                         "Song " + std::to_string(n), album, n <= 3 ? n : n - 3});
    }
    makeTones(tones, 60.0);
    ConversionRunner runner = runnerFor("/usr/bin/ffmpeg", temp / "music", card->root());
    runner.profile.audio.bitrate = 320;
    runner.options.loudnessTarget = std::nullopt;
    // Ten minutes of headroom would be more than the whole card: here only a
    // write that finds no room may stop the run.
    runner.options.freeSpace = [](const fs::path&) { return std::optional<std::int64_t>(); };
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    const std::vector<E> events = drain(handle);

    const E::Summary& summary = *events.back().as<E::Summary>();
    EXPECT_TRUE(summary.cardFull);
    EXPECT_FALSE(summary.stopped);
    EXPECT_EQ(summary.progress.failed, 0);
    EXPECT_EQ(summary.placed, (std::vector<std::string>{"MUSIC/Band/A Side/01 Song 1.mp3",
                                                        "MUSIC/Band/A Side/02 Song 2.mp3",
                                                        "MUSIC/Band/A Side/03 Song 3.mp3"}));
    EXPECT_EQ(filesBelow(card->root()),
              std::set<std::string>(summary.placed.begin(), summary.placed.end()));
    EXPECT_FALSE(fs::exists(card->root() / "MUSIC" / "Band" / "B Side"));
    EXPECT_EQ(events[events.size() - 3], E::notice("途中までしか入らなかったアルバム（MUSIC/Band/B "
                                                   "Side）は、次のカードにまとめて入れます"));
}

TEST(Export, RealExfatCardUnderAnNFDNameReusesTheNFDAlbumFolderOnIt) {
    std::string whyNot;
    const std::string nfdCard = "SD \u304F\u3099\u308B\u307E";  // くるま, dakuten apart
    const auto card = testing::CardImage::make(16 * 1024 * 1024, whyNot, nfdCard);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    // Another computer wrote the album's folder and first track in NFD.
    const std::string nfdAlbum = "Cafe\u0301";
    testing::writeFile(card->root() / "MUSIC" / "Band" / nfdAlbum / "01 Morning.mp3", "old");
    makeTones({{temp / "music" / "Band" / "Caf\u00E9" / "a.flac", "Morning", "Caf\u00E9", 1},
               {temp / "music" / "Band" / "Caf\u00E9" / "b.flac", "Evening", "Caf\u00E9", 2}},
              1.0);
    ConversionRunner runner = runnerFor("/usr/bin/ffmpeg", temp / "music", card->root());
    runner.options.freeSpace = [](const fs::path&) { return std::optional<std::int64_t>(); };
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    const std::vector<E> events = drain(handle);

    const E::Summary& summary = *events.back().as<E::Summary>();
    EXPECT_EQ(summary.progress.skipped, 1);
    EXPECT_EQ(summary.progress.done, 1);
    EXPECT_EQ(filesBelow(card->root()),
              (std::set<std::string>{"MUSIC/Band/" + nfdAlbum + "/01 Morning.mp3",
                                     "MUSIC/Band/" + nfdAlbum + "/02 Evening.mp3"}));
    // Nothing went into a twin of the card's folder on the system disk.
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(card->root().parent_path())) {
        if (entry.is_directory()) beside.insert(entry.path().filename());
    }
    EXPECT_EQ(beside, std::set<std::string>{nfdCard});
}

}  // namespace
}  // namespace tarvik
