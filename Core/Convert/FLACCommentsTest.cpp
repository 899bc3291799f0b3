#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "Core/Convert/FLACComments.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::TempDir;

constexpr std::uint8_t streamInfo = 0, padding = 1, picture = 6, comments = 4;

struct Block {
    std::uint8_t type;
    Bytes body;
};

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

void appendLE32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes commentBody(const Bytes& vendor, const std::vector<Bytes>& list,
                  std::optional<std::uint32_t> count = std::nullopt) {
    Bytes body;
    appendLE32(body, static_cast<std::uint32_t>(vendor.size()));
    body.insert(body.end(), vendor.begin(), vendor.end());
    appendLE32(body, count.value_or(static_cast<std::uint32_t>(list.size())));
    for (const Bytes& comment : list) {
        appendLE32(body, static_cast<std::uint32_t>(comment.size()));
        body.insert(body.end(), comment.begin(), comment.end());
    }
    return body;
}

// The last block of the list carries the last-block flag.
Bytes flacFile(const std::vector<Block>& blocks, const Bytes& audio) {
    Bytes out = bytes("fLaC");
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Bytes& body = blocks[i].body;
        out.insert(
            out.end(),
            {static_cast<std::uint8_t>(blocks[i].type | (i + 1 == blocks.size() ? 0x80 : 0)),
             static_cast<std::uint8_t>(body.size() >> 16),
             static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())});
        out.insert(out.end(), body.begin(), body.end());
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

std::vector<Bytes> plus(std::vector<Bytes> kept, const std::vector<Bytes>& added) {
    kept.insert(kept.end(), added.begin(), added.end());
    return kept;
}

TEST(FLACComments, RewritesTheCommentBlockInSecondPlace) {
    const Bytes pictureBody = bytes("picture bytes");
    const Bytes otherComments =
        commentBody(bytes("other"), {bytes("TITLE=Second"), bytes("MOOD=calm"), bytes("artist=2")});
    struct Case {
        std::string name;
        std::vector<Block> in;
        std::vector<Block> out;
    };
    const std::vector<Case> cases = {
        {"no comment block: the default vendor, and the flag moves to the new last block",
         {{streamInfo, info}, {padding, Bytes(8, 0)}},
         {{streamInfo, info},
          {comments, commentBody(bytes("Tarvik"), newComments)},
          {padding, Bytes(8, 0)}}},
        {"a comment block behind a picture moves forward; the picture keeps its bytes",
         {{streamInfo, info},
          {picture, pictureBody},
          {comments, commentBody(bytes("ref 1.4"), {bytes("title=Old"), bytes("COMMENT=x")})}},
         {{streamInfo, info},
          {comments, commentBody(bytes("ref 1.4"), plus({bytes("COMMENT=x")}, newComments))},
          {picture, pictureBody}}},
        {"keys are compared upper-cased; a comment without '=' is all key",
         {{streamInfo, info},
          {comments, commentBody(bytes("v"), {bytes("title=Old"), bytes("Title=Old"),
                                              bytes("TITLE"), bytes("genre=Pop"),
                                              bytes("no equals sign"), bytes("ALBUMARTIST=Old"),
                                              bytes("DISCNUMBER=2"), bytes("Comment=x=y")})}},
         {{streamInfo, info},
          {comments, commentBody(bytes("v"), plus({bytes("no equals sign"), bytes("Comment=x=y")},
                                                  newComments))}}},
        {"the vendor is kept byte for byte, valid UTF-8 or not",
         {{streamInfo, info}, {comments, commentBody({0xFF, 0xFE, 'v'}, {})}},
         {{streamInfo, info}, {comments, commentBody({0xFF, 0xFE, 'v'}, newComments)}}},
        {"a count larger than the comments present reads those and stops",
         {{streamInfo, info},
          {comments, commentBody(bytes("v"), {bytes("A=1"), bytes("ARTIST=Old")}, 1000)}},
         {{streamInfo, info},
          {comments, commentBody(bytes("v"), plus({bytes("A=1")}, newComments))}}},
        {"a vendor length that doesn't fit leaves the default vendor",
         {{streamInfo, info}, {comments, {0xFF, 0, 0, 0, 'v'}}},
         {{streamInfo, info}, {comments, commentBody(bytes("Tarvik"), newComments)}}},
        {"a second comment block stays after the new one, without the replaced keys",
         {{streamInfo, info}, {comments, commentBody(bytes("v"), {})}, {comments, otherComments}},
         {{streamInfo, info},
          {comments, commentBody(bytes("v"), newComments)},
          {comments, commentBody(bytes("other"), {bytes("MOOD=calm")})}}},
        {"a file holding only a comment block",
         {{comments, commentBody(bytes("v"), {bytes("TITLE=Old")})}},
         {{comments, commentBody(bytes("v"), newComments)}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FLACComments::rewrite(flacFile(c.in, audio), meta, "a.flac"),
                  flacFile(c.out, audio))
            << c.name;
    }
}

TEST(FLACComments, DamagedFilesAreRefused) {
    const Bytes good = flacFile({{streamInfo, info}}, audio);
    Bytes cutBody(good.begin(), good.begin() + 20);
    Bytes noLastBlock = good;
    noLastBlock[4] = streamInfo;  // the walk runs into the audio frames and past the end
    // A comment block whose length field is 4 too short: the walk ends inside
    // the old comments, which must not pass for audio frames.
    Bytes shortCommentBlock = flacFile(
        {{streamInfo, info}, {comments, commentBody(bytes("v"), {bytes("ARTIST=Old Name")})}},
        audio);
    shortCommentBlock[4 + 4 + info.size() + 3] -= 4;
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{'f', 'L', 'a', 'C', 0x80, 0, 0, 0}, "FLAC ではありません: a.flac"},
        {bytes("ID3 and then more bytes"), "FLAC ではありません: a.flac"},
        {cutBody, "FLAC のメタデータが壊れています"},
        {noLastBlock, "FLAC のメタデータが壊れています"},
        {shortCommentBlock, "FLAC のメタデータが壊れています"},
        {flacFile({{streamInfo, info}}, bytes("ARTIST=Old")), "FLAC のメタデータが壊れています"},
        {flacFile({{streamInfo, info}}, {0xFF}), "FLAC のメタデータが壊れています"},
    };
    for (const auto& [file, message] : cases) {
        try {
            FLACComments::rewrite(file, meta, "a.flac");
            ADD_FAILURE() << message << ": no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

TEST(FLACComments, CommentBlockBeyondTheLengthFieldIsRefused) {
    const Bytes file = flacFile({{streamInfo, info}}, audio);
    TrackMeta huge = meta;
    // 92 bytes besides the title: vendor, count, the other four comments and
    // the title's own length and key; the body is then 2^24 - 1 bytes.
    huge.title = std::string((1 << 24) - 93, 'x');
    EXPECT_NO_THROW(FLACComments::rewrite(file, huge, "a.flac"));
    huge.title += "x";
    EXPECT_THROW(
        {
            try {
                FLACComments::rewrite(file, huge, "a.flac");
            } catch (const ConversionError& error) {
                EXPECT_STREQ(error.what(), "FLAC のメタデータが壊れています");
                throw;
            }
        },
        ConversionError);
}

std::string run(const std::vector<std::string>& words) {
    testing::ShellResult result = testing::runCommand(words);
    EXPECT_EQ(result.exitCode, 0) << words[0];
    return result.output;
}

TEST(FLACComments, RealFileStaysValidWithTheSameAudio) {
    TempDir temp;
    const auto source = temp / "in.flac";
    testing::ToneOptions tone;
    tone.metadata = {{"TITLE", "Old"}, {"GENRE", "Pop"}, {"MOOD", "calm"}};
    testing::makeTone(source, tone);
    run({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "color=red:size=16x16",
         "-frames:v", "1", (temp / "cover.jpg").string()});
    run({"metaflac", "--import-picture-from=" + (temp / "cover.jpg").string(), source.string()});
    const Bytes before = readWholeFile(source);

    TagEditor::writeFLAC(source, meta, temp / "out.flac");

    EXPECT_EQ(readWholeFile(source), before);
    run({"flac", "-s", "-t", (temp / "out.flac").string()});
    EXPECT_EQ(run({"metaflac", "--show-md5sum", (temp / "out.flac").string()}),
              run({"metaflac", "--show-md5sum", source.string()}));
    // What the source had, less the replaced keys, then the new comments.
    std::string expected;
    std::istringstream sourceTags(run({"metaflac", "--export-tags-to=-", source.string()}));
    for (std::string line; std::getline(sourceTags, line);) {
        if (line.rfind("TITLE=", 0) != 0 && line.rfind("GENRE=", 0) != 0) expected += line + "\n";
    }
    expected += "TITLE=New\nARTIST=Artist\nALBUM=Album\nTRACKNUMBER=3\nDATE=2019-04-01\n";
    EXPECT_EQ(run({"metaflac", "--export-tags-to=-", (temp / "out.flac").string()}), expected);
    EXPECT_NE(expected.find("MOOD=calm"), std::string::npos);
    const std::string listed = run({"metaflac", "--list", (temp / "out.flac").string()});
    EXPECT_NE(listed.find("type: 6 (PICTURE)"), std::string::npos) << listed;
}

// The metadata blocks of a FLAC file and the offset of its audio frames.
std::pair<std::vector<Block>, std::size_t> blocksOf(const Bytes& file) {
    std::vector<Block> blocks;
    std::size_t at = 4;
    for (bool last = false; !last;) {
        const std::size_t length = (std::size_t{file[at + 1]} << 16) |
                                   (std::size_t{file[at + 2]} << 8) | file[at + 3];
        last = (file[at] & 0x80) != 0;
        blocks.push_back({static_cast<std::uint8_t>(file[at] & 0x7F),
                          Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                file.begin() + static_cast<std::ptrdiff_t>(at + 4 + length))});
        at += 4 + length;
    }
    return {blocks, at};
}

// A real file given a second comment block, or one whose comment block's
// length field is too short, as other taggers leave them.
TEST(FLACComments, RealFilesWithTwoOrShortCommentBlocks) {
    TempDir temp;
    testing::ToneOptions tone;
    tone.metadata = {{"ARTIST", "\u5C71\u7530 \u592A\u90CE"}, {"MOOD", "calm"}};
    testing::makeTone(temp / "tone.flac", tone);
    const Bytes original = readWholeFile(temp / "tone.flac");
    auto [blocks, audioStart] = blocksOf(original);
    const Bytes frames(original.begin() + static_cast<std::ptrdiff_t>(audioStart), original.end());

    std::vector<Block> twoBlocks = blocks;
    twoBlocks.push_back(
        {comments, commentBody(bytes("second"), {bytes("ARTIST=Artist 2"), bytes("LABEL=x")})});
    const auto twoBlocksFile = temp / "two-comment-blocks.flac";
    testing::writeFile(twoBlocksFile, std::string(asText(flacFile(twoBlocks, frames))));
    TagEditor::writeFLAC(twoBlocksFile, meta, temp / "out.flac");
    run({"flac", "-s", "-t", (temp / "out.flac").string()});
    const nlohmann::json tags = nlohmann::json::parse(
        run({"ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "json",
             (temp / "out.flac").string()}))["format"]["tags"];
    EXPECT_EQ(tags["ARTIST"], "Artist") << tags;
    EXPECT_EQ(tags["MOOD"], "calm") << tags;
    EXPECT_EQ(tags["LABEL"], "x") << tags;

    auto commentBlock = std::find_if(blocks.begin(), blocks.end(),
                                     [](const Block& block) { return block.type == comments; });
    ASSERT_NE(commentBlock, blocks.end());
    Bytes shortFile = flacFile(blocks, frames);
    const std::size_t header =
        4 + static_cast<std::size_t>(std::distance(blocks.begin(), commentBlock)) * 4;
    std::size_t offset = header;
    for (auto block = blocks.begin(); block != commentBlock; ++block) offset += block->body.size();
    shortFile[offset + 3] = static_cast<std::uint8_t>(shortFile[offset + 3] - 8);
    const auto shortBlockFile = temp / "short-comment-block.flac";
    testing::writeFile(shortBlockFile, std::string(asText(shortFile)));
    testing::writeFile(temp / "kept.flac", "earlier");
    try {
        TagEditor::writeFLAC(shortBlockFile, meta, temp / "kept.flac");
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "FLAC のメタデータが壊れています");
    }
    EXPECT_EQ(testing::readFile(temp / "kept.flac"), "earlier");
}

}  // namespace
}  // namespace tarvik
