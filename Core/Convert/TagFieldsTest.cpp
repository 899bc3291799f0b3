#include <gtest/gtest.h>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::TagFields {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::readFile;

TEST(TagFields, ChangesOnlyTheNamedFieldsAndTheOldValuesGiveTheOldFile) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> formats = {
        {"mp3", {"-write_id3v1", "1"}},
        {"mp3", {"-id3v2_version", "3"}},
        {"flac", {}},
        {"m4a", {}},
    };
    for (const auto& [extension, arguments] : formats) {
        SCOPED_TRACE(extension + (arguments.empty() ? "" : " " + arguments[0]));
        TempDir dir;
        const fs::path file = dir / ("song." + extension);
        testing::makeTone(file, {.seconds = 0.2,
                                 .metadata = {{"title", "Song"}, {"artist", "A Band"},
                                              {"album", "Night"}, {"track", "3/12"},
                                              {"genre", "Rock"}},
                                 .extraArguments = arguments});
        const std::string original = readFile(file);
        const Values before = read(file);
        EXPECT_EQ(before.at(Field::title), "Song");
        EXPECT_EQ(before.at(Field::track), "3/12");
        EXPECT_EQ(before.at(Field::albumArtist), std::nullopt);

        patch(file, {{Field::title, "New"}, {Field::track, "4"},
                     {Field::albumArtist, std::string("X\0Y", 3)}},
              dir / "out");
        fs::rename(dir / "out", dir / ("out." + extension));
        Values after = read(dir / ("out." + extension));
        EXPECT_EQ(after.at(Field::title), "New");
        EXPECT_EQ(after.at(Field::track), "4/12");  // the total stays
        EXPECT_EQ(after.at(Field::genre), "Rock");
        EXPECT_EQ(after.at(Field::albumArtist), std::string("X\0Y", 3));
        EXPECT_EQ(after.at(Field::artist), before.at(Field::artist));
        EXPECT_EQ(after.at(Field::album), before.at(Field::album));

        patch(dir / ("out." + extension),
              {{Field::title, before.at(Field::title)}, {Field::track, before.at(Field::track)},
               {Field::albumArtist, before.at(Field::albumArtist)}},
              dir / ("back." + extension), original.size());
        EXPECT_EQ(read(dir / ("back." + extension)), before);
        // The old size given back, a tag that had to grow shrinks again.
        if (extension != "m4a") {
            EXPECT_TRUE(readFile(dir / ("back." + extension)) == original) << "not byte for byte";
        }
        patch(file, {{Field::genre, std::nullopt}}, dir / ("bare." + extension));
        Values bare = read(dir / ("bare." + extension));
        EXPECT_EQ(bare.at(Field::genre), std::nullopt);
        bare[Field::genre] = before.at(Field::genre);
        EXPECT_EQ(bare, before);
    }
}

TEST(TagFields, MP3WithoutAnID3v2TagGetsItsOldBytesBack) {
    TempDir dir;
    testing::makeTone(dir / "bare.mp3", {.seconds = 0.2,
                                         .metadata = {{"title", "Old"}},
                                         .extraArguments = {"-id3v2_version", "0", "-write_id3v1", "1"}});
    const std::string original = readFile(dir / "bare.mp3");
    ASSERT_NE(original.substr(0, 3), "ID3");
    EXPECT_EQ(read(dir / "bare.mp3").at(Field::title), std::nullopt);  // ID3v1 is not edited
    patch(dir / "bare.mp3", {{Field::title, "New"}}, dir / "tagged.mp3");
    EXPECT_EQ(read(dir / "tagged.mp3").at(Field::title), "New");
    patch(dir / "tagged.mp3", {{Field::title, std::nullopt}}, dir / "back.mp3", original.size());
    EXPECT_TRUE(readFile(dir / "back.mp3") == original);
}

Bytes id3With(const std::vector<Bytes>& frames) {
    Bytes body;
    for (const Bytes& frame : frames) body.insert(body.end(), frame.begin(), frame.end());
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    const auto size = id3::syncsafe(static_cast<std::uint32_t>(body.size()));
    tag.insert(tag.end(), size.begin(), size.end());
    tag.insert(tag.end(), body.begin(), body.end());
    tag.insert(tag.end(), {0xFF, 0xFB, 0x90, 0x00});  // audio
    return tag;
}

TEST(TagFields, ID3TextIsReadInEveryEncodingOrKeptAsBytes) {
    auto frame = [](std::string_view id, Bytes body) {
        return id3::frame(id, body, ID3Writer::Version::v2_3);
    };
    const Values values = readID3(id3With({
        frame("TIT2", {0, 'C', 'a', 'f', 0xE9, 0}),                       // Latin-1, terminated
        frame("TPE1", {1, 0xFE, 0xFF, 0, 'A', 0, 0, 0xFF, 0xFE, 'B', 0}),  // two UTF-16 strings
        frame("TALB", {2, 0, 'N'}),                                       // UTF-16BE
        frame("TCON", {1, 0xFF, 0xFE, 0x00, 0xD8}),                       // a lone surrogate
    }));
    EXPECT_EQ(values.at(Field::title), "Caf\u00E9");
    EXPECT_EQ(values.at(Field::artist), std::string("A\0B", 3));
    EXPECT_EQ(values.at(Field::album), "N");
    ASSERT_TRUE(values.at(Field::genre));
    EXPECT_FALSE(text::isValidUTF8(*values.at(Field::genre)));

    // A compressed frame is no plain text: refused rather than misread.
    Bytes compressed = frame("TIT2", {0, 'x'});
    compressed[9] = 0x80;
    EXPECT_THROW(readID3(id3With({compressed})), ConversionError);
}

TEST(TagFields, ReplacedID3FrameKeepsItsEncodingAndPlace) {
    auto frame = [](std::string_view id, Bytes body) {
        return id3::frame(id, body, ID3Writer::Version::v2_3);
    };
    const Bytes file = id3With({frame("TIT2", {0, 'a', 0}), frame("TXXX", {0, 'k', 0, 'v'}),
                                frame("TPE1", {0, 'b'})});
    // Latin-1 can't hold the new artist: it takes the writer's own encoding.
    const Bytes patched = patchID3(file, {{Field::title, "Z"}, {Field::artist, "\u6B4C"}});
    const Bytes expected = id3With({frame("TIT2", {0, 'Z', 0}), frame("TXXX", {0, 'k', 0, 'v'}),
                                    ID3Writer{ID3Writer::Version::v2_3}.textFrame("TPE1", "\u6B4C")});
    std::vector<Bytes> frames, expectedFrames;
    for (const id3::Frame& f : id3::parseTag(patched).frames) frames.push_back(f.raw);
    for (const id3::Frame& f : id3::parseTag(expected).frames) expectedFrames.push_back(f.raw);
    EXPECT_EQ(frames, expectedFrames);
    EXPECT_EQ(patchID3(patchID3(file, {{Field::title, "Z"}}), {{Field::title, "a"}}), file);
    EXPECT_EQ(withTotal("4", "3/12"), "4/12");
    EXPECT_EQ(withTotal("4/10", "3/12"), "4/10");
    EXPECT_EQ(withTotal("4", std::nullopt), "4");
}

}  // namespace
}  // namespace tarvik::TagFields
