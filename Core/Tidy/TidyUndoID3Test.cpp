// Undo on real MP3s whose frames take another form under the new value, or
// go: the whole song comes back byte for byte. The songs are made by ffmpeg,
// their frames put in by mutagen and then set byte by byte.
#include <gtest/gtest.h>

#include "Core/Convert/TagFields.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using TagFields::Field;

// Saves the song's tag as ID3v2.<version> with the title "Cafe" in Latin-1,
// or in UTF-16 with a big-endian byte order mark, and `status` as the status
// byte of the artist frame (second of several).
void putFrames(const fs::path& file, int version, bool bigEndian, int status) {
    const char* script = R"(
import sys
from mutagen.id3 import ID3, TIT2
path, version, big, status = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1", int(sys.argv[4])
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
open(path, "wb").write(data)
)";
    const testing::ShellResult result = testing::runCommand(
        {testing::systemPython, "-c", script, file.string(), std::to_string(version),
         bigEndian ? "1" : "0", std::to_string(status)});
    ASSERT_EQ(result.exitCode, 0) << result.output;
}

TEST(TidyUndoID3, UndoGivesTheSongBackByteForByteWhateverFormTheNewValueTook) {
    struct Case {
        const char* what;
        int version;
        bool bigEndian;
        int artistStatus;
        std::string newTitle, newArtist;
    };
    const Case cases[] = {
        {"a Latin-1 title given a Japanese one", 3, false, 0, "\u30AB\u30D5\u30A7", "a band"},
        {"a big-endian UTF-16 title given a new one", 4, true, 0, "New", "a band"},
        {"an artist with a status flag removed", 4, false, 0x40, "Cafe", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(music / "song.mp3",
                          {.seconds = 0.2,
                           .metadata = {{"title", "x"}, {"artist", "a band"}, {"album", "Night"}}});
        putFrames(music / "song.mp3", c.version, c.bigEndian, c.artistStatus);
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

}  // namespace
}  // namespace tarvik
