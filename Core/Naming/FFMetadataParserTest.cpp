#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Core/Naming/FFMetadataParser.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::FFMetadataParser {
namespace {

using Map = std::map<std::string, std::string>;

TEST(FFMetadataParser, ReadsTheGlobalSection) {
    struct Case {
        std::string name, text;
        Map expected;
    };
    const std::vector<Case> cases = {
        {"empty", "", {}},
        {"header only", ";FFMETADATA1\n", {}},
        {"header with more on its line", ";FFMETADATA1 x=y\ntitle=A\n", {{"title", "A"}}},
        {"first equals sign separates", "title=A=B\n", {{"title", "A=B"}}},
        {"escaped equals sign stays in key", "a\\=b=c\n", {{"a=b", "c"}}},
        {"empty key", "=value\n", {{"", "value"}}},
        {"keys lower-cased, later wins",
         "TITLE=One\nartist=x\ntitle=Two\n",
         {{"title", "Two"}, {"artist", "x"}}},
        {"odd backslash run continues",
         "comment=first\\\nsecond\n",
         {{"comment", "first\nsecond"}}},
        {"even backslash run ends the line",
         "comment=end\\\\\nnext=1\n",
         {{"comment", "end\\"}, {"next", "1"}}},
        {"CRLF reads like LF",
         "title=A\r\nartist=B\\\r\nC\r\n",
         {{"title", "A"}, {"artist", "B\nC"}}},
        {"section header ends the parse", "title=A\n[CHAPTER]\nartist=B\n", {{"title", "A"}}},
        {"indented bracket is no header", " [x]\ntitle=A\n", {{"title", "A"}}},
        {"comments and blank lines", "; c=1\n# d=2\n\ntitle=A\n", {{"title", "A"}}},
        {"line without equals sign skipped", "just text\ntitle=A\n", {{"title", "A"}}},
        {"unescaping", "title=a\\nb\\;c\\#d\\\\e\\=f\n", {{"title", "anb;c#d\\e=f"}}},
        {"last line still continuing is dropped", "title=A\nartist=B\\", {{"title", "A"}}},
        // A backslash or "=" carrying a combining mark is another character.
        {"combined equals sign does not separate", "a=\u0301b=c\n", {{"a=\u0301b", "c"}}},
        {"combined backslash does not continue",
         "a=x\\\u0301\nb=y\n",
         {{"a", "x\\\u0301"}, {"b", "y"}}},
        {"combined bracket is no header",
         "[\u0301=1\ntitle=A\n",
         {{"[\u0301", "1"}, {"title", "A"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(parse(c.text).global, c.expected) << c.name;
}

TEST(FFMetadataParser, PicksFieldsByKeyOrderSkippingBlankValues) {
    struct Case {
        std::string name;
        Map global;
        SourceTags expected;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, {}},
        {"trimmed of spaces and tabs, not line breaks",
         {{"title", " \tA  B\t\u3000"}, {"genre", "\nPop "}},
         {.title = "A  B", .genre = "\nPop"}},
        {"blank artist stays empty", {{"artist", "  "}}, {}},
        {"blank album_artist gives way",
         {{"album_artist", " "}, {"albumartist", "X"}, {"album artist", "Y"}},
         {.albumArtist = "X"}},
        {"album artist with a space", {{"album artist", "Y"}}, {.albumArtist = "Y"}},
        {"track before the slash",
         {{"track", "03/12"}, {"disc", "1/2"}},
         {.track = "03", .disc = "1"}},
        {"spaced total", {{"track", "3 / 12"}, {"disc", "2 /2"}}, {.track = "3", .disc = "2"}},
        {"only a total", {{"track", "/12"}}, {}},
        {"tracknumber only when track is blank",
         {{"track", " "}, {"tracknumber", "7"}, {"discnumber", "2"}},
         {.track = "7", .disc = "2"}},
        {"track wins over tracknumber", {{"track", "1"}, {"tracknumber", "7"}}, {.track = "1"}},
        {"date cut to four characters", {{"date", "2019-05-01"}}, {.date = "2019"}},
        {"short date kept", {{"date", "98"}}, {.date = "98"}},
        {"year only when date is blank", {{"date", ""}, {"year", "1998"}}, {.date = "1998"}},
        {"date counts user-perceived characters",
         {{"date", "e\u0301e\u0301e\u0301e\u0301e\u0301"}},
         {.date = "e\u0301e\u0301e\u0301e\u0301"}},
    };
    for (const Case& c : cases) EXPECT_EQ(tags(Result{c.global}), c.expected) << c.name;
}

TEST(FFMetadataParser, ResultsAndTagsCompareUnderCanonicalEquivalence) {
    EXPECT_EQ(parse("title=Caf\u00E9\n"), parse("title=Cafe\u0301\n"));
    EXPECT_NE(parse("title=Cafe\n"), parse("title=Caf\u00E9\n"));
    EXPECT_NE(parse("title=A\n"), parse("name=A\n"));
    EXPECT_EQ(parse("T\u00CDTLE=x\n"), parse("TI\u0301TLE=x\n"));  // keys held in NFC
    EXPECT_EQ(SourceTags{.album = "Caf\u00E9"}, SourceTags{.album = "Cafe\u0301"});
    EXPECT_NE(SourceTags{.album = "A"}, SourceTags{.genre = "A"});
}

// The text of the real ffmpeg, for files ffmpeg wrote itself, with values that
// need its escapes: "=", ";", "#", backslashes and line breaks.
TEST(FFMetadataParser, ReadsWhatFFmpegPrintsForEachContainer) {
    const std::string albumArtist = "\u30A2\u30EB\u30D0\u30E0\u6B4C\u624B";
    struct Case {
        std::string extension;
        std::string albumArtistKey;  // how the container's own tag is named
    };
    const std::vector<Case> cases = {
        {"flac", "ALBUMARTIST"},  // read back as album_artist
        {"mp3", "ALBUMARTIST"},   // a user-defined frame, read back as ALBUMARTIST
        {"mp3", "album_artist"},
        {"m4a", "album_artist"},
    };
    const SourceTags expected{.title = "\u66F2\u540D=A;B",
                              .artist = "\u6B4C\u624B\n\u4E8C\u884C\u76EE",
                              .albumArtist = albumArtist,
                              .album = "Al#bum\\",
                              .track = "3",
                              .disc = "1",
                              .date = "2019",
                              .genre = "J-Pop"};
    testing::TempDir folder;
    for (const Case& c : cases) {
        const auto file = folder / ("tone-" + c.albumArtistKey + "." + c.extension);
        testing::ToneOptions tone;
        tone.seconds = 0.1;
        tone.metadata = {
            {"title", expected.title}, {"artist", expected.artist}, {c.albumArtistKey, albumArtist},
            {"album", expected.album}, {"track", "3/12"},           {"disc", "1/2"},
            {"date", "2019-05-01"},    {"genre", expected.genre}};
        testing::makeTone(file, tone);
        const testing::ShellResult printed =
            testing::runCommand({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i",
                                 file.string(), "-f", "ffmetadata", "-"});
        ASSERT_EQ(printed.exitCode, 0) << file;
        EXPECT_EQ(tags(parse(printed.output)), expected) << file << "\n" << printed.output;
    }
}

}  // namespace
}  // namespace tarvik::FFMetadataParser
