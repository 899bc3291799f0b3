// Whole exports with the real ffmpeg: a music folder becomes a card, read
// back by mutagen, and a real exFAT card that fills up while it is written.
#include <gtest/gtest.h>

#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Texts = std::vector<std::string>;

// Tagged tones of `seconds` each: "folder|title|artist|album|track" rows,
// then any more "key=value" tags.
void makeTones(const fs::path& music, double seconds, const Texts& rows) {
    for (const std::string& row : rows) {
        Texts f(1);
        for (const char c : row) c == '|' ? f.emplace_back() : f.back() += c;
        ToneOptions tone{
            .seconds = seconds,
            .metadata = {{"title", f[1]}, {"artist", f[2]}, {"album", f[3]}, {"track", f[4]}}};
        for (std::size_t i = 5; i < f.size(); ++i)
            tone.metadata.emplace_back(f[i].substr(0, f[i].find('=')),
                                       f[i].substr(f[i].find('=') + 1));
        makeTone(music / f[0] / (f[1] + ".flac"), tone);
    }
}

// A run over `music` by the real converter into the folder `card`, which is there.
std::vector<ConversionEvent> exportTo(const fs::path& card, const fs::path& music,
                                      const std::function<void(ConversionRunner&)>& adjust) {
    fs::create_directories(card);
    ConversionRunner runner = runnerFor(card, 2, "/usr/bin/ffmpeg", music);
    adjust(runner);
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    return drain(handle);
}

TEST(Export, MusicFolderBecomesACardWithTagsArtistsAndOneArtworkSearchPerAlbum) {
    TempDir temp;
    const fs::path music = temp / "music";
    // The compilation "Hits" has no album artist; "Night" carries more tags.
    makeTones(music, 1.0,
              {"Band/First|Morning|Band|First|1", "Band/First|Evening|Band|First|2",
               "Band/Second|Night|Band|Second|1/30|album_artist=Band|date=2021|genre=J-Pop",
               "Various/Hits|Song 1|Singer 1|Hits|1", "Various/Hits|Song 2|Singer 2|Hits|2",
               "Various/Hits|Song 3|Singer 3|Hits|3"});
    for (const std::string album : {"Band/First", "Band/Second", "Various/Hits"})
        makePicture(music / album / "cover.png", 640, 480);
    // Planned by its folders' names, a file that ffmpeg cannot read fails alone.
    writeFile(music / "Band/First/x.flac", "not audio at all");
    const fs::path log = temp / "ffmpeg.log";
    const fs::path ffmpeg =
        writeScript(temp / "ffmpeg", "echo \"$*\" >> " + shellQuote(log.string()) +
                                         "\nexec /usr/bin/ffmpeg \"$@\"\n");
    const std::vector<ConversionEvent> events =
        exportTo(temp / "card", music, [&](ConversionRunner& runner) {
            runner.ffmpeg = ffmpeg;
            runner.options = RunOptions{};  // with loudness and the real room on the card
            runner.options.jobs = 4;
            runner.profile.tags.artwork = {.enabled = true, .maxPx = 300};
        });

    // The compilation is one album folder, named after the first track's artist.
    const Texts expected = {
        "MUSIC/Band/First/01 Morning.mp3",   "MUSIC/Band/First/02 Evening.mp3",
        "MUSIC/Band/Second/01 Night.mp3",    "MUSIC/Singer 1/Hits/01 Song 1.mp3",
        "MUSIC/Singer 1/Hits/02 Song 2.mp3", "MUSIC/Singer 1/Hits/03 Song 3.mp3"};
    EXPECT_EQ(summaryOf(events).placed, expected);
    EXPECT_EQ(describe(events.back()), "done 6 skipped 0 failed 1");
    const std::string failed = "failed " + (music / "Band/First/x.flac").string() + ": ";
    EXPECT_EQ(std::ranges::count_if(trace(events), [&](auto& t) { return t.starts_with(failed); }),
              1);
    EXPECT_EQ(pathsBelow(temp / "card"), expected);
    // As mutagen reads them: every compilation track keeps its own artist,
    // the tags come through and each file holds the cover, 300 pixels wide.
    std::string files;
    for (const std::string& file : expected) files += (temp / "card" / file).string() + "\n";
    const ShellResult tags = runCommand(
        {systemPython, "-c",
         "import sys, struct\nfrom mutagen.id3 import ID3\n"
         "for f in sys.argv[1].split('\\n')[:-1]:\n"
         "  t = ID3(f); p = t.getall('APIC')[0].data\n"
         "  i = p.index(b'\\xff\\xc0')\n"
         "  print('|'.join(str(t.get(k, '')) for k in ('TIT2', 'TPE1', 'TALB', 'TRCK', 'TDRC',"
         " 'TCON')), struct.unpack('>H', p[i + 7:i + 9])[0])",
         files});
    EXPECT_EQ(tags.output,
              "Morning|Band|First|1|| 300\nEvening|Band|First|2|| 300\n"
              "Night|Band|Second|1|2021|J-Pop 300\nSong 1|Singer 1|Hits|1|| 300\n"
              "Song 2|Singer 2|Hits|2|| 300\nSong 3|Singer 3|Hits|3|| 300\n");
    // Parallel tracks of one album wait for its one search.
    EXPECT_EQ(
        runCommand({"grep", "-cFe", "-c:v copy -frames:v 1 -f image2 pipe:1", log.string()}).output,
        "3\n");
    EXPECT_EQ(runCommand({"grep", "-cFe", "-i pipe:0", log.string()}).output, "3\n");
}

TEST(Export, RealExfatCardThatFillsUpKeepsOnlyWholeAlbums) {
    std::string whyNot;
    const auto card = CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    // 60 seconds at 320 kbit/s are 2.4 MB a track: the first album (3 tracks)
    // fits, the second (5 tracks) does not.
    Texts rows;
    for (int n = 1; n <= 8; ++n) {
        rows.push_back("Band/" + std::string(n <= 3 ? "A" : "B") + " Side|Song " +
                       std::to_string(n) + "|Band|" + (n <= 3 ? "A" : "B") + " Side|" +
                       std::to_string(n <= 3 ? n : n - 3));
    }
    makeTones(temp / "music", 60.0, rows);
    // Ten minutes of headroom would be more than the whole card: here only a
    // write that finds no room may stop the run.
    const std::vector<ConversionEvent> events =
        exportTo(card->root(), temp / "music",
                 [](ConversionRunner& runner) { runner.profile.audio.bitrate = 320; });

    const Texts placed = {"MUSIC/Band/A Side/01 Song 1.mp3", "MUSIC/Band/A Side/02 Song 2.mp3",
                          "MUSIC/Band/A Side/03 Song 3.mp3"};
    EXPECT_EQ(summaryOf(events).placed, placed);
    EXPECT_EQ(pathsBelow(card->root()), placed);
    EXPECT_FALSE(fs::exists(card->root() / "MUSIC" / "Band" / "B Side"));
    const Texts told = trace(events);
    EXPECT_EQ(Texts(told.end() - 3, told.end()),
              (Texts{"notice 途中までしか入らなかったアルバム（MUSIC/Band/B Side）は、次のカードに"
                     "まとめて入れます",
                     "finishing", "done 3 skipped 0 failed 0 cardFull"}));
}

}  // namespace
}  // namespace tarvik
