#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TagFields {
namespace {

// The old values given back with what a snapshot knew (as undo does) give
// the old file byte for byte: a tag that had to grow shrinks again. An MP3
// without an ID3v2 tag gets one and loses it again. (The library tidy's tests take ID3v2.3 files
// this way too.)
TEST(TagFields, ChangesOnlyTheNamedFieldsAndTheOldValuesGiveTheOldFile) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> formats = {
        {"mp3", {"-write_id3v1", "1"}},
        {"flac", {}},
        {"m4a", {}},
        {"mp3", {"-id3v2_version", "0", "-write_id3v1", "1"}}};
    const std::string xy("X\0Y", 3);
    for (const auto& [extension, arguments] : formats) {
        SCOPED_TRACE(extension + " " + (arguments.empty() ? "" : arguments[0] + arguments[1]));
        TempDir dir;
        const auto file = [&](std::string_view name) {
            return dir / (std::string(name) + "." + extension);
        };
        testing::makeTone(file("song"), {.seconds = 0.2,
                                         .metadata = {{"title", "Song"},
                                                      {"artist", "A Band"},
                                                      {"track", "3/12"},
                                                      {"genre", "Rock"}},
                                         .extraArguments = arguments});
        const std::string original = readFile(file("song"));
        const Values before = read(file("song"));
        const Snapshot snapshot = TagFields::snapshot(file("song"));
        const bool bare = arguments.size() == 4;  // no ID3v2 tag
        EXPECT_EQ(before.at(Field::title), bare ? std::nullopt : std::optional("Song"));
        EXPECT_EQ(before.at(Field::albumArtist), std::nullopt);

        patch(file("song"), {{Field::title, "New"}, {Field::track, "4"}, {Field::albumArtist, xy}},
              dir / "out");
        fs::rename(dir / "out", file("out"));
        Values changed = before;
        changed[Field::title] = "New";
        changed[Field::track] = bare ? "4" : "4/12";  // the total stays
        changed[Field::albumArtist] = xy;
        EXPECT_EQ(read(file("out")), changed);

        patch(file("out"),
              {{Field::title, before.at(Field::title)},
               {Field::track, before.at(Field::track)},
               {Field::albumArtist, std::nullopt}},
              file("back"), {original.size(), {}, !snapshot.hasTag, snapshot.trailer});
        EXPECT_EQ(read(file("back")), before);
        EXPECT_TRUE(extension == "m4a" || readFile(file("back")) == original)
            << "not byte for byte";
        patch(file("song"), {{Field::genre, std::nullopt}}, file("bare"));
        changed = before;
        changed[Field::genre] = std::nullopt;
        EXPECT_EQ(read(file("bare")), changed);
    }
}

// A size asked for that the tag's header can't say: refused by the song's
// name, the destination untouched.
TEST(TagFields, TagPastTheFormatsLimitIsRefusedNamingTheSong) {
    TempDir dir;
    testing::makeTone(dir / "song.mp3", {.seconds = 0.1, .metadata = {{"title", "Song"}}});
    EXPECT_EQ(thrown<ConversionError>([&] {
                  patch(dir / "song.mp3", {{Field::title, "New"}}, dir / "out.mp3",
                        {std::uint64_t{1} << 29});
              }),
              "タグが ID3 タグの上限（256 MiB）を超えるため、書き換えません: song.mp3");
    EXPECT_FALSE(fs::exists(dir / "out.mp3"));
}

// Every refusal names the song, and says what is true of it: an M4A whose
// tags read whole but that holds no audio, or whose sample table points
// outside it, is no damaged tag.
TEST(TagFields, RefusalsSayWhatIsTrueAndNameTheSong) {
    TempDir dir;
    testing::makeTone(dir / "tone.m4a", {.seconds = 0.2, .metadata = {{"title", "Song"}}});
    const std::string m4a = readFile(dir / "tone.m4a");
    const auto changed = [&](std::string file, std::string_view from, std::string_view to) {
        file.replace(file.find(from), to.size(), to);
        return file;
    };
    std::string outside = m4a;
    testing::m4a::put(outside, testing::m4a::atom(outside, "stco") + 16, outside.size() + 100);
    std::string pastParent = m4a;
    testing::m4a::put(pastParent, testing::m4a::atom(pastParent, "mvhd"), 0x7FFFFFF0);
    // A title frame that claims more than the tag holds.
    const std::string pastTag("ID3\x03\0\0\0\0\0\x14TIT2\0\0\0\x40\0\0\0Song\0\0\0\0\0\0", 30);
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"song.m4a", changed(m4a, "mdat", "free"), "音声がありません: song.m4a"},
        {"song.m4a", outside, "音声の位置が音声データの外を指しています: song.m4a"},
        {"song.m4a", pastParent, "タグが壊れています: song.m4a"},
        {"song.mp3", pastTag, "ID3 タグが壊れています: song.mp3"},
        {"song.mp3", std::string("ID3\x02\0\0\0\0\0\0", 10), "ID3v2.2 は扱えません: song.mp3"},
        {"song.flac", std::string("fLaC\x80\0\0\x40xyz", 11),
         "FLAC のメタデータが壊れています: song.flac"},
    };
    for (const auto& [name, bytes, message] : cases) {
        writeFile(dir / name, bytes);
        EXPECT_EQ(thrown<ConversionError>([&] { read(dir / name); }), message);
        EXPECT_EQ(thrown<ConversionError>([&] { snapshot(dir / name); }), message);
        EXPECT_EQ(thrown<ConversionError>([&] {
                      patch(dir / name, {{Field::title, "New"}}, dir / "out");
                  }),
                  message);
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

Bytes frame(std::string_view id, Bytes body) {
    return id3::frame(id, body, ID3Writer::Version::v2_3);
}

Bytes id3With(const std::vector<Bytes>& frames) {
    return concat({id3v2::tag(3, 0, frames, 0), {0xFF, 0xFB, 0x90, 0x00}});
}

// Text that is not valid in its encoding stays raw; a compressed frame is no
// plain text: refused rather than misread. A replaced frame keeps its
// encoding and place; Latin-1 can't hold the new artist: it takes the
// writer's own encoding.
TEST(TagFields, ID3TextIsReadInEveryEncodingAndReplacedInPlace) {
    const Values values = readID3(id3With({
        frame("TIT2", {0, 'C', 'a', 'f', 0xE9, 0}),                        // Latin-1, terminated
        frame("TPE1", {1, 0xFE, 0xFF, 0, 'A', 0, 0, 0xFE, 0xFF, 0, 'B'}),  // two UTF-16 strings
        frame("TALB", {2, 0, 'N'}),                                        // UTF-16BE
        frame("TCON", {1, 0xFF, 0xFE, 0x00, 0xD8}),                        // a lone surrogate
    }));
    EXPECT_EQ(values.at(Field::title), "Caf\u00E9");
    EXPECT_EQ(values.at(Field::artist), std::string("A\0B", 3));
    EXPECT_EQ(values.at(Field::album), "N");
    EXPECT_FALSE(text::isValidUTF8(values.at(Field::genre).value()));
    Bytes compressed = frame("TIT2", {0, 'x'});
    compressed[9] = 0x80;
    EXPECT_THROW(readID3(id3With({compressed})), ConversionError);
    const Bytes file = id3With(
        {frame("TIT2", {0, 'a', 0}), frame("TXXX", {0, 'k', 0, 'v'}), frame("TPE1", {0, 'b'})});
    const Bytes patched = patchID3(file, {{Field::title, "Z"}, {Field::artist, "\u6B4C"}});
    EXPECT_EQ(id3v2::parse(patched).frames,
              (std::vector<Bytes>{frame("TIT2", {0, 'Z', 0}), frame("TXXX", {0, 'k', 0, 'v'}),
                                  ID3Writer{}.textFrame("TPE1", "\u6B4C")}));
    EXPECT_EQ(patchID3(patchID3(file, {{Field::title, "Z"}}), {{Field::title, "a"}}), file);
    // Raw text goes back raw (as an undo writes it), also where its frame was
    // removed, and no old total is added to it.
    const Bytes raw = id3With({frame("TCON", {1, 0xFF, 0xFE, 0x00, 0xD8}), frame("TRCK", {7, '3'}),
                               frame("TALB", {3, 'O', 'l', 'd', 0xFE})});
    const Values old = readID3(raw);
    const Bytes changed = patchID3(
        raw, {{Field::genre, "Rock"}, {Field::track, "4/9"}, {Field::album, std::nullopt}});
    EXPECT_EQ(patchID3(changed,
                       {{Field::genre, old.at(Field::genre)},
                        {Field::track, old.at(Field::track)},
                        {Field::album, old.at(Field::album)}},
                       {raw.size()}),
              raw);
    EXPECT_EQ(withTotal("4/10", "3/12"), "4/10");  // the round trip keeps an old total
}

// A value read takes a form of its own for every frame its text does not
// give back; text that does keeps its form. Written back over a new value,
// as an undo does, each gives its frame byte for byte, flags included (also
// where the new value took the writer's own form).
TEST(TagFields, EveryID3ValueReadGoesBackAsTheFrameItWasReadFrom) {
    // Nothing for a value that is the marker and the body.
    const std::vector<std::tuple<std::string, Bytes, std::optional<std::string>>> cases = {
        {"Latin-1, terminated", {0, 'C', 'a', 'f', 0xE9, 0}, "Caf\u00E9"},
        {"0xFF alone in Latin-1", {0, 0xFF}, "\u00FF"},
        {"two terminators", {0, 'a', 0, 0}, "a"},
        {"UTF-16 as the writer writes it", {1, 0xFF, 0xFE, 'A', 0, 0, 0}, "A"},
        {"a big-endian byte order mark", {1, 0xFE, 0xFF, 0, 'A', 0, 0}, "A"},
        {"a byte order mark in UTF-16BE", {2, 0xFF, 0xFE, 'N', 0}, "N"},
        {"no byte order mark", {1, 'A', 0, 0, 0, 'B', 0}, std::string("A\0B", 3)},
        {"text not UTF-8 in a UTF-8 frame", {3, 'O', 'l', 'd', 0xFE}, "Old\xFE"},
        {"text not UTF-8 from 0xFF in a UTF-8 frame", {3, 0xFF, 0, 0xFF, 0xFF}, std::nullopt},
        {"an unknown encoding", {7, 'a'}, std::nullopt},
        {"strings with other byte order marks",
         {1, 0xFE, 0xFF, 0, 'A', 0, 0, 0xFF, 0xFE, 'B', 0},
         std::nullopt},
        {"a lone surrogate", {1, 0xFF, 0xFE, 0x00, 0xD8}, std::nullopt},
        {"an empty body", {}, std::nullopt},
    };
    for (const auto& [what, body, text] : cases) {
        SCOPED_TRACE(what);
        const std::string value = text.value_or("\xFF" + std::string(body.begin(), body.end()));
        for (std::uint8_t flags : {0x00, 0x40}) {
            Bytes title = frame("TIT2", body);
            title[8] = flags;
            const Bytes file = id3With({title, frame("TPE1", {0, 'b'})});
            EXPECT_EQ(readID3(file).at(Field::title), value);
            const Bytes changed = patchID3(file, {{Field::title, "Z"}});
            EXPECT_EQ(patchID3(changed, {{Field::title, value}}, {file.size()}), file);
        }
    }
}

// A field in several frames (some taggers write a list so) loses its later
// ones to a new value; the snapshot's kept frames bring them all back where
// they stood, and a damaged one is refused rather than written.
TEST(TagFields, EveryID3FrameOfAFieldGoesBackWhereItStood) {
    for (const int major : {3, 4}) {
        SCOPED_TRACE(major);
        Bytes file =
            id3With({frame("TPE1", {0, 'a'}), frame("TIT2", {0, 't'}), frame("TPE1", {0, 'b'}),
                     frame("TALB", {0, 'x'}), frame("TPE1", {1, 0xFF, 0xFE, 'c', 0})});
        file[3] = static_cast<std::uint8_t>(major);
        const Snapshot before = snapshotID3(file);
        ASSERT_EQ(before.places.at(Field::artist).frames.size(), 3u);
        const Bytes changed = patchID3(file, {{Field::artist, "Z"}, {Field::title, "T"}});
        EXPECT_EQ(readID3(changed).at(Field::artist), "Z");
        const Values old = {{Field::artist, before.values.at(Field::artist)},
                            {Field::title, before.values.at(Field::title)}};
        EXPECT_EQ(patchID3(changed, old, {file.size(), before.places}), file);

        Bytes misSized = frame("TPE1", {0, 'b'});
        misSized[7] = 5;
        for (const Bytes& damaged :
             {frame("TIT2", {0, 'b'}), misSized, Bytes{'T', 'P', 'E', '1', 0, 0, 0, 0}}) {
            FramePlaces places = before.places;
            places.at(Field::artist).frames[1].raw = damaged;
            EXPECT_THROW(patchID3(changed, old, {file.size(), places}), ConversionError);
        }
    }
}

}  // namespace
}  // namespace tarvik::TagFields
