#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/ConvertTesting.hpp"

namespace tarvik {
namespace {

using V = ID3Writer::Version;
using E = ID3Writer::TextEncoding;
using id3v2::parse;

// Whole tags in each encoding and the trailer alone are read back by mutagen
// in the converter's tests; here the encodings a reader can't tell apart.
TEST(ID3Writer, TextFrameBodiesFollowTheChosenEncoding) {
    const std::string sjis = "\u65E5\uFF5E\u2460\u9AD9\uFF71";  // circled one, 髙, half-width kana
    const std::vector<std::tuple<V, E, std::string, Bytes>> cases = {
        {V::v2_3, E::utf8, "Ab", hex("01 FFFE 4100 6200 0000")},  // UTF-8 only from 2.4 on
        {V::v2_4, E::utf16, "\U0001F600", hex("01 FFFE 3DD8 00DE 0000")},
        {V::v2_3, E::latin1, "Caf\u00E9", hex("00 43 61 66 E9 00")},
        // one character beyond ISO-8859-1 sends the whole frame to UTF-16
        {V::v2_3, E::latin1, "\u00E9\u65E5", hex("01 FFFE E900 E565 0000")},
        {V::v2_4, E::shiftJIS, sjis, concat({{0x00}, *text::toCP932(sjis), {0x00}})},
        // "Two 〜夢〜" once reached the unit as "Two ?夢?": each JIS form goes in
        // as the code page 932 character the unit shows in its place.
        {V::v2_3, E::shiftJIS, "Two \u301C\u5922\u301C", hex("00 54776F20 8160 96B2 8160 00")},
        {V::v2_3, E::shiftJIS, "A\u2014B\u2212C\u00A51\u00A2\u00AC\u2016\u00A3",
         hex("00 41 815C 42 817C 43 818F 31 8191 81CA 8161 8192 00")},
        {V::v2_3, E::shiftJIS, "A\u00E9\U0001F600", hex("00 41 3F 3F 00")},
        {V::v2_3, E::shiftJIS, "\u2764\uFE0F!", hex("00 3F 21 00")}};  // one character, one "?"
    for (const auto& [version, encoding, text, body] : cases) {
        EXPECT_EQ(parse(ID3Writer{version, encoding}.encodeV2({.title = text}, 0)).frames,
                  std::vector<Bytes>{id3::frame("TIT2", body, version)})
            << text;
    }
}

TEST(ID3Writer, TrailerFieldsAreFittedByteForByte) {
    const ID3Writer writer{V::v2_3, E::utf16, true, true};
    // The last: a full-width digit is not ASCII.
    // clang-format off
    for (const auto& [track, byte] : std::vector<std::pair<std::string, int>>{
             {"12", 12}, {"007", 7}, {"300", 255}, {"-1", 0}, {"3/12", 0}, {"", 0},
             {"9223372036854775807", 255}, {"99999999999999999999", 0}, {"\uFF15", 0}}) {
        // clang-format on
        EXPECT_EQ(writer.encodeV1({.track = track})[126], byte) << "[" << track << "]";
    }
    for (const auto& [genre, byte] : std::vector<std::pair<std::string, int>>{
             {"Blues", 0}, {"Psybient", 191}, {"rock", 255}, {"R&B", 14}, {"J-Pop", 255}}) {
        EXPECT_EQ(writer.encodeV1({.genre = genre})[127], byte) << genre;
    }
    std::string kana15;
    for (int i = 0; i < 15; ++i) kana15 += "\u3042";
    const std::vector<std::tuple<E, std::string, Bytes>> titles = {
        {E::latin1, std::string(31, 'a'), Bytes(30, 'a')},
        {E::utf8, "Caf\u00E9", hex("43 61 66 E9")},
        {E::utf16, "\u65E5\u672C\u8A9E", hex("3F 3F 3F")},
        {E::utf16, "e\u0301", hex("65 3F")},  // combining accent: one byte per scalar
        // a character's bytes are never split: 1 + 14 * 2 bytes, then the zero
        // (whole Shift-JIS fields are read back by mutagen in the converter's tests)
        {E::shiftJIS, "A" + kana15,
         hex("41 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0 82A0")}};
    for (auto [encoding, title, field] : titles) {
        const Bytes trailer = ID3Writer{V::v2_3, encoding, true, true}.encodeV1({.title = title});
        ASSERT_EQ(trailer.size(), 128U);
        field.resize(30, 0);
        EXPECT_EQ(Bytes(trailer.begin() + 3, trailer.begin() + 33), field) << title;
    }
}

// The album's identity is one more frame before the cover, in the tag's
// encoding; every other frame stays byte for byte what it was. Its digest
// takes the album artist (else the artist) and the album in NFC, never the
// title; our reader finds it again also past a text that fills the first read.
TEST(ID3Writer, AlbumIdentityIsOnePrivateFrameAndChangesNothingElse) {
    const std::string identity = AlbumIdentity::of({"T", "A", "Various", "アルバム", "", "", "", ""});
    EXPECT_EQ(identity, "0db83580b6eb3bddab3bdb6c9e5c9253671d9c817679a4622c242c596e980b80");
    EXPECT_EQ(AlbumIdentity::of({"Other", "歌手", "", "Cafe\u0301", "9", "", "", ""}),
              "2ee5cb59be6e8dd1cdcceee21fe98cfd863e73147803e0a7bb1248d922477786");
    const std::string id = "0123abcd";
    const std::vector<std::tuple<V, E, Bytes>> cases = {
        {V::v2_3, E::shiftJIS, hex("00 5441525649 4B5F414C42554D 00 3031323361626364 00")},
        {V::v2_3, E::utf16,
         hex("01 FFFE 540041005200560049004B005F0041004C00420055004D00 0000"
             "FFFE 30003100320033006100620063006400 0000")},
        {V::v2_4, E::utf8, hex("03 5441525649 4B5F414C42554D 00 3031323361626364 00")},
        {V::v2_3, E::latin1, hex("00 5441525649 4B5F414C42554D 00 3031323361626364 00")}};
    const ID3Writer::Tags tags{"日本語の歌", "歌手", "アルバム", "Various", "3", "1", "2019",
                               "J-Pop", bytes(std::string(5000, 'j'))};
    TempDir temp;
    for (const auto& [version, encoding, body] : cases) {
        const ID3Writer writer{version, encoding};
        ID3Writer::Tags with = tags;
        with.albumIdentity = id;
        std::vector<Bytes> frames = parse(writer.encodeV2(with, 0)).frames;
        const std::vector<Bytes> plain = parse(writer.encodeV2(tags, 0)).frames;
        ASSERT_EQ(frames.size(), plain.size() + 1);
        const Bytes txxx = id3::frame("TXXX", body, version);
        EXPECT_EQ(frames[frames.size() - 2], txxx);  // just before the cover
        frames.erase(frames.end() - 2);
        EXPECT_EQ(frames, plain);
        // A title long enough to push the frame past the reader's first 4096 bytes.
        with.title = std::string(5000, 't');
        writeFile(temp / "a.mp3", std::string(asText(writer.encodeV2(with, 0))) + "audio");
        EXPECT_EQ(AlbumIdentity::read(temp / "a.mp3"), id);
    }
    writeFile(temp / "none.mp3", asText(ID3Writer{}.encodeV2(tags, 0)));
    EXPECT_EQ(AlbumIdentity::read(temp / "none.mp3"), std::nullopt);
    EXPECT_EQ(AlbumIdentity::read(temp / "missing.mp3"), std::nullopt);
}

}  // namespace
}  // namespace tarvik
