// A run writes only where the user pointed: the destination as given, the
// card root below it, a profile that passed the validator; a destination
// that goes away, links and full cards never send the writes elsewhere.
// Whole exports with the real ffmpeg, read back by mutagen, and a real exFAT
// card that fills up while it is written.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/Mounting.hpp"

namespace tarvik {
namespace {

using namespace testing;
using Files = std::map<std::string, std::string>;

// The desktop's junk and a user's files beside the card, which nothing may touch.
Files besideTheCard(const fs::path& parent) {
    const Files files = {{"Documents/._letter.txt", "fork"}, {"Photos/._beach.jpg", "fork"}};
    for (const auto& [path, content] : files) writeFile(parent / path, content);
    return files;
}

// A root into the user's files; the validator's other refusals, such as
// "..", are its own tests' rows and end the run the same way.
TEST(RunDestination, ProfileWithProblemsEndsTheRunBeforeAnythingIsWritten) {
    for (const bool withPlan : {true, false}) {
        TempDir temp;
        const Files before = besideTheCard(temp.path());
        fs::create_directory(temp / "card");
        ConversionRunner runner = runnerFor(temp / "card");
        runner.profile.files.root = (temp / "Photos").string();
        const Texts told =
            trace(runToTheEnd(runner, withPlan ? std::optional(separateAlbums(3)) : std::nullopt));
        ASSERT_EQ(told.size(), 2U) << withPlan;
        EXPECT_TRUE(told[0].starts_with("failed /nonexistent/music: ")) << told[0];
        EXPECT_NE(told[0].find("files.root: フォルダ名に使えない文字が入っています"),
                  std::string::npos)
            << told[0];
        EXPECT_EQ(told[1], "done 0 skipped 0 failed 1");
        EXPECT_EQ(filesBelow(temp.path()), before) << withPlan;
    }
}

// The card goes before the run, when the room for track 3 is asked for (just
// before it starts) or while track 3 converts: once it is gone nothing more
// starts, nothing lands beside it (`outside`) or in a folder made anew, and
// the run ends as a stopped one, so the carry-over of earlier cards stays.
void cardGoesAway(const fs::path& card, const fs::path& outside,
                  const std::function<void()>& takeAway, std::size_t started) {
    SCOPED_TRACE(started);
    ConversionRunner runner = runnerFor(card);
    runner.options.freeSpace = [&, asked = std::make_shared<std::size_t>(0)](const fs::path&) {
        if (++*asked == 3 && started == 2) takeAway();
        return std::optional<std::int64_t>();
    };
    ScriptedConverter converter;
    converter.onStart([&](const Converter::Job& job) {
        if (started == 3 && job.source.filename() == "3.flac") takeAway();
    });
    if (started == 0) takeAway();
    const auto events = runToTheEnd(runner, separateAlbums(5), converter);
    const std::string lost(ConversionRunner::destinationLostMessage);
    EXPECT_EQ(trace(events, "failed"), Texts{"failed " + card.string() + ": " + lost});
    EXPECT_EQ(converter.started().size(), started);
    EXPECT_EQ(describe(events.back()), "done " + std::to_string(std::min<std::size_t>(started, 2)) +
                                           " skipped 0 failed 1 stopped lost");
    EXPECT_EQ(filesBelow(outside), Files{});
}

TEST(RunDestination, FolderThatGoesAwayStopsTheRunAndNothingIsWrittenElsewhere) {
    for (const std::size_t started : {0, 2, 3}) {
        TempDir temp;
        const fs::path card = temp / "card";
        fs::create_directory(card);
        cardGoesAway(
            card, temp.path(), [&] { fs::remove_all(card); }, started);
        EXPECT_FALSE(fs::exists(card));
    }
}

// A pulled card leaves its empty mount folder, which nothing is written into.
TEST(RunDestination, PulledExfatCardStopsTheRunAndNothingIsWrittenElsewhere) {
    for (const std::size_t started : {2, 3}) {
        TempDir temp;
        std::string whyNot;
        const auto image = CardImage::make(16 << 20, whyNot);
        if (!image) GTEST_SKIP() << "no real exFAT card: " << whyNot;
        cardGoesAway(
            image->root(), temp.path(), [&] { image->pull(); }, started);
        EXPECT_TRUE(fs::is_directory(image->root()));
        EXPECT_TRUE(fs::is_empty(image->root()));
    }
}

TEST(RunDestination, LinksInsideTheDestinationAreNeitherFollowedNorSwept) {
    TempDir temp;
    const Files outside = besideTheCard(temp / "outside");
    fs::create_directories(temp / "card/MUSIC");
    fs::create_directory_symlink(temp / "outside", temp / "card/MUSIC/Album 1");
    fs::create_directory_symlink(temp / "outside/Documents", temp / "card/MUSIC/Docs");
    const auto events = runToTheEnd(runnerFor(temp / "card"), separateAlbums(2));
    // The album whose folder is a link takes the next numbered folder; the link stays.
    EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0");
    EXPECT_EQ(filesBelow(temp / "outside"), outside);
    EXPECT_TRUE(fs::is_symlink(temp / "card/MUSIC/Album 1"));
    EXPECT_TRUE(fs::is_directory(temp / "card/MUSIC/Album 1 2"));

    // A music folder that is a link stops the run before anything starts,
    // and is not swept either; a link at an artist folder fails that
    // artist's tracks, told once.
    fs::remove_all(temp / "card/MUSIC");
    fs::create_directory_symlink(temp / "outside/Photos", temp / "card/MUSIC");
    const std::string linkMessage = "書き出し先のフォルダがリンクです: ";
    const std::string music = (temp / "card/MUSIC").string();
    ScriptedConverter unused;
    EXPECT_EQ(trace(runToTheEnd(runnerFor(temp / "card"), separateAlbums(1), unused)),
              (Texts{"progress 0 0 0 / 1", "failed " + music + ": " + linkMessage + music,
                     "finishing", "done 0 skipped 0 failed 1 stopped link"}));
    EXPECT_TRUE(unused.started().empty());
    EXPECT_EQ(filesBelow(temp / "outside"), outside);
    fs::remove(temp / "card/MUSIC");
    fs::create_directories(temp / "card/MUSIC");
    fs::create_directory_symlink(temp / "outside/Documents", temp / "card/MUSIC/Artist A");
    const Texts told = trace(
        runToTheEnd(runnerFor(temp / "card"), planOf({{"Artist A/A", 2}, {"Artist B/B", 1}})));
    EXPECT_EQ(Texts(told.begin() + 2, told.end()),
              (Texts{"failed /music/1.flac: " + linkMessage + music + "/Artist A",
                     "progress 0 0 1 / 3", "failed /music/2.flac: 上と同じ理由です",
                     "progress 0 0 2 / 3", "converted MUSIC/Artist B/B/3 t3.mp3",
                     "progress 1 0 2 / 3", "finishing", "done 1 skipped 0 failed 2"}));
    EXPECT_EQ(filesBelow(temp / "outside"), outside);

    // Album B's first track is written; while its second finds the card full,
    // the album's folder is swapped for a link to a folder of the user's:
    // taking back the partial album deletes nothing through it.
    fs::remove_all(temp / "card/MUSIC");
    ScriptedConverter converter;
    converter.script("3.flac", {ScriptedConverter::Ending::noSpace});
    converter.onStart([&](const Converter::Job& job) {
        if (job.source.filename() != "3.flac") return;
        fs::rename(temp / "card/MUSIC/B", temp / "mine");
        fs::create_directory_symlink(temp / "mine", temp / "card/MUSIC/B");
    });
    EXPECT_EQ(trace(runToTheEnd(runnerFor(temp / "card"), planOf({{"A", 1}, {"B", 2}}), converter))
                  .back(),
              "done 2 skipped 0 failed 0 cardFull");
    EXPECT_EQ(filesBelow(temp / "mine"), (Files{{"2 t2.mp3", "converted t2"}}));
}

// A cause that stops many tracks (a link loop, an input/output error) is
// told in full once; the later tracks point back to it.
TEST(RunDestination, OneCauseIsToldOnce) {
    TempDir temp;
    fs::create_directory(temp / "card");
    ScriptedConverter converter;
    converter.onStart([](const Converter::Job& job) {
        throw ConversionError("書き込めません: " + job.destination.filename().string() +
                              "（入出力エラー）");
    });
    const Texts failed =
        trace(runToTheEnd(runnerFor(temp / "card"), separateAlbums(3), converter), "failed");
    ASSERT_EQ(failed.size(), 3U);
    EXPECT_TRUE(failed[0].ends_with("（入出力エラー）")) << failed[0];
    EXPECT_TRUE(failed[1].ends_with(": 上と同じ理由です")) << failed[1];
    EXPECT_TRUE(failed[2].ends_with(": 上と同じ理由です")) << failed[2];
}

// A card that is read-only from the start, or that the system remounts
// read-only while track 2 is written (as after a card error): the run stops
// there like a lost card, tells the cause once and starts nothing more; what
// was written before stays counted.
TEST(RunDestination, ReadOnlyCardStopsTheRunWithItsCauseOnce) {
    for (const bool fromTheStart : {true, false}) {
        SCOPED_TRACE(fromTheStart);
        TempDir temp;
        const fs::path card = temp / "card";
        fs::create_directory(card);
        std::string whyNot;
        const auto mounted =
            Tmpfs::mount(card, "size=1m", whyNot, fromTheStart ? MS_RDONLY : 0);
        if (!mounted) GTEST_SKIP() << whyNot;
        ScriptedConverter converter;
        converter.onStart([&](const Converter::Job& job) {
            if (job.source.filename() != "2.flac") return;
            ASSERT_EQ(::mount(nullptr, card.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
                << std::strerror(errno);
        });
        const auto events = runToTheEnd(runnerFor(card), separateAlbums(4), converter);
        EXPECT_EQ(trace(events, "failed"),
                  Texts{"failed " + card.string() + ": 書き込めません: " + card.string() +
                        "（読み取り専用です）"});
        EXPECT_EQ(converter.started(), fromTheStart ? Texts{} : (Texts{"1.flac", "2.flac"}));
        EXPECT_EQ(describe(events.back()), fromTheStart
                                               ? "done 0 skipped 0 failed 1 stopped readOnly"
                                               : "done 1 skipped 0 failed 1 stopped readOnly");
    }
}

// The music folder goes (deleted, or its drive pulled) before track 3 is
// admitted, or while track 3 reads it: the run stops like a lost card, with
// the music folder's cause told once, and starts nothing more.
TEST(RunDestination, MusicFolderThatGoesAwayStopsTheRun) {
    for (const bool whileReading : {false, true}) {
        SCOPED_TRACE(whileReading);
        TempDir temp;
        const fs::path music = temp / "music";
        fs::create_directories(music / "Artist");
        fs::create_directory(temp / "card");
        ConversionRunner runner = runnerFor(temp / "card", 1, "/nonexistent/ffmpeg", music);
        runner.options.freeSpace = [&, asked = std::make_shared<int>(0)](const fs::path&) {
            if (++*asked == 3 && !whileReading) fs::remove_all(music);
            return std::optional<std::int64_t>();
        };
        ScriptedConverter converter;
        converter.onStart([&](const Converter::Job& job) {
            if (!whileReading || job.source.filename() != "3.flac") return;
            fs::remove_all(music);
            throw ConversionError(job.source.string() + ": ファイルがありません");
        });
        const auto events = runToTheEnd(runner, separateAlbums(5), converter);
        EXPECT_EQ(trace(events, "failed"),
                  Texts{"failed " + music.string() + ": " +
                        std::string(ConversionRunner::musicFolderLostMessage)});
        EXPECT_EQ(converter.started().size(), whileReading ? 3U : 2U);
        EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 1 stopped musicLost");
    }
}

// Root, MUSIC, a folder of the user's, then album 1 with its track, album 2
// with its track: 7 inodes leave no room for album 3's folder, 8 none for its
// track, and the folder made for it goes again.
TEST(RunDestination, NoRoomForAFolderIsAFullCardAndLeavesNoEmptyAlbum) {
    for (const int inodes : {7, 8}) {
        TempDir temp;
        fs::create_directory(temp / "card");
        std::string whyNot;
        const auto card =
            Tmpfs::mount(temp / "card", "size=1m,nr_inodes=" + std::to_string(inodes), whyNot);
        if (!card) GTEST_SKIP() << whyNot;
        fs::create_directories(temp / "card/MUSIC/Mine");
        const auto events = runToTheEnd(runnerFor(temp / "card"),
                                        planOf({{"A1", 1}, {"A2", 1}, {"A3", 1}, {"A4", 1}}));
        EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0 cardFull") << inodes;
        const auto folders = fs::directory_iterator(temp / "card/MUSIC");
        EXPECT_EQ(std::distance(begin(folders), end(folders)), 3) << inodes;
        EXPECT_TRUE(fs::exists(temp / "card/MUSIC/A2/2 t2.mp3")) << inodes;
    }
}

// The compilation "Hits" has no album artist: one album folder, named after
// its first track's artist, whose tracks each keep their own artist. A file
// that ffmpeg cannot read, planned by its folders' names, fails alone.
// Parallel tracks of one album wait for its one artwork search.
TEST(Export, MusicFolderBecomesACardWithArtistsAndOneArtworkSearchPerAlbum) {
    TempDir temp;
    const fs::path music = temp / "music";
    makeTones(music, 1.0,
              {"Band/First|Morning|Band|1", "Band/First|Evening|Band|2", "Band/Second|Night|Band|1",
               "Various/Hits|Song 1|Singer 1|1", "Various/Hits|Song 2|Singer 2|2",
               "Various/Hits|Song 3|Singer 3|3"});
    for (const std::string album : {"Band/First", "Band/Second", "Various/Hits"})
        makePicture(music / album / "cover.png", 640, 480);
    writeFile(music / "Band/First/x.flac", "not audio at all");
    const fs::path log = temp / "ffmpeg.log";
    const fs::path ffmpeg =
        writeScript(temp / "ffmpeg", "echo \"$*\" >> " + shellQuote(log.string()) +
                                         "\nexec /usr/bin/ffmpeg \"$@\"\n");
    const auto events = exportTo(temp / "card", music, [&](ConversionRunner& runner) {
        runner.ffmpeg = ffmpeg;
        runner.options = RunOptions{};  // with loudness and the real room on the card
        runner.options.jobs = 4;
        runner.profile.tags.artwork = {.enabled = true, .maxPx = 300};
    });

    const Texts expected = {
        "MUSIC/Band/First/01 Morning.mp3",   "MUSIC/Band/First/02 Evening.mp3",
        "MUSIC/Band/Second/01 Night.mp3",    "MUSIC/Singer 1/Hits/01 Song 1.mp3",
        "MUSIC/Singer 1/Hits/02 Song 2.mp3", "MUSIC/Singer 1/Hits/03 Song 3.mp3"};
    EXPECT_EQ(events.back().as<ConversionEvent::Summary>()->placed, expected);
    EXPECT_EQ(pathsBelow(temp / "card"), expected);
    EXPECT_EQ(describe(events.back()), "done 6 skipped 0 failed 1");
    EXPECT_EQ(trace(events, "failed " + (music / "Band/First/x.flac").string() + ": ").size(), 1U);
    // Each file's artist and the width of its cover, as mutagen reads them.
    Texts words = {systemPython, "-c", R"(import sys, struct
from mutagen.id3 import ID3
for f in sys.argv[1:]:
    t = ID3(f); p = t.getall('APIC')[0].data; i = p.index(b'\xff\xc0')
    print(t['TPE1'], struct.unpack('>H', p[i + 7:i + 9])[0]))"};
    for (const std::string& file : expected) words.push_back((temp / "card" / file).string());
    EXPECT_EQ(runCommand(words).output,
              "Band 300\nBand 300\nBand 300\nSinger 1 300\nSinger 2 300\nSinger 3 300\n");
    const std::string extraction = "-c:v copy -frames:v 1 -f image2 pipe:1";
    EXPECT_EQ(runCommand({"grep", "-cFe", extraction, log.string()}).output, "3\n");
    EXPECT_EQ(runCommand({"grep", "-cFe", "-i pipe:0", log.string()}).output, "3\n");
}

// ffmpeg prints a tag key that begins with "[" unescaped: when it comes
// first, the song still keeps its own title, artist and album on the card
// rather than its file name.
TEST(Export, FirstTagKeyThatBeginsWithABracketHidesNoTags) {
    TempDir temp;
    const fs::path music = temp / "music";
    makeTone(music / "Band/First/x.flac", {.seconds = 0.5,
                                           .metadata = {{"[MOOD]", "happy"},
                                                        {"title", "Morning"},
                                                        {"artist", "Band"},
                                                        {"album", "First"},
                                                        {"track", "1"}}});
    exportTo(temp / "card", music, [](ConversionRunner&) {});

    const fs::path written = temp / "card/MUSIC/Band/First/01 Morning.mp3";
    ASSERT_EQ(pathsBelow(temp / "card"), Texts{"MUSIC/Band/First/01 Morning.mp3"});
    EXPECT_EQ(runCommand({systemPython, "-c", R"(import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1]); print(t['TIT2'], t['TPE1'], t['TALB']))",
                          written.string()})
                  .output,
              "Morning Band First\n");
}

// 60 seconds at 320 kbit/s are 2.4 MB a track: the first album (3 tracks)
// fits, the second (5 tracks) does not. Ten minutes of headroom would be
// more than the whole card: here only a write that finds no room may stop
// the run.
TEST(Export, RealExfatCardThatFillsUpKeepsOnlyWholeAlbums) {
    std::string whyNot;
    const auto card = CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    Texts rows;
    for (int n = 1; n <= 8; ++n) {
        const std::string track = std::to_string(n <= 3 ? n : n - 3);
        rows.push_back((n <= 3 ? "Band/A Side|Song " : "Band/B Side|Song ") + track + "|Band|" +
                       track);
    }
    makeTones(temp / "music", 60.0, rows);
    const auto events = exportTo(card->root(), temp / "music", [](ConversionRunner& runner) {
        runner.profile.audio.bitrate = 320;
    });

    const Texts placed = {"MUSIC/Band/A Side/01 Song 1.mp3", "MUSIC/Band/A Side/02 Song 2.mp3",
                          "MUSIC/Band/A Side/03 Song 3.mp3"};
    EXPECT_EQ(events.back().as<ConversionEvent::Summary>()->placed, placed);
    EXPECT_EQ(pathsBelow(card->root()), placed);
    EXPECT_FALSE(fs::exists(card->root() / "MUSIC/Band/B Side"));
    const Texts told = trace(events);
    EXPECT_EQ(Texts(told.end() - 3, told.end()),
              (Texts{"notice 途中までしか入らなかったアルバム（MUSIC/Band/B Side）は、次のカードに"
                     "まとめて入れます",
                     "finishing", "done 3 skipped 0 failed 0 cardFull"}));
}

}  // namespace
}  // namespace tarvik
