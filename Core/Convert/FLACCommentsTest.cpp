#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/FLACComments.hpp"
#include "Core/Convert/TagEditor.hpp"

namespace tarvik {
namespace {

using namespace std::string_literals;

std::uint8_t u8(std::size_t value) {
    return static_cast<std::uint8_t>(value);
}

Bytes le32(std::size_t value) {
    return {u8(value), u8(value >> 8), u8(value >> 16), u8(value >> 24)};
}

// "C:vendor|comment|...": "+" stands for the five comments an edit writes, a
// number after the C, as in "C1000:v|A=1", is the count written, and "R:"
// takes the rest as the block's raw body.
Bytes commentBody(const std::string& block) {
    if (block.starts_with("R:")) return bytes(block.substr(2));
    const std::size_t colon = block.find(':');
    std::vector<std::string> parts;  // the vendor, then the comments
    std::istringstream in(block.substr(colon + 1));
    for (std::string part; std::getline(in, part, '|');) parts.push_back(part);
    if (parts.back() == "+") {
        parts.back() = "TITLE=New";
        parts.insert(parts.end(),
                     {"ARTIST=Artist", "ALBUM=Album", "TRACKNUMBER=3", "DATE=2019-04-01"});
    }
    const std::size_t count = colon > 1 ? std::stoul(block.substr(1, colon - 1)) : parts.size() - 1;
    Bytes body = concat({le32(parts[0].size()), bytes(parts[0]), le32(count)});
    for (std::size_t i = 1; i < parts.size(); ++i)
        body = concat({body, le32(parts[i].size()), bytes(parts[i])});
    return body;
}

// A FLAC file: its metadata blocks, the last one flagged, then `audio`. A
// block is "S" (stream info), "P" (padding), "I" (a picture) or a comment block.
Bytes flac(const std::vector<std::string>& blocks,
           const Bytes& audio = {0xFF, 0xF8, 0x69, 0x08, 0, 0}) {
    Bytes out = bytes("fLaC");
    for (const std::string& block : blocks) {
        const std::uint8_t type = block == "S" ? 0 : block == "P" ? 1 : block == "I" ? 6 : 4;
        const Bytes body = type == 0   ? Bytes(34, 0x11)
                           : type == 1 ? Bytes(8, 0)
                           : type == 6 ? bytes("picture bytes")
                                       : commentBody(block);
        const std::size_t size = body.size();
        const int last = &block == &blocks.back() ? 0x80 : 0;
        out = concat({out, {u8(type | last), u8(size >> 16), u8(size >> 8), u8(size)}, body});
    }
    return concat({out, audio});
}

const TrackMeta meta("New", "Artist", "", "Album", "3", "", "2019-04-01", "");

TEST(FLACComments, RewritesTheCommentBlockInSecondPlace) {
    using Blocks = std::vector<std::string>;
    // clang-format off
    const std::vector<std::tuple<std::string, Blocks, Blocks>> cases = {
        {"no comment block: the default vendor, the flag moves to the new last block",
         {"S", "P"}, {"S", "C:Tarvik|+", "P"}},
        {"a comment block behind a picture moves forward; the picture keeps its bytes",
         {"S", "I", "C:ref 1.4|title=Old|COMMENT=x"}, {"S", "C:ref 1.4|COMMENT=x|+", "I"}},
        {"keys are compared upper-cased; a comment without '=' is all key",
         {"S", "C:v|title=Old|Title=Old|TITLE|genre=Pop|no equals sign|ALBUMARTIST=Old|DISCNUMBER=2|Comment=x=y"},
         {"S", "C:v|no equals sign|Comment=x=y|+"}},
        {"keys are compared in ASCII case only: a dotless i is no I, and the comment stays",
         {"S", "C:v|t\u0131tle=Old|TITLE=Old|\xFFTITLE=x"}, {"S", "C:v|t\u0131tle=Old|\xFFTITLE=x|+"}},
        {"the vendor is kept byte for byte, valid UTF-8 or not", {"S", "C:\xFF\xFEv"}, {"S", "C:\xFF\xFEv|+"}},
        {"a count larger than the comments present reads those and stops",
         {"S", "C1000:v|A=1|ARTIST=Old"}, {"S", "C:v|A=1|+"}},
        {"a vendor length that doesn't fit leaves the default vendor", {"S", "R:\xFF\0\0\0v"s}, {"S", "C:Tarvik|+"}},
        {"a second comment block stays after the new one, without the replaced keys",
         {"S", "C:v", "C:other|TITLE=Second|MOOD=calm|artist=2"}, {"S", "C:v|+", "C:other|MOOD=calm"}},
        {"a file holding only a comment block", {"C:v|TITLE=Old"}, {"C:v|+"}}};
    // clang-format on
    for (const auto& [name, in, out] : cases) {
        EXPECT_EQ(FLACComments::rewrite(flac(in), meta, "a.flac"), flac(out)) << name;
    }
}

TEST(FLACComments, DamagedFilesAreRefused) {
    const Bytes good = flac({"S"});
    Bytes noLastBlock = good;
    noLastBlock[4] = 0;  // the walk runs into the audio frames and past the end
    const std::string damaged = "FLAC のメタデータが壊れています";
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {hex("664C6143 80000000"), "FLAC ではありません: a.flac"},
        {bytes("ID3 and then more bytes"), "FLAC ではありません: a.flac"},
        {Bytes(good.begin(), good.begin() + 20), damaged},
        {noLastBlock, damaged},
        // A comment block's length field too short, as other taggers leave
        // them: the walk ends inside the old comments, which must not pass
        // for audio frames.
        {flac({"S"}, bytes("ARTIST=Old")), damaged},
        {flac({"S"}, {0xFF}), damaged}};
    for (const auto& [file, message] : cases) {
        EXPECT_EQ(thrown<ConversionError>([&] { FLACComments::rewrite(file, meta, "a.flac"); }),
                  message);
    }
}

// A block length is 24 bits: a comment block of exactly 16 MiB would be
// written with the length 0, and every block after it lost to readers.
TEST(FLACComments, CommentBlockThatNoLengthFieldHoldsIsRefused) {
    constexpr std::size_t limit = std::size_t{1} << 24;
    // Vendor "v" (4 + 1), the count (4), one comment's length (4), "TITLE=".
    constexpr std::size_t around = 4 + 1 + 4 + 4 + 6;
    for (const std::size_t body : {limit - 1, limit}) {
        SCOPED_TRACE(body);
        TrackMeta long_;
        long_.title = std::string(body - around, 'x');
        const Bytes file = flac({"S", "C:v"});
        if (body < limit) {
            const Bytes out = FLACComments::rewrite(file, long_, "a.flac");
            EXPECT_EQ(Bytes(out.begin() + 42, out.begin() + 46), (Bytes{0x84, 0xFF, 0xFF, 0xFF}));
            EXPECT_EQ(out.size(), 4 + 38 + 4 + body + 6);
        } else {
            EXPECT_EQ(
                thrown<ConversionError>([&] { FLACComments::rewrite(file, long_, "a.flac"); }),
                "タグが FLAC のコメント ブロックの上限（16 MiB）を超えるため、書き換えません: "
                "a.flac");
        }
    }
}

// A large file reading as zeros past a given head, counting what is read.
class ZerosAfter final : public ByteSource {
public:
    explicit ZerosAfter(Bytes head) : head_(std::move(head)) {}
    std::uint64_t size() const override { return std::uint64_t{2} << 30; }
    Bytes read(std::uint64_t offset, std::size_t length) override {
        read_ += length;
        Bytes out(length, 0);
        for (std::size_t i = 0; i < length && offset + i < head_.size(); ++i)
            out[i] = head_[offset + i];
        return out;
    }
    std::uint64_t bytesRead() const { return read_; }

private:
    Bytes head_;
    std::uint64_t read_ = 0;
};

// 2 GiB that are not FLAC, or whose metadata is lost in zeros, are refused
// after their head, not after a walk through all of it.
TEST(FLACComments, FileThatIsNotFLACIsRefusedAfterItsHead) {
    for (const Bytes& head : {Bytes{}, bytes("fLaC"), flac({"S"}, {})}) {
        ZerosAfter file(head);
        MemorySink out;
        EXPECT_THROW(FLACComments::rewrite(file, meta, "a.flac", out), ConversionError);
        EXPECT_LT(file.bytesRead(), 100u);
        EXPECT_TRUE(out.bytes().empty());
    }
}

// Read back by the reference tools: the same audio, every other block and
// comment kept.
TEST(FLACComments, RealFileStaysValidWithTheSameAudio) {
    TempDir temp;
    const auto source = temp / "in.flac";
    testing::makeTone(source, {.metadata = {{"TITLE", "Old"}, {"GENRE", "Pop"}, {"MOOD", "calm"}}});
    testing::makePicture(temp / "cover.jpg", 16, 16);
    testing::outputOf(
        {"metaflac", "--import-picture-from=" + (temp / "cover.jpg").string(), source.string()});
    const Bytes before = readWholeFile(source);

    TagEditor::writeFLAC(source, meta, temp / "out.flac");

    EXPECT_EQ(readWholeFile(source), before);
    const auto metaflac = [](const std::string& option, const fs::path& file) {
        return testing::outputOf({"metaflac", option, file.string()});
    };
    testing::outputOf({"flac", "-s", "-t", (temp / "out.flac").string()});
    EXPECT_EQ(metaflac("--show-md5sum", temp / "out.flac"), metaflac("--show-md5sum", source));
    // What the source had, less the replaced keys, then the new comments.
    std::string expected;
    std::istringstream sourceTags(metaflac("--export-tags-to=-", source));
    for (std::string line; std::getline(sourceTags, line);) {
        if (!line.starts_with("TITLE=") && !line.starts_with("GENRE=")) expected += line + "\n";
    }
    expected += "TITLE=New\nARTIST=Artist\nALBUM=Album\nTRACKNUMBER=3\nDATE=2019-04-01\n";
    EXPECT_EQ(metaflac("--export-tags-to=-", temp / "out.flac"), expected);
    EXPECT_NE(metaflac("--list", temp / "out.flac").find("type: 6 (PICTURE)"), std::string::npos);
}

}  // namespace
}  // namespace tarvik
