#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::TempDir;
using namespace std::string_view_literals;

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes frame(std::string_view id, std::string_view text, int major) {
    return id3::frame(id, concat({{0x00}, bytes(text)}),
                      major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3);
}

// A tag whose declared size covers the frames and `paddingBytes` zero bytes.
Bytes tag(int major, std::uint8_t flags, const std::vector<Bytes>& frames,
          std::size_t paddingBytes = 16) {
    Bytes body = concat({});
    for (const Bytes& f : frames) body = concat({body, f});
    body.resize(body.size() + paddingBytes, 0);
    auto size = id3::syncsafe(static_cast<std::uint32_t>(body.size()));
    return concat({bytes("ID3"),
                   {static_cast<std::uint8_t>(major), 0, flags},
                   {size.begin(), size.end()},
                   body});
}

struct Frame {
    std::string id;
    Bytes raw;
};

// The frames of the tag at the start of `file`, and the bytes after the tag.
std::pair<std::vector<Frame>, Bytes> parse(const Bytes& file) {
    std::vector<Frame> frames;
    const std::size_t end = 10 + id3::readSyncsafe(&file[6]);
    for (std::size_t at = 10; file[at] != 0;) {
        std::size_t size =
            file[3] == 4 ? id3::readSyncsafe(&file[at + 4]) : id3::readBigEndian32(&file[at + 4]);
        frames.push_back({std::string(file.begin() + at, file.begin() + at + 4),
                          Bytes(file.begin() + at, file.begin() + at + 10 + size)});
        at += 10 + size;
    }
    return {frames, Bytes(file.begin() + end, file.end())};
}

std::vector<std::string> idsOf(const std::vector<Frame>& frames) {
    std::vector<std::string> ids;
    for (const Frame& f : frames) ids.push_back(f.id);
    return ids;
}

const TrackMeta meta("New Title", "Artist", "Album Artist", "Album", "3", "1", "2019-04-01",
                     "Rock");
const Bytes audio = concat({{0xFF, 0xFB, 0x90, 0x64}, Bytes(600, 0x55)});

TEST(TagEditor, Version4TagKeepsItsVersionAndLosesItsFooter) {
    const Bytes old = tag(4, 0x10, {frame("TIT2", "Old", 4), frame("TXXX", "keep", 4)});
    const Bytes footer = concat({bytes("3DI"), Bytes(old.begin() + 3, old.begin() + 10)});
    const Bytes out = TagEditor::rewriteID3(concat({old, footer, audio}), meta);
    const auto [frames, rest] = parse(out);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), concat({bytes("ID3"), {4, 0, 0}}));
    EXPECT_EQ(frames[0].raw,
              concat({bytes("TIT2"), {0, 0, 0, 11, 0, 0, 0x03}, bytes("New Title"), {0}}));
    EXPECT_EQ(idsOf(frames), (std::vector<std::string>{"TIT2", "TPE1", "TRCK", "TALB", "TPE2",
                                                       "TPOS", "TDRC", "TCON", "TXXX"}));
    EXPECT_EQ(frames.back().raw, frame("TXXX", "keep", 4));
    EXPECT_EQ(rest, audio);
}

TEST(TagEditor, OtherFramesStayRawAndInOrderAfterTheNewOnes) {
    Bytes privateFrame = frame("PRIV", "owner\0data"sv, 3);
    privateFrame[8] = 0x40;  // frame flags are carried over as they are
    const std::vector<Bytes> old = {frame("COMM", "eng\0note"sv, 3),
                                    frame("TIT2", "Old", 3),
                                    frame("APIC", "image/jpeg\0\x03\0jpeg"sv, 3),
                                    frame("TDRC", "1999", 3),
                                    privateFrame,
                                    frame("TYER", "1999", 3)};
    TrackMeta onlyTitle;
    onlyTitle.title = "T";
    const auto [frames, rest] =
        parse(TagEditor::rewriteID3(concat({tag(3, 0, old), audio}), onlyTitle));
    EXPECT_EQ(idsOf(frames), (std::vector<std::string>{"TIT2", "COMM", "APIC", "PRIV"}));
    EXPECT_EQ(frames[1].raw, old[0]);
    EXPECT_EQ(frames[2].raw, old[2]);
    EXPECT_EQ(frames[3].raw, old[4]);
    EXPECT_EQ(rest, audio);
}

TEST(TagEditor, TrailerIsRebuiltOnlyWhenThereWasOne) {
    Bytes oldTrailer =
        ID3Writer{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::latin1, true, true}.encodeV1(
            {.title = "Old", .genre = "Pop"});
    TrackMeta japanese = meta;
    japanese.title = "\u65E5\u672C\u8A9E";
    struct Case {
        std::string name;
        Bytes file;
        Bytes tail;  // expected after the tag
    };
    const Bytes shortAudio(100, 0x55);
    const Bytes newTrailer =
        ID3Writer{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::utf16, true, true}.encodeV1(
            {.title = "???",
             .artist = "Artist",
             .album = "Album",
             .track = "3",
             .year = "2019",
             .genre = "Rock"});
    const std::vector<Case> cases = {
        {"trailer", concat({tag(3, 0, {}), audio, oldTrailer}), concat({audio, newTrailer})},
        {"no trailer", concat({tag(3, 0, {}), audio}), audio},
        {"fewer than 128 bytes after the tag", concat({tag(3, 0, {}), bytes("TAG"), shortAudio}),
         concat({bytes("TAG"), shortAudio})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse(TagEditor::rewriteID3(c.file, japanese)).second, c.tail) << c.name;
    }
}

TEST(TagEditor, DamagedOrUnsupportedTagsAreRefusedAndNothingIsWritten) {
    const Bytes good = frame("TXXX", "x", 3);
    Bytes pastTag = tag(3, 0, {good, frame("APIC", "picture", 3)}, 0);
    pastTag[9] -= 3;  // the tag ends inside the picture
    Bytes cutHeader = tag(3, 0, {good, bytes("PRI")}, 0);
    Bytes longExtendedHeader = tag(3, 0x40, {{0, 0, 1, 0}, good});
    const Bytes truncated = Bytes(pastTag.begin(), pastTag.end() - 20);
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {tag(2, 0, {}), "ID3v2.2 は扱えません"},
        {tag(5, 0, {}), "ID3v2.5 は扱えません"},
        {tag(3, 0x80, {}), "非同期化された ID3 タグは扱えません"},
        {concat({pastTag, audio}), "ID3 タグが壊れています"},
        {truncated, "ID3 タグが壊れています"},  // the frame runs past the data
        {concat({cutHeader, audio}), "ID3 タグが壊れています"},
        {concat({longExtendedHeader, audio}), "ID3 タグが壊れています"},
    };
    TempDir temp;
    testing::writeFile(temp / "out.mp3", "earlier");
    for (const auto& [file, message] : cases) {
        testing::writeFile(temp / "in.mp3", std::string(file.begin(), file.end()));
        try {
            TagEditor::writeID3(temp / "in.mp3", meta, temp / "out.mp3");
            ADD_FAILURE() << message << ": no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
        EXPECT_EQ(testing::readFile(temp / "out.mp3"), "earlier") << message;
    }
}

// A version 2.4 tag whose frame sizes were written as plain numbers, as one
// known writer does: the picture's size 200 (0xC8) reads as the syncsafe 72,
// so the walk lands inside the picture, on a zero byte.
TEST(TagEditor, PlainNumberSizesInVersion4AreRefusedNotCut) {
    auto plainFrame = [](std::string_view id, const Bytes& body) {
        const auto size = static_cast<std::uint32_t>(body.size());
        return concat({bytes(id),
                       {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                        static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size), 0,
                        0},
                       body});
    };
    Bytes picture = concat({{0x00}, bytes("image/jpeg"), {0x00, 0x03, 0x00}});
    picture.resize(200, 0x00);
    picture[150] = 0xD9;
    const Bytes file = concat({tag(4, 0,
                                   {frame("TIT2", "Old", 4), plainFrame("APIC", picture),
                                    frame("USLT", "lyrics", 4), frame("COMM", "comment", 4)}),
                               audio});
    TempDir temp;
    testing::writeFile(temp / "v24-plain-sizes.mp3", std::string(file.begin(), file.end()));
    try {
        TagEditor::writeID3(temp / "v24-plain-sizes.mp3", meta, temp / "out.mp3");
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "ID3 タグが壊れています");
    }
    EXPECT_FALSE(std::filesystem::exists(temp / "out.mp3"));

    // Padding of zeros alone, however long, is still padding.
    const Bytes padded = concat({tag(4, 0, {frame("COMM", "comment", 4)}, 4000), audio});
    EXPECT_EQ(idsOf(parse(TagEditor::rewriteID3(padded, meta)).first).back(), "COMM");
}

TEST(TagEditor, TagBeyondTheSizeFieldIsRefused) {
    // One kept frame that leaves too little room for the padding.
    const std::size_t body = ID3Writer::tagSizeLimit - 1024 - 10;
    Bytes file = tag(3, 0, {id3::frame("PRIV", Bytes(body, 1), ID3Writer::Version::v2_3)}, 0);
    EXPECT_THROW(TagEditor::rewriteID3(file, TrackMeta()), ConversionError);
}

nlohmann::json readWithMutagen(const std::filesystem::path& file) {
    testing::ShellResult result = testing::runCommand(
        {testing::systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/id3_read.py",
         file.string()});
    EXPECT_EQ(result.exitCode, 0);
    return nlohmann::json::parse(result.output);
}

TEST(TagEditor, TaggersFileKeepsCommentPictureAndPrivateFrames) {
    TempDir temp;
    const auto source = temp / "in.mp3";
    testing::ToneOptions bare;
    bare.seconds = 0.5;
    bare.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0", "-write_id3v1", "0"};
    testing::makeTone(source, bare);
    ASSERT_EQ(testing::runCommand({testing::systemPython,
                                   TARVIK_SOURCE_DIR "/Core/Convert/testdata/id3_add_frames.py",
                                   source.string()})
                  .exitCode,
              0);
    const Bytes before = readWholeFile(source);

    TagEditor::writeID3(source, meta, temp / "out.mp3");

    EXPECT_EQ(readWholeFile(source), before);
    const auto [oldFrames, oldAudio] = parse(before);
    const auto [newFrames, newAudio] = parse(readWholeFile(temp / "out.mp3"));
    std::vector<Frame> kept;
    for (const Frame& f : oldFrames) {
        if (f.id != "TIT2" && f.id != "TYER") kept.push_back(f);
    }
    ASSERT_EQ(idsOf(kept).size(), 3U);
    ASSERT_EQ(newFrames.size(), 8U + kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(newFrames[8 + i].raw, kept[i].raw);
    EXPECT_EQ(newAudio, oldAudio);

    nlohmann::json read = readWithMutagen(temp / "out.mp3");
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"title", "New Title"},     {"artist", "Artist"}, {"albumArtist", "Album Artist"},
        {"album", "Album"},         {"track", "3"},       {"disc", "1"},
        {"year", "2019"},           {"genre", "Rock"},    {"comment", "\u30B3\u30E1\u30F3\u30C8"},
        {"private", "tarvik.test"}, {"version", "2.3"}};
    for (const auto& [key, value] : fields) EXPECT_EQ(read[key], value) << key;
    EXPECT_EQ(read["picture"]["size"], 2 + 256 * 8 + 2);
}

}  // namespace
}  // namespace tarvik
