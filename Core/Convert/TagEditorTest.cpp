#include <gmock/gmock.h>

#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Testing/FileSizeLimit.hpp"

namespace tarvik {
namespace {

using nlohmann::json;

using id3v2::parse;
using id3v2::tag;
using id3v2::textFrame;
using namespace std::string_view_literals;

const TrackMeta meta("New Title", "Artist", "Album Artist", "Album", "3", "1", "2019-04-01",
                     "Rock");
const Bytes audio = concat({{0xFF, 0xFB, 0x90, 0x64}, Bytes(600, 0x55)});

// A version 2.4 tag keeps its version, loses its footer and keeps its other
// frames raw, flags and all, in order after the new ones. Padding of zeros
// alone, however long, is still padding. The ID3v1 trailer is rebuilt only
// when there was one: 128 bytes from "TAG" at the end.
TEST(TagEditor, OtherFramesStayRawAndInOrderAfterTheNewOnes) {
    Bytes privateFrame = textFrame("PRIV", "owner\0data"sv, 4);
    privateFrame[8] = 0x40;
    const std::vector<Bytes> old = {textFrame("COMM", "eng\0note"sv, 4),
                                    textFrame("TIT2", "Old", 4),
                                    textFrame("APIC", "image/jpeg\0\x03\0jpeg"sv, 4),
                                    textFrame("TDRC", "1999", 4),
                                    privateFrame,
                                    textFrame("TYER", "1999", 4)};
    const Bytes header = tag(4, 0x10, old, 4000);
    const Bytes footer = concat({bytes("3DI"), Bytes(header.begin() + 3, header.begin() + 10)});
    const Bytes out = TagEditor::rewriteID3(concat({header, footer, audio}), meta);
    const auto parsed = parse(out);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), concat({bytes("ID3"), {4, 0, 0}}));
    EXPECT_EQ(parsed.frames[0],
              concat({bytes("TIT2"), hex("0000000B 0000 03"), bytes("New Title"), {0}}));
    EXPECT_EQ(parsed.ids, (std::vector<std::string>{"TIT2", "TPE1", "TRCK", "TALB", "TPE2", "TPOS",
                                                    "TDRC", "TCON", "COMM", "APIC", "PRIV"}));
    EXPECT_EQ(std::vector(parsed.frames.end() - 3, parsed.frames.end()),
              (std::vector{old[0], old[2], old[4]}));
    EXPECT_EQ(parsed.rest, audio);

    TrackMeta japanese = meta;
    japanese.title = "\u65E5\u672C\u8A9E";
    const Bytes oldTrailer = ID3Writer{.writeV1 = true}.encodeV1({.title = "Old", .genre = "Pop"});
    const Bytes newTrailer = ID3Writer{.writeV1 = true}.encodeV1(
        {"???", "Artist", "Album", "", "3", "", "2019", "Rock"});
    const Bytes shortAudio = concat({bytes("TAG"), Bytes(100, 0x55)});
    for (const auto& [file, tail] : std::vector<std::pair<Bytes, Bytes>>{
             {concat({tag(3, 0, {}), audio, oldTrailer}), concat({audio, newTrailer})},
             {concat({tag(3, 0, {}), shortAudio}), shortAudio}}) {
        EXPECT_EQ(parse(TagEditor::rewriteID3(file, japanese)).rest, tail);
    }
}

// The format goes by the extension, in any case.
TEST(TagEditor, DamagedOrUnsupportedTagsAreRefusedAndNothingIsWritten) {
    const Bytes good = textFrame("TXXX", "x");
    Bytes pastTag = tag(3, 0, {good, textFrame("APIC", "picture")}, 0);
    pastTag[9] -= 3;  // the tag ends inside the picture
    // Version 2.4 frame sizes written as plain numbers, as one known writer
    // does: the picture's size 200 (0xC8) reads as the syncsafe 72, so the
    // walk lands inside the picture, on a zero byte. Refused, not cut.
    Bytes picture = concat({{0x00}, bytes("image/jpeg"), {0x00, 0x03, 0x00}});
    picture.resize(200, 0x00);
    picture[150] = 0xD9;
    const Bytes plainSizes =
        tag(4, 0,
            {textFrame("TIT2", "Old", 4), concat({bytes("APIC"), hex("000000C8 0000"), picture}),
             textFrame("USLT", "lyrics", 4), textFrame("COMM", "c", 4)});
    const std::string broken = "ID3 タグが壊れています";
    const std::vector<std::tuple<std::string, Bytes, std::string>> cases = {
        {"a.FLAC", bytes("not audio"), "FLAC ではありません: a.FLAC"},
        {"song.mp4", bytes("not audio"), "この形式のタグは書き換えられません: song.mp4"},
        {"a.m4a", bytes("not audio"), "M4A ではありません: a.m4a"},
        {"in.Mp3", tag(2, 0, {}), "ID3v2.2 は扱えません"},
        {"in.mp3", tag(5, 0, {}), "ID3v2.5 は扱えません"},
        {"in.mp3", tag(3, 0x80, {}), "非同期化された ID3 タグは扱えません"},
        {"in.mp3", concat({pastTag, audio}), broken},
        {"in.mp3", Bytes(pastTag.begin(), pastTag.end() - 20), broken},  // runs past the data
        {"in.mp3", concat({tag(3, 0, {good, bytes("PRI")}, 0), audio}), broken},
        // A long extended header.
        {"in.mp3", concat({tag(3, 0x40, {{0, 0, 1, 0}, good}), audio}), broken},
        {"in.mp3", concat({plainSizes, audio}), broken},
        // Held in memory: refused beyond a bound.
        {"in.mp3", concat({bytes("ID3"), {3, 0, 0}, hex("0A000000"), audio}),
         "ID3 タグが大きすぎます"}};
    TempDir temp;
    writeFile(temp / "out", "earlier");
    for (const auto& [name, file, message] : cases) {
        writeFile(temp / name, std::string(file.begin(), file.end()));
        EXPECT_EQ(
            thrown<ConversionError>([&] { TagEditor::write(temp / name, meta, temp / "out"); }),
            message);
        EXPECT_EQ(readFile(temp / "out"), "earlier") << message;
    }
    // One kept frame that leaves too little room for the padding.
    const Bytes huge =
        id3::frame("PRIV", Bytes(ID3Writer::tagSizeLimit - 1024 - 10, 1), ID3Writer::Version::v2_3);
    EXPECT_THROW(TagEditor::rewriteID3(tag(3, 0, {huge}, 0), TrackMeta()), ConversionError);
}

// `flac` with its comment block holding one comment that fills the 24-bit
// block length but for a few bytes (more than the tools write, but sound).
std::string withFullComments(const std::string& flac) {
    const std::size_t limit = (std::size_t{1} << 24) - 1;
    std::string out = flac.substr(0, 4);
    for (std::size_t at = 4;;) {
        const auto type = static_cast<std::uint8_t>(flac.at(at));
        const std::size_t length = testing::m4a::get32(flac, at) & limit;
        std::string block = flac.substr(at, 4 + length);
        if ((type & 0x7F) == 4) {
            const std::string comment = "NOTE=" + std::string(limit - 20 - 18, 'n');
            std::string body = std::string("\1\0\0\0v\1\0\0\0", 9);
            for (int shift = 0; shift < 32; shift += 8) body += char(comment.size() >> shift);
            body += comment;
            block = std::string(1, char(type)) + std::string(3, '\0') + body;
            testing::m4a::put(block, 0, std::uint32_t{type} << 24 | body.size());
        }
        out += block;
        at += 4 + length;
        if ((type & 0x80) != 0) return out + flac.substr(at);
    }
}

// Sound files of forms the editors do not rewrite are refused in words
// that say so and name the file, for reading too where the form is one
// they can't read; a truly damaged file still says it is damaged (above).
TEST(TagEditor, SoundFilesOfFormsNotRewrittenAreRefusedNamingThem) {
    TempDir temp;
    testing::makeTone(temp / "tone.flac", {.seconds = 0.2});
    writeFile(temp / "big.flac", withFullComments(readFile(temp / "tone.flac")));
    const Bytes id3 = id3v2::tag(3, 0, {id3v2::textFrame("TIT2", "Old")});
    writeFile(temp / "tagged.flac",
              std::string(id3.begin(), id3.end()) + readFile(temp / "tone.flac"));
    const std::string good = testing::m4a::taggedFile(temp.path());
    writeFile(temp / "padded.m4a",
              testing::m4a::withItem(good, testing::m4a::box("free", std::string(8, '\0'))));
    // The user data's meta without its version and flags, as QuickTime writes it.
    std::string quickTime = good;
    const std::size_t moov = testing::m4a::atom(good, "moov"),
                      udta = testing::m4a::atom(good, "udta", moov),
                      userMeta = testing::m4a::atom(good, "meta", udta);
    quickTime.erase(userMeta + 8, 4);
    for (const std::size_t at : {moov, udta, userMeta}) {
        testing::m4a::put(quickTime, at, testing::m4a::get32(good, at) - 4);
    }
    writeFile(temp / "quicktime.m4a", quickTime);

    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"big.flac", "タグが FLAC のコメント ブロックの上限（16 MiB）を超えるため、書き換えません",
         false},
        {"tagged.flac", "先頭に ID3 タグが付いた FLAC は扱えません", true},
        {"padded.m4a", "タグの項目の間に空き領域（free）がある M4A は扱えません", true},
        {"quicktime.m4a", "QuickTime 形式の meta アトムを持つ M4A は扱えません", true}};
    const std::string longTitle(200, 't');
    for (const auto& [name, refusal, unreadable] : cases) {
        SCOPED_TRACE(name);
        const fs::path file = temp / name, out = temp / ("out" + file.extension().string());
        const Bytes before = readWholeFile(file);
        const std::string message = refusal + ": " + name;
        writeFile(out, "earlier");
        EXPECT_EQ(thrown<ConversionError>([&] { TagEditor::write(file, meta, out); }), message);
        EXPECT_EQ(thrown<ConversionError>([&] {
                      TagFields::patch(file, {{TagFields::Field::title, longTitle}}, out);
                  }),
                  message);
        if (unreadable) {
            EXPECT_EQ(thrown<ConversionError>([&] { TagFields::read(file); }), message);
        }
        EXPECT_TRUE(readWholeFile(file) == before);
        EXPECT_TRUE(readFile(out) == "earlier");
    }
    EXPECT_EQ(testing::filesBelow(temp.path()).size(), cases.size() + 3);  // no temporary left
}

// A write that fails part-way (a full disk) leaves the destination as it
// was and no temporary file beside it.
TEST(TagEditor, FailedWriteLeavesTheDestinationAsItWas) {
    for (const std::string extension : {"mp3", "flac", "m4a"}) {
        TempDir temp;
        const fs::path source = temp / ("in." + extension), out = temp / ("out." + extension);
        testing::makeTone(source, {.seconds = 1});
        writeFile(out, "earlier");
        {
            testing::FileSizeLimit limit(4096);
            if (!limit.active()) GTEST_SKIP() << "the file size limit can't be lowered";
            EXPECT_THAT(thrown<ConversionError>([&] { TagEditor::write(source, meta, out); }),
                        ::testing::StartsWith("書き込めません: out." + extension + "（"));
        }
        EXPECT_EQ(readFile(out), "earlier");
        EXPECT_EQ(testing::filesBelow(temp.path()).size(), 2u);
    }
}

// A tagger's file read back by mutagen: the comment, picture and private
// frames kept (raw, as the frames above), the source untouched.
TEST(TagEditor, TaggersFileKeepsCommentPictureAndPrivateFrames) {
    TempDir temp;
    const auto source = temp / "in.mp3";
    testing::makeTone(source, {.seconds = 0.5,
                               .extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0",
                                                  "-write_id3v1", "0"}});
    testing::runScript("id3_add_frames.py", {source.string()});
    const Bytes before = readWholeFile(source);

    TagEditor::writeID3(source, meta, temp / "out.mp3");

    EXPECT_EQ(readWholeFile(source), before);
    const json read = testing::mutagen(temp / "out.mp3");
    const json expected =
        json::parse(R"({"title": "New Title", "artist": "Artist", "albumArtist": "Album Artist",
        "album": "Album", "track": "3", "disc": "1", "year": "2019", "genre": "Rock", "comment": "コメント",
        "private": "tarvik.test", "version": "2.3"})");
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(read[key], value) << key;
    EXPECT_EQ(read["picture"]["size"], 2 + 256 * 8 + 2);
}

// Through TagLib: the M4A's cover atom stays, and every atom
// the record does not name (freeform items, tempo, sort orders, totals, which
// ffmpeg used to drop) stays as it was; an empty value removes its item.
TEST(TagEditor, M4AKeepsItsCoverAndEveryAtomItDoesNotChange) {
    TempDir temp;
    testing::makeTone(temp / "tone.m4a", {});
    testing::makePicture(temp / "cover.jpg", 32, 32);
    const auto source = temp / "in.m4a";
    testing::outputOf({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                       (temp / "tone.m4a").string(), "-i", (temp / "cover.jpg").string(), "-map",
                       "0", "-map", "1", "-c", "copy", "-disposition:v:0", "attached_pic",
                       "-metadata", "composer=Someone", source.string()});
    testing::runScript("mp4_atoms.py", {"add", source.string()});
    const std::string before = readFile(source);
    writeFile(temp / "out.m4a", "earlier");
    TrackMeta noGenre = meta;
    noGenre.genre = "";

    TagEditor::writeM4A(source, noGenre, temp / "out.m4a");

    EXPECT_EQ(readFile(source), before);
    const auto atoms = [](const fs::path& file) {
        return json::parse(testing::runScript("mp4_atoms.py", {"dump", file.string()}));
    };
    json expected = atoms(source);
    ASSERT_TRUE(expected.contains("\u00A9wrt") && expected.contains("covr")) << expected;
    // Changed: the title, artist, album artist, album, date, track and disc
    // numbers (their totals kept).
    expected.update(
        json::parse(R"({"©nam": "['New Title']", "©ART": "['Artist']", "aART": "['Album Artist']",
        "©alb": "['Album']", "©day": "['2019-04-01']", "trkn": "[(3, 12)]", "disk": "[(1, 2)]"})"));
    expected.erase("\u00A9gen");
    EXPECT_EQ(atoms(temp / "out.m4a"), expected);
    testing::outputOf({"ffmpeg", "-nostdin", "-v", "error", "-i", (temp / "out.m4a").string(), "-f",
                       "null", "-"});
    EXPECT_EQ(testing::filesBelow(temp.path()).size(), 4u);  // no temporary file left
}

}  // namespace
}  // namespace tarvik
