#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Version = ID3Writer::Version;
using Encoding = ID3Writer::TextEncoding;
using testing::TempDir;

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct ParsedFrame {
    std::string id;
    Bytes body;
};

// Reads the frames back by their declared sizes, as a unit's reader would.
std::vector<ParsedFrame> framesOf(const Bytes& tag) {
    std::vector<ParsedFrame> frames;
    const std::size_t end = 10 + id3::readSyncsafe(&tag[6]);
    for (std::size_t at = 10; at + 10 <= end && tag[at] != 0;) {
        std::uint32_t size =
            tag[3] == 4 ? id3::readSyncsafe(&tag[at + 4]) : id3::readBigEndian32(&tag[at + 4]);
        frames.push_back({std::string(tag.begin() + at, tag.begin() + at + 4),
                          Bytes(tag.begin() + at + 10, tag.begin() + at + 10 + size)});
        at += 10 + size;
    }
    return frames;
}

std::vector<std::string> idsOf(const Bytes& tag) {
    std::vector<std::string> ids;
    for (const ParsedFrame& frame : framesOf(tag)) ids.push_back(frame.id);
    return ids;
}

TEST(ID3Writer, TextFrameBodiesFollowTheChosenEncoding) {
    struct Case {
        Version version;
        Encoding preferred;
        std::string text;
        Bytes body;
    };
    const std::vector<Case> cases = {
        {Version::v2_3, Encoding::utf16, "Ab", {0x01, 0xFF, 0xFE, 'A', 0, 'b', 0, 0, 0}},
        // UTF-8 exists only from version 2.4 on
        {Version::v2_3, Encoding::utf8, "Ab", {0x01, 0xFF, 0xFE, 'A', 0, 'b', 0, 0, 0}},
        {Version::v2_4, Encoding::utf8, "A\u00E9", {0x03, 'A', 0xC3, 0xA9, 0}},
        {Version::v2_4,
         Encoding::utf16,
         "\U0001F600",
         {0x01, 0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}},
        {Version::v2_3, Encoding::latin1, "Caf\u00E9", {0x00, 'C', 'a', 'f', 0xE9, 0}},
        // one character beyond ISO-8859-1 sends the whole frame to UTF-16
        {Version::v2_3,
         Encoding::latin1,
         "\u00E9\u65E5",
         {0x01, 0xFF, 0xFE, 0xE9, 0, 0xE5, 0x65, 0, 0}},
        // code page 932 with its extras (circled one, 髙, half-width kana)
        {Version::v2_4, Encoding::shiftJIS, "\u65E5\uFF5E\u2460\u9AD9\uFF71",
         concat({{0x00}, *text::toCP932("\u65E5\uFF5E\u2460\u9AD9\uFF71"), {0x00}})},
        {Version::v2_3, Encoding::shiftJIS, "A\u00E9\U0001F600", {0x00, 'A', '?', '?', 0}},
        // two scalars, one character: a single "?"
        {Version::v2_3, Encoding::shiftJIS, "\u2764\uFE0F!", {0x00, '?', '!', 0}},
        // not trimmed: spaces make a frame
        {Version::v2_4, Encoding::utf8, "  ", {0x03, ' ', ' ', 0}},
    };
    for (const Case& c : cases) {
        ID3Writer writer{c.version, c.preferred, false, true};
        std::vector<ParsedFrame> frames = framesOf(writer.encodeV2({.title = c.text}, 0));
        ASSERT_EQ(frames.size(), 1U) << c.text;
        EXPECT_EQ(frames[0].id, "TIT2");
        EXPECT_EQ(frames[0].body, c.body) << c.text;
    }
}

TEST(ID3Writer, FramesComeInTheUnitsOrder) {
    ID3Writer::Tags tags{.title = "T",
                         .artist = "Artist",
                         .album = "Album",
                         .albumArtist = "Album Artist",
                         .track = "1",
                         .disc = "1",
                         .year = "2021",
                         .genre = "Pop",
                         .artworkJPEG = Bytes{0xFF, 0xD8, 0xFF, 0xD9}};
    struct Case {
        Version version;
        std::string albumArtist;
        std::vector<std::string> ids;
    };
    const std::vector<Case> cases = {
        {Version::v2_4,
         "Album Artist",
         {"TIT2", "TPE1", "TRCK", "TALB", "TPOS", "TDRC", "TCON", "TPE2", "APIC"}},
        // unlisted frames: the shorter first
        {Version::v2_3,
         "Album Artist",
         {"TIT2", "TPE1", "TRCK", "TALB", "TPOS", "TCON", "TYER", "TPE2", "APIC"}},
        {Version::v2_3,
         "AB",
         {"TIT2", "TPE1", "TRCK", "TALB", "TPOS", "TCON", "TPE2", "TYER", "APIC"}},
        // equal lengths: by identifier
        {Version::v2_3,
         "ABCD",
         {"TIT2", "TPE1", "TRCK", "TALB", "TPOS", "TCON", "TPE2", "TYER", "APIC"}},
    };
    for (const Case& c : cases) {
        tags.albumArtist = c.albumArtist;
        EXPECT_EQ(idsOf(ID3Writer{c.version, Encoding::utf16, false, true}.encodeV2(tags, 0)),
                  c.ids)
            << c.albumArtist;
    }
    // absent texts are simply missing; the year is written whole
    std::vector<ParsedFrame> frames =
        framesOf(ID3Writer{Version::v2_4, Encoding::utf8, false, true}.encodeV2(
            {.year = "2021-05-03", .genre = "Rock"}, 0));
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].id, "TDRC");
    EXPECT_EQ(frames[0].body, concat({{0x03}, bytes("2021-05-03"), {0x00}}));
    EXPECT_EQ(frames[1].id, "TCON");
}

TEST(ID3Writer, CoverThatWouldOverflowTheTagSizeIsLeftOut) {
    const Bytes jpeg(100, 0xAB);
    const std::uint64_t pictureFrame = 10 + 14 + jpeg.size();
    struct Case {
        std::uint64_t padding;
        bool keepsCover;
    };
    for (const Case& c : {Case{ID3Writer::tagSizeLimit - pictureFrame - 1, true},
                          Case{ID3Writer::tagSizeLimit - pictureFrame, false}}) {
        auto hint = static_cast<std::int64_t>((c.padding - 1024) * 1000);
        Bytes tag = ID3Writer{}.encodeV2({.artworkJPEG = jpeg}, hint);
        EXPECT_EQ(tag.size(), 10 + c.padding + (c.keepsCover ? pictureFrame : 0));
        EXPECT_LT(id3::readSyncsafe(&tag[6]), ID3Writer::tagSizeLimit);
        EXPECT_EQ(tag[10] == 'A', c.keepsCover);
    }
}

TEST(ID3Writer, TrailerTrackAndGenreBytes) {
    const std::vector<std::pair<std::string, int>> tracks = {
        {"12", 12},
        {"007", 7},
        {"300", 255},
        {"-1", 0},
        {"3/12", 0},
        {"", 0},
        {"9223372036854775807", 255},
        {"99999999999999999999", 0},
        {"\uFF15", 0},  // full-width digit is not ASCII
    };
    ID3Writer writer{Version::v2_3, Encoding::utf16, true, true};
    for (const auto& [track, byte] : tracks) {
        EXPECT_EQ(writer.encodeV1({.track = track})[126], byte) << "[" << track << "]";
    }
    const std::vector<std::pair<std::string, int>> genres = {
        {"Blues", 0}, {"Psybient", 191}, {"rock", 255}, {"R&B", 14}, {"J-Pop", 255},
    };
    for (const auto& [genre, byte] : genres) {
        EXPECT_EQ(writer.encodeV1({.genre = genre})[127], byte) << genre;
    }
}

TEST(ID3Writer, TrailerFieldsAreFittedByteForByte) {
    struct Case {
        Encoding encoding;
        std::string title;
        Bytes field;  // before the zero fill to 30 bytes
    };
    const std::string kana15 = [] {
        std::string s;
        for (int i = 0; i < 15; ++i) s += "\u3042";
        return s;
    }();
    const std::vector<Case> cases = {
        {Encoding::latin1, std::string(31, 'a'), Bytes(30, 'a')},
        {Encoding::utf8, "Caf\u00E9", {'C', 'a', 'f', 0xE9}},
        {Encoding::utf16, "\u65E5\u672C\u8A9E", {'?', '?', '?'}},
        {Encoding::utf16, "e\u0301", {'e', '?'}},  // combining accent: one byte per scalar
        {Encoding::shiftJIS, "\u65E5\u672C", {0x93, 0xFA, 0x96, 0x7B}},
        // a character's bytes are never split: 1 + 14 * 2 bytes, then the zero
        {Encoding::shiftJIS, "A" + kana15,
         concat({{'A'},
                 [] {
                     Bytes b;
                     for (int i = 0; i < 14; ++i) b.insert(b.end(), {0x82, 0xA0});
                     return b;
                 }()})},
    };
    for (const Case& c : cases) {
        Bytes trailer =
            ID3Writer{Version::v2_3, c.encoding, true, true}.encodeV1({.title = c.title});
        ASSERT_EQ(trailer.size(), 128U);
        Bytes field = c.field;
        field.resize(30, 0);
        EXPECT_EQ(Bytes(trailer.begin() + 3, trailer.begin() + 33), field) << c.title;
    }
}

TEST(ID3Writer, WriteJoinsTagAudioAndTrailer) {
    TempDir temp;
    testing::writeFile(temp / "audio.raw", std::string(3000, '\x55'));
    const Bytes audio = readWholeFile(temp / "audio.raw");
    const ID3Writer::Tags tags{.title = "Song", .track = "3"};
    for (bool v1 : {false, true}) {
        for (bool v2 : {false, true}) {
            ID3Writer writer{Version::v2_4, Encoding::utf8, v1, v2};
            writer.write(tags, temp / "audio.raw", temp / "out.mp3");
            Bytes expected =
                concat({v2 ? writer.encodeV2(tags, 3000) : Bytes{}, audio, writer.encodeV1(tags)});
            EXPECT_EQ(readWholeFile(temp / "out.mp3"), expected) << v1 << v2;
        }
    }
    EXPECT_THROW(ID3Writer{}.write(tags, temp / "missing.raw", temp / "never.mp3"),
                 ConversionError);
    EXPECT_FALSE(std::filesystem::exists(temp / "never.mp3"));
}

nlohmann::json readWithMutagen(const std::filesystem::path& file) {
    testing::ShellResult result = testing::runCommand(
        {testing::systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/id3_read.py",
         file.string()});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return nlohmann::json::parse(result.output);
}

TEST(ID3Writer, IndependentReaderSeesTheSameFields) {
    TempDir temp;
    const auto audio = temp / "tone.mp3";
    testing::ToneOptions bare;  // MP3 frames only, as the converter's encoder leaves them
    bare.seconds = 0.5;
    bare.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0", "-write_id3v1", "0"};
    testing::makeTone(audio, bare);
    const ID3Writer::Tags tags{.title = "Caf\u00E9 \u65E5\u672C",
                               .artist = "Artist",
                               .album = "\u30A2\u30EB\u30D0\u30E0",
                               .albumArtist = "Various",
                               .track = "3/12",
                               .disc = "1/2",
                               .year = "2021",
                               .genre = "J-Pop",
                               .artworkJPEG = Bytes(500, 0x42)};
    struct Case {
        ID3Writer writer;
        std::string version;
        int textEncoding;  // of the ASCII artist frame
    };
    const std::vector<Case> cases = {
        {{Version::v2_3, Encoding::utf16, false, true}, "2.3", 1},
        {{Version::v2_4, Encoding::utf8, false, true}, "2.4", 3},
        {{Version::v2_3, Encoding::latin1, false, true}, "2.3", 0},
    };
    for (const Case& c : cases) {
        c.writer.write(tags, audio, temp / "out.mp3");
        nlohmann::json read = readWithMutagen(temp / "out.mp3");
        EXPECT_EQ(read["version"], c.version);
        EXPECT_EQ(read["title"], tags.title);
        EXPECT_EQ(read["artist"], tags.artist);
        EXPECT_EQ(read["album"], tags.album);
        EXPECT_EQ(read["albumArtist"], tags.albumArtist);
        EXPECT_EQ(read["track"], tags.track);
        EXPECT_EQ(read["disc"], tags.disc);
        EXPECT_EQ(read["year"], tags.year);
        EXPECT_EQ(read["genre"], tags.genre);
        EXPECT_EQ(read["artistEncoding"], c.textEncoding) << c.version;
        EXPECT_EQ(read["picture"],
                  (nlohmann::json{{"type", 3}, {"mime", "image/jpeg"}, {"size", 500}}));
    }

    // Only the trailer: the reader falls back to it.
    ID3Writer{Version::v2_3, Encoding::latin1, true, false}.write({.title = "Title",
                                                                   .artist = "Artist",
                                                                   .album = "Album",
                                                                   .track = "7",
                                                                   .year = "1999",
                                                                   .genre = "Rock"},
                                                                  audio, temp / "v1.mp3");
    nlohmann::json read = readWithMutagen(temp / "v1.mp3");
    EXPECT_EQ(read["version"], "1.1");
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"title", "Title"},
                                                          {"artist", "Artist"},
                                                          {"album", "Album"},
                                                          {"track", "7"},
                                                          {"year", "1999"},
                                                          {"genre", "Rock"}}) {
        EXPECT_EQ(read[key], value) << key;
    }
}

}  // namespace
}  // namespace tarvik
