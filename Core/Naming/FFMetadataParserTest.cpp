#include <gtest/gtest.h>

#include <map>

#include "Core/Naming/FFMetadataParser.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::FFMetadataParser {
namespace {

using Map = std::map<std::string, std::string>;

// The real ffmpeg's text below covers the plain escapes; these are the edges.
TEST(FFMetadataParser, ReadsTheGlobalSectionAndPicksFieldsByKeyOrder) {
    const std::vector<std::pair<std::string, Map>> cases = {
        {"a\\=b=c\n=v\nd=end\\\\\r\ne=x\\\r\ny\n",
         {{"a=b", "c"}, {"", "v"}, {"d", "end\\"}, {"e", "x\ny"}}},
        {" [x]\n; c=1\n# d=2\n\njust text\nt=1\n[CHAPTER]\nu=2\n", {{"t", "1"}}},
        {"t=1\nartist=B\\", {{"t", "1"}}},  // the last line still continuing is dropped
        // Only ffmpeg's own headers end the section; a key may begin with "[".
        {"[MOOD]=happy\n[CHAPTER]x=1\ntitle=T\n[STREAM]\ntitle=S\n",
         {{"[mood]", "happy"}, {"[chapter]x", "1"}, {"title", "T"}}},
        // A backslash, "=" or "[" carrying a combining mark is another character.
        {"a=\u0301b=c\nd=x\\\u0301\n[\u0301=1\n",
         {{"a=\u0301b", "c"}, {"d", "x\\\u0301"}, {"[\u0301", "1"}}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parse(text).global, expected) << text;
    EXPECT_EQ(tags(Result{{{"title", " \tA\t\u3000"},
                           {"album_artist", " "},
                           {"album artist", "Y"},
                           {"track", " "},
                           {"tracknumber", "7"},
                           {"date", ""},
                           {"year", "98"}}}),
              (SourceTags{.title = "A", .albumArtist = "Y", .track = "7", .date = "98"}));
    EXPECT_EQ(tags(Result{{{"track", "/12"}, {"date", "e\u0301e\u0301e\u0301e\u0301e\u0301"}}}),
              (SourceTags{.date = "e\u0301e\u0301e\u0301e\u0301"}));
    EXPECT_EQ(parse("T\u00CDTLE=Caf\u00E9\n"), parse("TI\u0301TLE=Cafe\u0301\n"));
}

// The text of the real ffmpeg, for files ffmpeg wrote itself, with values that
// need its escapes: "=", ";", "#", backslashes and line breaks.
TEST(FFMetadataParser, ReadsWhatFFmpegPrintsForEachContainer) {
    // Title, artist, album artist, album, track, disc, date, genre.
    const SourceTags expected{"\u66F2=A;B", "\u6B4C\n\u4E8C", "\u30A2", "Al#bum\\", "3",
                              "1",          "2019",           "Pop"};
    testing::TempDir folder;
    // Each container with its own name of the album artist tag.
    for (const std::string file :
         {"ALBUMARTIST.flac", "ALBUMARTIST.mp3", "album_artist.mp3", "album_artist.m4a"}) {
        testing::ToneOptions tone;
        tone.seconds = 0.1;
        // A first key that begins with "[", which ffmpeg prints unescaped.
        tone.metadata = {{"[MOOD]", "happy"},
                         {"title", expected.title},
                         {"artist", expected.artist},
                         {file.substr(0, file.find('.')), expected.albumArtist},
                         {"album", expected.album},
                         {"track", "3/12"},
                         {"disc", "1/2"},
                         {"date", "2019-05-01"},
                         {"genre", expected.genre}};
        testing::makeTone(folder / file, tone);
        const testing::ShellResult printed =
            testing::runCommand({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i",
                                 (folder / file).string(), "-f", "ffmetadata", "-"});
        ASSERT_EQ(printed.exitCode, 0) << file;
        EXPECT_EQ(tags(parse(printed.output)), expected) << file << "\n" << printed.output;
    }
}

}  // namespace
}  // namespace tarvik::FFMetadataParser
