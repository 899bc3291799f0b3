// Whole exports with the real ffmpeg: a music folder becomes a card, read
// back by ffprobe and mutagen; and real exFAT cards that fill up while they
// are written or carry names in another normal form.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using namespace testing;
using Paths = std::vector<std::string>;

ToneOptions tagged(double seconds, const std::string& title, const std::string& artist,
                   const std::string& album, int track) {
    return {.seconds = seconds,
            .metadata = {{"title", title},
                         {"artist", artist},
                         {"album", album},
                         {"track", std::to_string(track)}}};
}

// A run over `music` by the real converter; the card folder is made here, as
// a run writes only into one that is there.
std::vector<E> exportTo(const fs::path& card, const fs::path& music,
                        const std::function<void(ConversionRunner&)>& adjust = {}) {
    fs::create_directories(card);
    ConversionRunner runner = runnerFor(card, 2, "/usr/bin/ffmpeg", music);
    if (adjust) adjust(runner);
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    return drain(handle);
}

nlohmann::json probe(const fs::path& file, const std::vector<std::string>& what) {
    std::vector<std::string> words = {"ffprobe", "-v", "error", "-of", "json"};
    words.insert(words.end(), what.begin(), what.end());
    words.push_back(file.string());
    return nlohmann::json::parse(runCommand(words).output);
}

TEST(Export, MusicFolderBecomesACardWithTagsArtistsAndOneArtworkSearchPerAlbum) {
    TempDir temp;
    makePicture(temp / "cover.png", 640, 480);
    const fs::path music = temp / "music";
    std::vector<std::pair<fs::path, ToneOptions>> tones = {
        {music / "Band/First/a.flac", tagged(1.0, "Morning", "Band", "First", 1)},
        {music / "Band/First/b.flac", tagged(1.0, "Evening", "Band", "First", 2)},
        {music / "Band/Second/c.flac", tagged(1.0, "Night", "Band", "Second", 1)}};
    // A compilation without album artists.
    for (int n = 1; n <= 3; ++n) {
        const std::string number = std::to_string(n);
        tones.push_back({music / "Various/Hits" / (number + ".flac"),
                         tagged(1.0, "Song " + number, "Singer " + number, "Hits", n)});
    }
    makeTones(tones, temp / "cover.png");
    const fs::path log = temp / "ffmpeg.log";
    const fs::path ffmpeg =
        writeScript(temp / "ffmpeg", "echo \"$*\" >> " + shellQuote(log.string()) +
                                         "\nexec /usr/bin/ffmpeg \"$@\"\n");
    const std::vector<E> events = exportTo(temp / "card", music, [&](ConversionRunner& runner) {
        runner.ffmpeg = ffmpeg;
        runner.options = RunOptions{};  // with loudness and the real room on the card
        runner.options.jobs = 4;
        runner.profile.tags.artwork = {.enabled = true, .maxPx = 300};
    });

    // The compilation is one album folder, named after the first track's artist.
    const Paths expected = {
        "MUSIC/Band/First/01 Morning.mp3",   "MUSIC/Band/First/02 Evening.mp3",
        "MUSIC/Band/Second/01 Night.mp3",    "MUSIC/Singer 1/Hits/01 Song 1.mp3",
        "MUSIC/Singer 1/Hits/02 Song 2.mp3", "MUSIC/Singer 1/Hits/03 Song 3.mp3"};
    EXPECT_EQ(summaryOf(events).placed, expected);
    EXPECT_EQ(outcomeOf(events), "done 6 skipped 0 failed 0");
    EXPECT_EQ(pathsBelow(temp / "card"), expected);

    const nlohmann::json tags = probe(temp / "card" / expected[2], {"-show_entries", "format_tags"})
                                    .at("format")
                                    .at("tags");
    for (const auto& [key, value] : std::map<std::string, std::string>{
             {"title", "Night"}, {"artist", "Band"}, {"album", "Second"}, {"track", "1"}}) {
        EXPECT_EQ(tags.at(key), value) << key;
    }
    // Every compilation track keeps its own artist, as mutagen reads it.
    for (int n = 1; n <= 3; ++n) {
        const auto artist = runCommand({systemPython, "-c",
                                        "import sys\nfrom mutagen.id3 import ID3\n"
                                        "sys.stdout.write(str(ID3(sys.argv[1])['TPE1'].text[0]))",
                                        (temp / "card" / expected[size_t(n) + 2]).string()});
        EXPECT_EQ(artist.output, "Singer " + std::to_string(n));
    }
    // Parallel tracks of one album wait for its one search.
    int extractions = 0, scalings = 0;
    std::ifstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("-c:v copy -frames:v 1 -f image2 pipe:1") != std::string::npos) ++extractions;
        if (line.find("-i pipe:0") != std::string::npos) ++scalings;
    }
    EXPECT_EQ(extractions, 3);
    EXPECT_EQ(scalings, 3);
    for (const std::string& file : expected) {
        const nlohmann::json stream =
            probe(temp / "card" / file, {"-select_streams", "v", "-show_entries",
                                         "stream=width:stream_disposition=attached_pic"})
                .at("streams")
                .at(0);
        EXPECT_EQ(stream.at("width"), 300) << file;
        EXPECT_EQ(stream.at("disposition").at("attached_pic"), 1) << file;
    }
}

TEST(Export, RealExfatCardThatFillsUpKeepsOnlyWholeAlbums) {
    std::string whyNot;
    const auto card = CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    // 60 seconds at 320 kbit/s are 2.4 MB a track: the first album (3 tracks)
    // fits, the second (5 tracks) does not.
    std::vector<std::pair<fs::path, ToneOptions>> tones;
    for (int n = 1; n <= 8; ++n) {
        const std::string album = n <= 3 ? "A Side" : "B Side";
        tones.push_back(
            {temp / "music/Band" / album / (std::to_string(n) + ".flac"),
             tagged(60.0, "Song " + std::to_string(n), "Band", album, n <= 3 ? n : n - 3)});
    }
    makeTones(tones);
    // Ten minutes of headroom would be more than the whole card: here only a
    // write that finds no room may stop the run.
    const std::vector<E> events =
        exportTo(card->root(), temp / "music",
                 [](ConversionRunner& runner) { runner.profile.audio.bitrate = 320; });

    EXPECT_EQ(outcomeOf(events), "done 3 skipped 0 failed 0 cardFull");
    const Paths placed = {"MUSIC/Band/A Side/01 Song 1.mp3", "MUSIC/Band/A Side/02 Song 2.mp3",
                          "MUSIC/Band/A Side/03 Song 3.mp3"};
    EXPECT_EQ(summaryOf(events).placed, placed);
    EXPECT_EQ(pathsBelow(card->root()), placed);
    EXPECT_FALSE(fs::exists(card->root() / "MUSIC" / "Band" / "B Side"));
    EXPECT_EQ(events[events.size() - 3], E::notice("途中までしか入らなかったアルバム（MUSIC/Band/B "
                                                   "Side）は、次のカードにまとめて入れます"));
}

TEST(Export, RealExfatCardUnderAnNFDNameReusesTheNFDAlbumFolderOnIt) {
    std::string whyNot;
    const std::string nfdCard = "SD \u304F\u3099\u308B\u307E";  // くるま, dakuten apart
    const auto card = CardImage::make(16 * 1024 * 1024, whyNot, nfdCard);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    // Another computer wrote the album's folder and first track in NFD.
    const std::string album = "MUSIC/Band/Cafe\u0301/";
    writeFile(card->root() / album / "01 Morning.mp3", "old");
    makeTones(
        {{temp / "music/Band/Caf\u00E9/a.flac", tagged(1.0, "Morning", "Band", "Caf\u00E9", 1)},
         {temp / "music/Band/Caf\u00E9/b.flac", tagged(1.0, "Evening", "Band", "Caf\u00E9", 2)}});
    const std::vector<E> events = exportTo(card->root(), temp / "music");

    EXPECT_EQ(outcomeOf(events), "done 1 skipped 1 failed 0");
    EXPECT_EQ(pathsBelow(card->root()),
              (Paths{album + "01 Morning.mp3", album + "02 Evening.mp3"}));
    // Nothing went into a twin of the card's folder on the system disk.
    Paths beside;
    for (const auto& entry : fs::directory_iterator(card->root().parent_path())) {
        if (entry.is_directory()) beside.push_back(entry.path().filename());
    }
    EXPECT_EQ(beside, Paths{nfdCard});
}

}  // namespace
}  // namespace tarvik
