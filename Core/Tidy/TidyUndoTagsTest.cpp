// Undo on real songs whose fields take another form under the new value, go,
// or stand in several frames or comments, or whose tag has an extended
// header or a footer: the whole song comes back byte for byte. The songs are made by ffmpeg, an
// MP3's frames put in by mutagen and then set byte by byte, a FLAC file's comments by metaflac.
#include <gtest/gtest.h>

#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidySongTesting.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using TagFields::Field;

// Saves the song's tag as ID3v2.<version> with the title "Cafe" in Latin-1,
// or in UTF-16 with a big-endian byte order mark, and `status` as the status
// byte of the artist frame (second of several); with `twice`, a second
// title frame after the artist's, in the padding's room.
void putFrames(const fs::path& file, int version, bool bigEndian, int status, bool twice) {
    const char* script = R"(
import sys
from mutagen.id3 import ID3, TIT2
path, version, big, status = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1", int(sys.argv[4])
twice = sys.argv[5] == "1"
tags = ID3(path)
tags.add(TIT2(encoding=int(big), text="Cafe"))
tags.save(v2_version=version)
data = bytearray(open(path, "rb").read())
at = data.index(b"TIT2") + 10
if big:
    assert data[at:at + 3] == b"\x01\xff\xfe"
    data[at + 1:at + 11] = b"\xfe\xff" + "Cafe".encode("utf-16-be")
data[data.index(b"TPE1") + 8] = status
assert data.index(b"TIT2") < data.index(b"TPE1") < data.index(b"TALB")
if twice:
    second = b"TIT2" + (8).to_bytes(4, "big") + b"\x20\x00" + b"\x00Cafe II"
    at = data.index(b"TPE1")
    at += 10 + int.from_bytes(data[at + 4:at + 8], "big")
    end = 10 + sum(b << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
    assert data[end - len(second):end] == bytes(len(second))
    data[end - len(second):end] = b""
    data[at:at] = second
open(path, "wb").write(data)
)";
    const testing::ShellResult result = testing::runCommand(
        {testing::systemPython, "-c", script, file.string(), std::to_string(version),
         bigEndian ? "1" : "0", std::to_string(status), twice ? "1" : "0"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
}

TEST(TidyUndoTags, MP3UndoGivesTheSongBackByteForByteWhateverFormTheNewValueTook) {
    struct Case {
        const char* what;
        int version;
        bool bigEndian;
        int artistStatus;
        std::string newTitle, newArtist;
        bool twoTitles = false;
    };
    const Case cases[] = {
        {"a Latin-1 title given a Japanese one", 3, false, 0, "\u30AB\u30D5\u30A7", "a band"},
        {"a big-endian UTF-16 title given a new one", 4, true, 0, "New", "a band"},
        {"an artist with a status flag removed", 4, false, 0x40, "Cafe", ""},
        {"a title in two frames, the second flagged, given one", 3, false, 0, "New", "a band",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(music / "song.mp3",
                          {.seconds = 0.2,
                           .metadata = {{"title", "x"}, {"artist", "a band"}, {"album", "Night"}}});
        putFrames(music / "song.mp3", c.version, c.bigEndian, c.artistStatus, c.twoTitles);
        TidyItem item = testing::retitling(music, "song.mp3", "song.mp3", c.newTitle);
        item.new_.artist = c.newArtist;
        const std::map<std::string, std::string> before = testing::filesBelow(music);

        const TidyResult applied =
            TidyApplier{}.apply({music.string(), {}, {item}}, dir / "journals", false, {}, {});
        ASSERT_EQ(applied.done, 1);
        const TagFields::Values now = TagFields::read(music / "song.mp3");
        EXPECT_EQ(now.at(Field::title), c.newTitle);
        EXPECT_EQ(now.at(Field::artist),
                  c.newArtist.empty() ? std::nullopt : std::optional(c.newArtist));

        EXPECT_EQ(TidyApplier{}.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == before) << "not byte for byte";
    }
}

TEST(TidyUndoTags, FLACCommentsComeBackAsTheyWereSpelledWhereTheyStood) {
    testing::TempDir dir;
    const fs::path music = dir / "Music";
    fs::create_directories(music);
    const fs::path song = music / "song.flac";
    testing::makeTone(song, {.seconds = 0.2});
    const testing::ShellResult set =
        testing::runCommand({"metaflac", "--remove-all-tags", "--set-tag=title=Cafe",
                             "--set-tag=ARTIST=a band", "--set-tag=Title=Cafe II",
                             "--set-tag=Genre=Rock", "--set-tag=ALBUM=Night", song.string()});
    ASSERT_EQ(set.exitCode, 0) << set.output;
    TidyItem item = testing::retitling(music, "song.flac", "song.flac", "New");
    item.new_.genre.clear();
    const std::map<std::string, std::string> before = testing::filesBelow(music);

    const TidyResult applied =
        TidyApplier{}.apply({music.string(), {}, {item}}, dir / "journals", false, {}, {});
    ASSERT_EQ(applied.done, 1);
    const TagFields::Values now = TagFields::read(song);
    EXPECT_EQ(now.at(Field::title), "New");
    EXPECT_EQ(now.at(Field::genre), std::nullopt);

    EXPECT_EQ(TidyApplier{}.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
    EXPECT_TRUE(testing::filesBelow(music) == before) << "not byte for byte";
}

// An extended header or a footer stays through apply and undo, as every
// reader needs it to find the frames; one holding a CRC of the frames,
// which a new title would make false, is refused before anything changes.
TEST(TidyUndoTags, MP3TagsExtendedHeaderAndFooterStayAndComeBack) {
    struct Case {
        const char* shape;
        int version;
    };
    for (const Case& c :
         {Case{"extended", 3}, Case{"extended", 4}, Case{"footer", 4}, Case{"crc", 4}}) {
        SCOPED_TRACE(std::string(c.shape) + " " + std::to_string(c.version));
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(music / "song.mp3",
                          {.seconds = 0.2,
                           .metadata = {{"title", "Cafe"}, {"artist", "a band"}},
                           .extraArguments = {"-id3v2_version", std::to_string(c.version)}});
        testing::reshapeTag(music / "song.mp3", c.shape);
        const std::map<std::string, std::string> before = testing::filesBelow(music);
        const TidyItem item = testing::retitling(music, "song.mp3", "song.mp3", "New Title");

        std::vector<TidyEvent> events;
        const TidyResult applied =
            TidyApplier{}.apply({music.string(), {}, {item}}, dir / "journals", false,
                                [&](const TidyEvent& event) { events.push_back(event); }, {});
        if (std::string(c.shape) == "crc") {
            EXPECT_EQ(testing::failuresIn(events),
                      std::vector<std::string>{"song.mp3: この形の ID3 タグは書き換えると元どおりに"
                                               "残せないため、書き換えません: song.mp3"});
            EXPECT_TRUE(testing::filesBelow(music) == before) << "changed";
            continue;
        }
        ASSERT_EQ(applied.done, 1);
        const std::string song = testing::readFile(music / "song.mp3");
        EXPECT_EQ(song[5], before.at("song.mp3")[5]) << "the flags";
        const nlohmann::json tags =
            testing::ffprobe(music / "song.mp3", "format_tags").at("format").at("tags");
        EXPECT_EQ(tags.value("title", ""), "New Title");
        EXPECT_EQ(tags.value("artist", ""), "a band");

        EXPECT_EQ(TidyApplier{}.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == before) << "not byte for byte";
    }
}

}  // namespace
}  // namespace tarvik
