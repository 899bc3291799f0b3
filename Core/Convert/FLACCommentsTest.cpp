#include <gtest/gtest.h>

#include <map>
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
using namespace std::string_literals;

void appendLE32(Bytes& out, std::size_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// "Cvendor|comment|...": "+" stands for the five comments an edit writes, and
// a number before the vendor, as in "C1000:v|A=1", is the count written.
Bytes commentBody(std::string_view spec) {
    const std::size_t colon = spec.find(':');
    std::vector<std::string> parts;  // the vendor, then the comments
    for (std::size_t at = colon + 1, bar = 0; bar != std::string::npos; at = bar + 1) {
        bar = spec.find('|', at);
        parts.emplace_back(spec.substr(at, bar == std::string::npos ? bar : bar - at));
    }
    if (parts.back() == "+") {
        parts.pop_back();
        parts.insert(parts.end(), {"TITLE=New", "ARTIST=Artist", "ALBUM=Album", "TRACKNUMBER=3",
                                   "DATE=2019-04-01"});
    }
    Bytes body;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        appendLE32(body, parts[i].size());
        body.insert(body.end(), parts[i].begin(), parts[i].end());
        if (i == 0)
            appendLE32(body, colon > 1 ? std::stoul(std::string(spec.substr(1, colon - 1)))
                                       : parts.size() - 1);
    }
    return body;
}

// A FLAC file: its metadata blocks, the last one flagged, then `audio`. A
// block is "S" (stream info), "P" (padding), "I" (a picture), a comment block
// as commentBody() reads it, or "R:" and the raw body of a comment block.
Bytes flac(const std::vector<std::string>& blocks,
           const Bytes& audio = {0xFF, 0xF8, 0x69, 0x08, 0, 0}) {
    static const std::map<std::string, std::pair<std::uint8_t, Bytes>> fixed = {
        {"S", {0, Bytes(34, 0x11)}}, {"P", {1, Bytes(8, 0)}}, {"I", {6, bytes("picture bytes")}}};
    Bytes out = bytes("fLaC");
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::string& spec = blocks[i];
        const auto [type, body] =
            fixed.contains(spec) ? fixed.at(spec)
                                 : std::pair{std::uint8_t{4}, spec[0] == 'R' ? bytes(spec.substr(2))
                                                                             : commentBody(spec)};
        const std::size_t size = body.size();
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(type | (i + 1 == blocks.size() ? 0x80 : 0)),
                    static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
                    static_cast<std::uint8_t>(size)});
        out.insert(out.end(), body.begin(), body.end());
    }
    out.insert(out.end(), audio.begin(), audio.end());
    return out;
}

const TrackMeta meta("New", "Artist", "", "Album", "3", "", "2019-04-01", "");

TEST(FLACComments, RewritesTheCommentBlockInSecondPlace) {
    using Blocks = std::vector<std::string>;
    const std::vector<std::tuple<std::string, Blocks, Blocks>> cases = {
        {"no comment block: the default vendor, the flag moves to the new last block",
         {"S", "P"},
         {"S", "C:Tarvik|+", "P"}},
        {"a comment block behind a picture moves forward; the picture keeps its bytes",
         {"S", "I", "C:ref 1.4|title=Old|COMMENT=x"},
         {"S", "C:ref 1.4|COMMENT=x|+", "I"}},
        {"keys are compared upper-cased; a comment without '=' is all key",
         {"S",
          "C:v|title=Old|Title=Old|TITLE|genre=Pop|no equals "
          "sign|ALBUMARTIST=Old|DISCNUMBER=2|Comment=x=y"},
         {"S", "C:v|no equals sign|Comment=x=y|+"}},
        {"the vendor is kept byte for byte, valid UTF-8 or not",
         {"S", "C:\xFF\xFEv"},
         {"S", "C:\xFF\xFEv|+"}},
        {"a count larger than the comments present reads those and stops",
         {"S", "C1000:v|A=1|ARTIST=Old"},
         {"S", "C:v|A=1|+"}},
        {"a vendor length that doesn't fit leaves the default vendor",
         {"S", "R:\xFF\0\0\0v"s},
         {"S", "C:Tarvik|+"}},
        {"a second comment block stays after the new one, without the replaced keys",
         {"S", "C:v", "C:other|TITLE=Second|MOOD=calm|artist=2"},
         {"S", "C:v|+", "C:other|MOOD=calm"}},
        {"a file holding only a comment block", {"C:v|TITLE=Old"}, {"C:v|+"}},
    };
    for (const auto& [name, in, out] : cases) {
        EXPECT_EQ(FLACComments::rewrite(flac(in), meta, "a.flac"), flac(out)) << name;
    }
}

TEST(FLACComments, DamagedFilesAreRefused) {
    const Bytes good = flac({"S"});
    Bytes noLastBlock = good;
    noLastBlock[4] = 0;  // the walk runs into the audio frames and past the end
    // A comment block whose length field is 4 too short: the walk ends inside
    // the old comments, which must not pass for audio frames.
    Bytes shortCommentBlock = flac({"S", "C:v|ARTIST=Old Name"});
    shortCommentBlock[4 + 4 + 34 + 3] -= 4;
    const std::string damaged = "FLAC のメタデータが壊れています";
    TrackMeta huge = meta;
    // 92 bytes besides the title: vendor, count, the other four comments and
    // the title's own length and key; the body is then 2^24 - 1 bytes, the most
    // a block's length field holds.
    huge.title = std::string((1 << 24) - 93, 'x');
    EXPECT_NO_THROW(FLACComments::rewrite(good, huge, "a.flac"));
    huge.title += "x";
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {testing::hex("664C6143 80000000"), "FLAC ではありません: a.flac"},
        {bytes("ID3 and then more bytes"), "FLAC ではありません: a.flac"},
        {Bytes(good.begin(), good.begin() + 20), damaged},
        {noLastBlock, damaged},
        {shortCommentBlock, damaged},
        {flac({"S"}, bytes("ARTIST=Old")), damaged},
        {flac({"S"}, {0xFF}), damaged},
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

    ASSERT_EQ(shortFile[42], 4);  // ffmpeg writes it after the stream info
    shortFile[45] = static_cast<std::uint8_t>(shortFile[45] - 8);
    testing::writeFile(temp / "short.flac", std::string(shortFile.begin(), shortFile.end()));
    testing::writeFile(temp / "kept.flac", "earlier");
    EXPECT_EQ(errorOf([&] { TagEditor::writeFLAC(temp / "short.flac", meta, temp / "kept.flac"); }),
              "FLAC のメタデータが壊れています");
    EXPECT_EQ(testing::readFile(temp / "kept.flac"), "earlier");
}

}  // namespace
}  // namespace tarvik
