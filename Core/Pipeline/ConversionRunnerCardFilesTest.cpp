// What a re-export makes of the files it finds on a card, as users' cards
// really hold them: a stranger's album tagged by older taggers, files that
// name no album, sources whose headers tell no true length or a length that
// is not the audio's, and a copy that ended early. Real ffmpeg throughout.
#include "Core/Convert/AudioLength.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/SDCard/SDCardTools.hpp"
#include "Core/Testing/ID3Forms.hpp"

namespace tarvik {
namespace {

using namespace testing;

// Every audio file below `folder` as written before the identity.
void forgetAlbums(const fs::path& folder) {
    for (const std::string& path : pathsBelow(folder)) forgetAlbum(folder / path);
}

std::string untaggedAudio(const fs::path& scratch, double seconds = 1.0) {
    makeTone(
        scratch / "bare.mp3",
        {.seconds = seconds, .extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
    return readFile(scratch / "bare.mp3");
}

// An ID3v1 trailer naming the album `album` by `artist`.
std::string trailer(const std::string& album, const std::string& artist) {
    const auto field = [](std::string text) {
        text.resize(30, '\0');
        return text;
    };
    return "TAG" + field("Other") + field(artist) + field(album) + std::string(4, '\0') +
           std::string(28, '\0') + std::string("\0\x09\xFF", 3);
}

// A stranger's album "Road" by "Stranger" in the folder Walker's "Road"
// would take, tagged in ID3v2.2, in ID3v2.3 unsynchronised, only in the
// ID3v1 trailer behind an ID3v2 tag that names no album (as older taggers
// and splitters leave them), or of a kind the unit does not play (FLAC, Ogg,
// M4B, WAV): the export and the send both go to "Road 2", the log says
// another album is there, and the stranger's file stays byte for byte.
TEST(CardFiles, AStrangersAlbumInOlderTagFormsKeepsItsFolder) {
    const std::vector<std::pair<std::string, std::string>> strangerTags = {
        {"title", "Other"},
        {"artist", "Stranger"},
        {"album", "Road"},
        {"album_artist", "Stranger"}};
    // The stranger's file: its name and how it is made in `scratch`.
    using Make = std::function<std::string(const fs::path& scratch)>;
    const auto inForm = [](ID3Form form) -> Make {
        return [form](const fs::path& scratch) { return id3Tag(form) + untaggedAudio(scratch); };
    };
    const auto ofKind = [&](const std::string& name) -> Make {
        return [&, name](const fs::path& scratch) {
            makeTone(scratch / name, {.metadata = strangerTags});
            return readFile(scratch / name);
        };
    };
    const std::vector<std::tuple<std::string, std::string, Make>> cases = {
        {"ID3v2.2", "09 Other.mp3",
         inForm({.major = 2,
                 .frames = {{"TT2", "Other"},
                            {"TP1", "Stranger"},
                            {"TAL", "Road"},
                            {"TP2", "Stranger"}}})},
        {"ID3v2.3 unsynchronised", "09 Other.mp3",
         inForm({.major = 3,
                 .frames = {{"TIT2",
                             "\xFF"
                             "ther"},
                            {"TPE1", "Stranger"},
                            {"TALB", "Road"},
                            {"TPE2", "Stranger"}},
                 .unsync = true})},
        {"the album only in the ID3v1 trailer", "09 Other.mp3",
         [](const fs::path& scratch) {
             return id3Tag({.frames = {{"TIT2", "Other"}}}) + untaggedAudio(scratch) +
                    trailer("Road", "Stranger");
         }},
        {"FLAC", "09 Other.flac", ofKind("09 Other.flac")},
        {"Ogg Vorbis", "09 Other.ogg", ofKind("09 Other.ogg")},
        {"M4B", "09 Other.m4b", ofKind("09 Other.m4b")},
        {"WAV", "09 Other.wav", ofKind("09 Other.wav")},
    };
    const DeviceProfile plain("test", "Test");
    for (const auto& [name, file, make] : cases) {
        SCOPED_TRACE(name);
        TempDir temp;
        const fs::path music = temp / "music";
        makeAlbum(music, "Walker", "Road", 900);
        const std::string theirs = make(temp.path());
        for (const char* card : {"card", "sent"}) {
            writeFile(temp / card / "MUSIC/Walker/Road" / file, theirs);
        }
        const auto events = exportSelection(temp / "card", music, plain, {});
        EXPECT_EQ(trace(events, "notice"),
                  Texts{"notice 「Road」には別のアルバムがあるため「Road 2」に書き出しました"});
        EXPECT_EQ(pathsBelow(temp / "card/MUSIC/Walker"),
                  (Texts{"Road 2/01 Song 1.mp3", "Road 2/02 Song 2.mp3", "Road/" + file}));

        exportSelection(temp / "export", music, plain, {});
        const SDCardTools::SendResult sent = SDCardTools::send(
            SDCardTools::exportedAlbums({temp / "export/MUSIC"}), temp / "sent/MUSIC");
        EXPECT_EQ(sent.places,
                  (std::map<std::string, std::string>{{"Walker/Road", "Walker/Road 2"}}));
        for (const char* card : {"card", "sent"}) {
            EXPECT_EQ(readFile(temp / card / "MUSIC/Walker/Road" / file), theirs);
        }
    }
}

// A podcast episode (a title and an artist), an untagged ".aac", an empty
// ".wma" and an empty ".aac" in the album's own folder, on a card with identities and on
// an older one: each is told once and left, and nothing new is written.
TEST(CardFiles, FilesThatNameNoAlbumChangeNothing) {
    const DeviceProfile plain("test", "Test");
    for (const bool older : {false, true}) {
        SCOPED_TRACE(older ? "an older card" : "a card with identities");
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        const fs::path folder = card / "MUSIC/Band/Best";
        makeAlbum(music, "Band", "Best", 500);
        exportSelection(card, music, plain, {});
        if (older) forgetAlbums(card);
        makeTone(folder / "episode.mp3",
                 {.metadata = {{"title", "Episode 12"}, {"artist", "Talk Show"}}});
        makeTone(folder / "x.aac", {.extraArguments = {"-map_metadata", "-1"}});
        writeFile(folder / "y.wma", "");
        writeFile(folder / "z.aac", "");
        const std::map<std::string, std::string> before = filesBelow(card);
        const auto events = exportSelection(card, music, plain, {});
        EXPECT_EQ(describe(events.back()), "done 0 skipped 2 failed 0");
        Texts told = trace(events, "notice");
        std::ranges::sort(told);
        EXPECT_EQ(
            told,
            (Texts{"notice 「MUSIC/Band/Best/episode.mp3」はアルバム名のないファイルのため、"
                   "そのままにしました",
                   "notice 「MUSIC/Band/Best/x.aac」はタグを読めないファイルのため、"
                   "そのままにしました",
                   "notice 「MUSIC/Band/Best/y.wma」は空のファイルのため、そのままにしました",
                   "notice 「MUSIC/Band/Best/z.aac」は空のファイルのため、そのままにしました"}));
        EXPECT_EQ(filesBelow(card), before);
    }
}

// An ID3v1-only unit writes no identity, so every re-export finds the
// tracks by tags and length: a FLAC written to a pipe tells no length (its
// tags decide alone), and an M4A's six seconds of picture are not its
// audio's length. Three exports leave one copy of each.
TEST(CardFiles, SourcesWithoutATrueLengthAreWrittenOnce) {
    TempDir temp;
    const fs::path music = temp / "music", card = temp / "card";
    const std::vector<std::pair<std::string, std::string>> pipe = {
        {"title", "Flow"}, {"artist", "Band"}, {"album", "Pipe"}, {"track", "1"}};
    makeTone(music / "Band/Pipe/1.flac", {.seconds = 2.0, .metadata = pipe, .pipedFormat = "flac"});
    makeTone(
        temp / "audio.m4a",
        {.seconds = 2.0,
         .metadata = {{"title", "Scene"}, {"artist", "Band"}, {"album", "Movie"}, {"track", "1"}}});
    fs::create_directories(music / "Band/Movie");
    ASSERT_EQ(
        runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", (temp / "audio.m4a").string(),
                    "-f", "lavfi", "-i", "color=size=32x32:duration=6", "-c:a", "copy", "-c:v",
                    "mpeg4", (music / "Band/Movie/1.m4a").string()})
            .exitCode,
        0);
    const DeviceProfile v1 = id3v1Profile(DeviceProfile::Tags::Encoding::latin1);
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE(run);
        const auto events = exportSelection(card, music, v1, {});
        EXPECT_EQ(describe(events.back()),
                  run == 1 ? "done 2 skipped 0 failed 0" : "done 0 skipped 2 failed 0");
        EXPECT_EQ(pathsBelow(card),
                  (Texts{"MUSIC/Band/Movie/01 Scene.mp3", "MUSIC/Band/Pipe/01 Flow.mp3"}));
    }
}

// A twenty-second song whose copy on the card ended at a third, with an
// identity or written before it, as MP3 or M4A: a re-export writes it again
// whole in its place, and there is one copy.
TEST(CardFiles, ACopyCutShortIsWrittenAgainWholeInItsPlace) {
    const DeviceProfile aac = aacProfile();
    struct Case {
        std::string name;
        DeviceProfile profile;
        bool older;
        std::string file;
    };
    const std::vector<Case> cases = {
        {"MP3 with identity", DeviceProfile("test", "Test"), false, "01 Long.mp3"},
        {"MP3 on an older card", DeviceProfile("test", "Test"), true, "01 Long.mp3"},
        {"M4A with identity", aac, false, "01 Long.m4a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeTones(music, 20.0, {"Band/Best|Long|Band|1"});
        exportSelection(card, music, c.profile, {});
        const fs::path file = card / "MUSIC/Band/Best" / c.file;
        if (c.older) forgetAlbum(file);
        const std::string whole = readFile(file);
        writeFile(file, whole.substr(0, whole.size() / 3));
        const auto events = exportSelection(card, music, c.profile, {});
        EXPECT_EQ(describe(events.back()), "done 1 skipped 0 failed 0");
        EXPECT_EQ(pathsBelow(card / "MUSIC/Band/Best"), Texts{c.file});
        FileSource source(file);
        const AudioLength::Reading reading = AudioLength::read(source);
        EXPECT_TRUE(reading.whole);
        EXPECT_NEAR(reading.seconds.value_or(0), 20.0, 0.1);
    }
}

}  // namespace
}  // namespace tarvik
