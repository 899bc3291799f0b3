#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Core/Convert/FLACComments.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Readers.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::bytes;
using testing::errorOf;
using testing::outputOf;

constexpr std::uint8_t streamInfo = 0, padding = 1, picture = 6, comments = 4;

struct Block {
    std::uint8_t type;
    Bytes body;
};

void appendLE32(Bytes& out, std::size_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes commentBody(const Bytes& vendor, const std::vector<Bytes>& list,
                  std::optional<std::uint32_t> count = std::nullopt) {
    Bytes body;
    appendLE32(body, vendor.size());
    body.insert(body.end(), vendor.begin(), vendor.end());
    appendLE32(body, count.value_or(static_cast<std::uint32_t>(list.size())));
    for (const Bytes& comment : list) {
        appendLE32(body, comment.size());
        body.insert(body.end(), comment.begin(), comment.end());
    }
    return body;
}

// The last block of the list carries the last-block flag.
Bytes flacFile(const std::vector<Block>& blocks, const Bytes& audio) {
    Bytes out = bytes("fLaC");
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t size = blocks[i].body.size();
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(blocks[i].type | (i + 1 == blocks.size() ? 0x80 : 0)),
                    static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
                    static_cast<std::uint8_t>(size)});
        out.insert(out.end(), blocks[i].body.begin(), blocks[i].body.end());
    }
    out.insert(out.end(), audio.begin(), audio.end());
    return out;
}

const Bytes info(34, 0x11);
const Bytes audio = {0xFF, 0xF8, 0x69, 0x08, 0x00, 0x00};
const TrackMeta meta("New", "Artist", "", "Album", "3", "", "2019-04-01", "");
const std::vector<Bytes> newComments = {bytes("TITLE=New"), bytes("ARTIST=Artist"),
                                        bytes("ALBUM=Album"), bytes("TRACKNUMBER=3"),
                                        bytes("DATE=2019-04-01")};

// `kept`, then the new comments.
Bytes withNew(const Bytes& vendor, std::vector<Bytes> kept) {
    kept.insert(kept.end(), newComments.begin(), newComments.end());
    return commentBody(vendor, kept);
}

TEST(FLACComments, RewritesTheCommentBlockInSecondPlace) {
    const Bytes pictureBody = bytes("picture bytes");
    const Bytes v = bytes("v");
    const std::vector<std::tuple<std::string, std::vector<Block>, std::vector<Block>>> cases = {
        {"no comment block: the default vendor, and the flag moves to the new last block",
         {{streamInfo, info}, {padding, Bytes(8, 0)}},
         {{streamInfo, info}, {comments, withNew(bytes("Tarvik"), {})}, {padding, Bytes(8, 0)}}},
        {"a comment block behind a picture moves forward; the picture keeps its bytes",
         {{streamInfo, info},
          {picture, pictureBody},
          {comments, commentBody(bytes("ref 1.4"), {bytes("title=Old"), bytes("COMMENT=x")})}},
         {{streamInfo, info},
          {comments, withNew(bytes("ref 1.4"), {bytes("COMMENT=x")})},
          {picture, pictureBody}}},
        {"keys are compared upper-cased; a comment without '=' is all key",
         {{streamInfo, info},
          {comments,
           commentBody(v, {bytes("title=Old"), bytes("Title=Old"), bytes("TITLE"),
                           bytes("genre=Pop"), bytes("no equals sign"), bytes("ALBUMARTIST=Old"),
                           bytes("DISCNUMBER=2"), bytes("Comment=x=y")})}},
         {{streamInfo, info},
          {comments, withNew(v, {bytes("no equals sign"), bytes("Comment=x=y")})}}},
        {"the vendor is kept byte for byte, valid UTF-8 or not",
         {{streamInfo, info}, {comments, commentBody({0xFF, 0xFE, 'v'}, {})}},
         {{streamInfo, info}, {comments, withNew({0xFF, 0xFE, 'v'}, {})}}},
        {"a count larger than the comments present reads those and stops",
         {{streamInfo, info},
          {comments, commentBody(v, {bytes("A=1"), bytes("ARTIST=Old")}, 1000)}},
         {{streamInfo, info}, {comments, withNew(v, {bytes("A=1")})}}},
        {"a vendor length that doesn't fit leaves the default vendor",
         {{streamInfo, info}, {comments, {0xFF, 0, 0, 0, 'v'}}},
         {{streamInfo, info}, {comments, withNew(bytes("Tarvik"), {})}}},
        {"a second comment block stays after the new one, without the replaced keys",
         {{streamInfo, info},
          {comments, commentBody(v, {})},
          {comments, commentBody(bytes("other"),
                                 {bytes("TITLE=Second"), bytes("MOOD=calm"), bytes("artist=2")})}},
         {{streamInfo, info},
          {comments, withNew(v, {})},
          {comments, commentBody(bytes("other"), {bytes("MOOD=calm")})}}},
        {"a file holding only a comment block",
         {{comments, commentBody(v, {bytes("TITLE=Old")})}},
         {{comments, withNew(v, {})}}},
    };
    for (const auto& [name, in, out] : cases) {
        EXPECT_EQ(FLACComments::rewrite(flacFile(in, audio), meta, "a.flac"), flacFile(out, audio))
            << name;
    }
}

TEST(FLACComments, DamagedFilesAreRefused) {
    const Bytes good = flacFile({{streamInfo, info}}, audio);
    Bytes noLastBlock = good;
    noLastBlock[4] = streamInfo;  // the walk runs into the audio frames and past the end
    // A comment block whose length field is 4 too short: the walk ends inside
    // the old comments, which must not pass for audio frames.
    Bytes shortCommentBlock = flacFile(
        {{streamInfo, info}, {comments, commentBody(bytes("v"), {bytes("ARTIST=Old Name")})}},
        audio);
    shortCommentBlock[4 + 4 + info.size() + 3] -= 4;
    const std::string damaged = "FLAC のメタデータが壊れています";
    TrackMeta huge = meta;
    // 92 bytes besides the title: vendor, count, the other four comments and
    // the title's own length and key; the body is then 2^24 - 1 bytes, the most
    // a block's length field holds.
    huge.title = std::string((1 << 24) - 93, 'x');
    EXPECT_NO_THROW(FLACComments::rewrite(good, huge, "a.flac"));
    huge.title += "x";
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{'f', 'L', 'a', 'C', 0x80, 0, 0, 0}, "FLAC ではありません: a.flac"},
        {bytes("ID3 and then more bytes"), "FLAC ではありません: a.flac"},
        {Bytes(good.begin(), good.begin() + 20), damaged},
        {noLastBlock, damaged},
        {shortCommentBlock, damaged},
        {flacFile({{streamInfo, info}}, bytes("ARTIST=Old")), damaged},
        {flacFile({{streamInfo, info}}, {0xFF}), damaged},
    };
    for (const auto& [file, message] : cases) {
        EXPECT_EQ(errorOf([&] { FLACComments::rewrite(file, meta, "a.flac"); }), message);
    }
    EXPECT_EQ(errorOf([&] { FLACComments::rewrite(good, huge, "a.flac"); }), damaged);
}

// Read back by the reference tools: the same audio, every other block and
// comment kept. A real file whose comment block's length field is too short,
// as other taggers leave them, is refused and the destination left alone.
TEST(FLACComments, RealFileStaysValidWithTheSameAudio) {
    testing::TempDir temp;
    const auto source = temp / "in.flac";
    testing::makeTone(source, {.metadata = {{"TITLE", "Old"}, {"GENRE", "Pop"}, {"MOOD", "calm"}}});
    Bytes shortFile = readWholeFile(source);
    testing::makePicture(temp / "cover.jpg", 16, 16);
    outputOf(
        {"metaflac", "--import-picture-from=" + (temp / "cover.jpg").string(), source.string()});
    const Bytes before = readWholeFile(source);

    TagEditor::writeFLAC(source, meta, temp / "out.flac");

    EXPECT_EQ(readWholeFile(source), before);
    outputOf({"flac", "-s", "-t", (temp / "out.flac").string()});
    EXPECT_EQ(outputOf({"metaflac", "--show-md5sum", (temp / "out.flac").string()}),
              outputOf({"metaflac", "--show-md5sum", source.string()}));
    // What the source had, less the replaced keys, then the new comments.
    std::string expected;
    std::istringstream sourceTags(outputOf({"metaflac", "--export-tags-to=-", source.string()}));
    for (std::string line; std::getline(sourceTags, line);) {
        if (!line.starts_with("TITLE=") && !line.starts_with("GENRE=")) expected += line + "\n";
    }
    expected += "TITLE=New\nARTIST=Artist\nALBUM=Album\nTRACKNUMBER=3\nDATE=2019-04-01\n";
    EXPECT_EQ(outputOf({"metaflac", "--export-tags-to=-", (temp / "out.flac").string()}), expected);
    EXPECT_NE(expected.find("MOOD=calm"), std::string::npos);
    const std::string listed = outputOf({"metaflac", "--list", (temp / "out.flac").string()});
    EXPECT_NE(listed.find("type: 6 (PICTURE)"), std::string::npos) << listed;

    ASSERT_EQ(shortFile[42], comments);  // ffmpeg writes it after the stream info
    shortFile[45] = static_cast<std::uint8_t>(shortFile[45] - 8);
    testing::writeFile(temp / "short.flac", std::string(shortFile.begin(), shortFile.end()));
    testing::writeFile(temp / "kept.flac", "earlier");
    EXPECT_EQ(errorOf([&] { TagEditor::writeFLAC(temp / "short.flac", meta, temp / "kept.flac"); }),
              "FLAC のメタデータが壊れています");
    EXPECT_EQ(testing::readFile(temp / "kept.flac"), "earlier");
}

}  // namespace
}  // namespace tarvik
